#pragma once
// The ".ufcs_stream" capture file: the store's record count, the format
// version and the records, little-endian, with nothing else around them.

#include <filesystem>
#include <string>

#include "common/file_save.h"
#include "ufcs/capture_store.h"

namespace ufcs {

inline constexpr uint32_t kCaptureFileVersion = 100;
inline constexpr std::string_view kCaptureFileExtension = ".ufcs_stream";

inline constexpr std::string_view kFileVersionTooHigh = "文件版本过高，无法打开!";
inline constexpr std::string_view kFileLengthWrong = "文件长度不对!";

using FileResult = common::FileResult;

// Writes the store's records 0 to count-1 by the suite's save rules
// (common/file_save.h): a failed save leaves an earlier file as it was, and
// the message carries the system's reason.
FileResult SaveCapture(const CaptureStore& store, const std::filesystem::path& path,
                       const common::SaveControl& control = {});
// After SaveCapture failed with `failure`: the capture into the fallback
// folder, and the message that says where it is.
common::FallbackSave SaveCaptureToFallback(const CaptureStore& store, const std::string& failure);

// Replaces the store's records and count with the file's. A file that is
// refused leaves the store exactly as it was; a folder, or a file whose header
// no capture could carry, is named as not being a capture.
FileResult OpenCapture(CaptureStore& store, const std::filesystem::path& path);

}  // namespace ufcs
