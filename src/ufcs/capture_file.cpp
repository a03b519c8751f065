#include "ufcs/capture_file.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "common/byte_order.h"
#include "common/file_save.h"
#include "common/format.h"

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

FileResult failure(std::string message) {
    return FileResult{false, std::move(message)};
}

// Version numbers a capture file of this or a later program could carry; text
// or other binary files land far outside.
constexpr uint32_t kMostPlausibleVersion = 9999;

FileResult notACapture(const fs::path& path) {
    return failure(common::format("%s 不是捕获文件(%s)!", common::displayPath(path).c_str(),
                                  kCaptureFileExtension.data()));
}

}  // namespace

FileResult SaveCapture(const CaptureStore& store, const fs::path& path,
                       const common::SaveControl& control) {
    const uint32_t count = store.count();
    const common::SaveOutcome saved = common::saveFile(
        path,
        [&](common::ByteSink& sink) {
            uint8_t header[kFileHeaderSize];
            common::writeLe32(header, count);
            common::writeLe32(header + 4, kCaptureFileVersion);
            return sink.write(header, sizeof header) &&
                   (count == 0 || sink.write(store.recordBytes(0),
                                             static_cast<std::size_t>(count) * kRecordSize));
        },
        "写入被中止", control);
    if (saved.ok) return {};
    return failure(common::format("无法保存文件 %s ! (%s)", common::displayPath(path).c_str(),
                                  saved.reason.c_str()));
}

common::FallbackSave SaveCaptureToFallback(const CaptureStore& store, const std::string& failure) {
    return common::saveToFallback(failure, "capture", kCaptureFileExtension,
                                  [&](const fs::path& path) { return SaveCapture(store, path); });
}

FileResult OpenCapture(CaptureStore& store, const fs::path& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        return failure(
            common::format("%s 是一个文件夹，不是捕获文件!", common::displayPath(path).c_str()));
    }
    FileHandle file = openFile(path, "rb");
    if (!file)
        return failure(common::format("无法打开文件 %s !", common::displayPath(path).c_str()));

    const uintmax_t fileSize = fs::file_size(path, error);
    if (error)
        return failure(common::format("读取文件 %s 失败!", common::displayPath(path).c_str()));
    uint8_t header[kFileHeaderSize];
    if (std::fread(header, 1, sizeof header, file.get()) != sizeof header) return notACapture(path);
    const uint32_t count = common::readLe32(header);
    const uint32_t version = common::readLe32(header + 4);
    if (version == 0 || version > kMostPlausibleVersion) return notACapture(path);
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
        return failure(common::format("读取文件 %s 失败!", common::displayPath(path).c_str()));
    }
    if (count > 0) std::memcpy(store.recordBytes(0), records.data(), records.size());
    store.setCount(count);
    return {};
}

}  // namespace ufcs
