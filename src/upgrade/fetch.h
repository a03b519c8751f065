#pragma once
// A download as the upgrade flows ask for it, without saying how it travels:
// the programs fetch over HTTP(S) through Qt, tests may fetch from anywhere.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace upgrade {

struct FetchRequest {
    std::string url;
    std::size_t mostBytes = 0;  // more is stopped and refused
    // Empty: the bytes come back in memory. Otherwise they go to
    // `resumeFile` + ".part", which an interrupted download leaves behind and
    // the next request for the same URL continues.
    std::string resumeFile;
    // A reply ends by this time whatever trickles in (0: no deadline).
    std::chrono::milliseconds replyDeadline{30000};
    // Bytes must come at `leastRate` a second on average over each `rateWindow` (0: no floor).
    std::size_t leastRate = 1024;
    std::chrono::milliseconds rateWindow{30000};
};

// A program or a firmware image may take long on a slow line: it is held to the
// least rate rather than to a deadline.
inline FetchRequest fileRequest(std::string url, std::size_t mostBytes,
                                std::string resumeFile = {}) {
    FetchRequest request{std::move(url), mostBytes, std::move(resumeFile)};
    request.replyDeadline = std::chrono::milliseconds(0);
    return request;
}

struct FetchResult {
    bool ok = false;
    bool cancelled = false;
    std::vector<uint8_t> bytes;  // memory downloads
    std::string file;            // file downloads: the complete ".part" file
    std::string error;           // why not, in the user's words
};

// Bytes received so far, and the whole size when the server said it (else -1).
using FetchProgress = std::function<void(uint64_t received, int64_t total)>;
using Fetcher = std::function<FetchResult(const FetchRequest&, const FetchProgress&)>;

// The name of the unfinished download of `resumeFile`, and of the note of its URL.
inline std::string partialFileOf(const std::string& resumeFile) {
    return resumeFile + ".part";
}
inline std::string partialSourceOf(const std::string& resumeFile) {
    return resumeFile + ".part.url";
}

}  // namespace upgrade
