#include "recorder/byte_source.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace recorder {

std::size_t MemorySource::read(void* into, std::size_t size) {
    const std::size_t taken = std::min(size, size_ - at_);
    if (taken > 0) std::memcpy(into, data_ + at_, taken);
    at_ += taken;
    return taken;
}

std::unique_ptr<FileSource> FileSource::open(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return nullptr;
    const uint64_t size = std::filesystem::file_size(path, error);
    if (error) return nullptr;
#ifdef _WIN32
    std::FILE* file = _wfopen(path.c_str(), L"rb");
#else
    std::FILE* file = std::fopen(path.c_str(), "rb");
#endif
    if (!file) return nullptr;
    return std::unique_ptr<FileSource>(new FileSource(file, size));
}

FileSource::~FileSource() {
    std::fclose(file_);
}

std::size_t FileSource::read(void* into, std::size_t size) {
    return std::fread(into, 1, size, file_);
}

}  // namespace recorder
