#include "ufcs/capture_file.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "common/byte_order.h"
#include "common/format.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace ufcs {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kFileHeaderSize = 8;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle openFile(const fs::path& path, const char* mode) {
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return FileHandle(_wfopen(path.c_str(), wideMode.c_str()));
#else
    return FileHandle(std::fopen(path.c_str(), mode));
#endif
}

// Flushes the file to the disk, so the rename that follows never exposes a partial file.
bool syncFile(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

std::string displayName(const fs::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

FileResult failure(std::string message) {
    return FileResult{false, std::move(message)};
}

FileResult cannotSave(const fs::path& path) {
    return failure(common::format("无法保存文件 %s !", displayName(path).c_str()));
}

}  // namespace

FileResult SaveCapture(const CaptureStore& store, const fs::path& path) {
    const uint32_t count = store.count();
    fs::path temporary = path;
    temporary += ".saving";

    FileHandle file = openFile(temporary, "wb");
    if (!file) return cannotSave(path);
    uint8_t header[kFileHeaderSize];
    common::writeLe32(header, count);
    common::writeLe32(header + 4, kCaptureFileVersion);
    const std::size_t recordBytes = static_cast<std::size_t>(count) * kRecordSize;
    const bool written = std::fwrite(header, 1, sizeof header, file.get()) == sizeof header &&
                         (count == 0 || std::fwrite(store.recordBytes(0), 1, recordBytes,
                                                    file.get()) == recordBytes) &&
                         syncFile(file.get());
    const bool closed = std::fclose(file.release()) == 0;

    std::error_code error;
    if (written && closed) fs::rename(temporary, path, error);
    if (!written || !closed || error) {
        fs::remove(temporary, error);
        return cannotSave(path);
    }
    return {};
}

FileResult OpenCapture(CaptureStore& store, const fs::path& path) {
    FileHandle file = openFile(path, "rb");
    if (!file) return failure(common::format("无法打开文件 %s !", displayName(path).c_str()));

    std::error_code error;
    const uintmax_t fileSize = fs::file_size(path, error);
    uint8_t header[kFileHeaderSize];
    if (error || std::fread(header, 1, sizeof header, file.get()) != sizeof header) {
        return failure(std::string(kFileLengthWrong));
    }
    const uint32_t count = common::readLe32(header);
    const uint32_t version = common::readLe32(header + 4);
    if (version > kCaptureFileVersion) return failure(std::string(kFileVersionTooHigh));
    // 64-bit, so a huge count cannot wrap around to a matching length.
    if (fileSize != kFileHeaderSize + static_cast<uint64_t>(count) * kRecordSize) {
        return failure(std::string(kFileLengthWrong));
    }
    if (count > CaptureStore::kCapacity) {
        return failure(common::format("文件有%u条记录，超过了%u条的上限，无法打开!", count,
                                      CaptureStore::kCapacity));
    }

    // Read whole before touching the store, so a failed read leaves the previous capture.
    std::vector<uint8_t> records(static_cast<std::size_t>(count) * kRecordSize);
    if (count > 0 && std::fread(records.data(), 1, records.size(), file.get()) != records.size()) {
        return failure(common::format("读取文件 %s 失败!", displayName(path).c_str()));
    }
    if (count > 0) std::memcpy(store.recordBytes(0), records.data(), records.size());
    store.setCount(count);
    return {};
}

}  // namespace ufcs
