#pragma once
// Zip archives made in memory for tests of the readers of session files
// (sigrok's .sr, DSView's .dsl), as their formats describe them.

#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// A zip archive in memory holding the named members.
inline std::vector<uint8_t> zipOf(const std::vector<std::pair<std::string, std::string>>& members) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    zip_source_keep(buffer);
    for (const auto& [name, bytes] : members) {
        // libzip frees a copy it was given, but takes no buffer for an empty member.
        char* copy = bytes.empty() ? nullptr : static_cast<char*>(malloc(bytes.size()));
        if (copy) std::copy(bytes.begin(), bytes.end(), copy);
        zip_source_t* member = zip_source_buffer(archive, copy, bytes.size(), copy ? 1 : 0);
        zip_file_add(archive, name.c_str(), member, ZIP_FL_ENC_UTF_8);
    }
    zip_close(archive);
    zip_source_open(buffer);
    zip_source_seek(buffer, 0, SEEK_END);
    const zip_int64_t size = zip_source_tell(buffer);
    zip_source_seek(buffer, 0, SEEK_SET);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
    zip_source_read(buffer, bytes.data(), bytes.size());
    zip_source_close(buffer);
    zip_source_free(buffer);
    zip_error_fini(&error);
    return bytes;
}

}  // namespace testing_support
