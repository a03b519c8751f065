#pragma once
// The ".osa" test file: version 220, the signature "Tarsel电" in GBK, 1, the
// sampling period, whether the currents were calibrated, eight 20-byte
// channel headers (count, maximum, minimum, sum) and then each channel's
// samples, channel 0 first; little-endian, no padding.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/file_save.h"
#include "recorder/byte_source.h"
#include "recorder/sample_document.h"

namespace recorder {

inline constexpr uint32_t kOsaVersion = 220;
inline constexpr std::array<uint8_t, 8> kOsaSignature = {0x54, 0x61, 0x72, 0x73,
                                                         0x65, 0x6C, 0xB5, 0xE7};
inline constexpr std::size_t kOsaHeaderSize = 186;
inline constexpr std::string_view kOsaExtension = ".osa";
inline constexpr std::string_view kOutOfMemory = "内存不足!";

struct OsaHeader {
    uint32_t version = kOsaVersion;
    std::array<uint8_t, 8> signature = kOsaSignature;
    uint32_t third = 1;
    double period = kSamplingPeriodSeconds;
    uint16_t currentCalibrated = 1;
    std::array<uint32_t, kChannelCount> counts{};
    std::array<plot::SeriesExtremes, kChannelCount> extremes{};
    std::array<double, kChannelCount> sums{};
};

struct OsaLoad {
    std::unique_ptr<SampleDocument> document;  // nothing when the file was refused
    OsaHeader header;                          // as stored, before the channel 3 clamp
    std::string message;                       // why it was refused (empty: cancelled)
    bool cancelled = false;
    std::chrono::nanoseconds summaryTime{0};  // spent on the channels' min/max summaries
};

// How far a load is (samples read of all samples), asked after each block;
// returning false cancels the load.
using OsaLoadProgress = std::function<bool(uint64_t samplesRead, uint64_t samples)>;

// Reads a whole file into a new document; the open document is never touched.
// The version and signature are not used to refuse a file. Counts the file
// cannot hold, a period that is not a positive number and a short file are
// refused before anything is allocated.
// The summaries the view draws from are built here, by the loader's thread.
OsaLoad loadOsa(const std::filesystem::path& path, const OsaLoadProgress& progress = {});
OsaLoad loadOsa(ByteSource& source, const std::string& name, const OsaLoadProgress& progress = {});

// Writes the document through the suite's save helper; on success clears
// `modified` and takes the display name from the file name.
common::FileResult saveOsa(SampleDocument& document, const std::filesystem::path& path,
                           const common::SaveControl& control = {});
// Writes the document, leaving its state alone (a copy, not its file).
common::FileResult writeOsa(const SampleDocument& document, const std::filesystem::path& path,
                            const common::SaveControl& control = {});
// After saveOsa failed with `failure`: the document into the fallback folder,
// still unsaved, and the message that says where it is.
common::FallbackSave saveOsaToFallback(const SampleDocument& document, const std::string& failure);

}  // namespace recorder
