// A build without libzip (the Windows cross build): archives are refused with a reason.
#include "logic/session_archives.h"

#include "common/file_save.h"

namespace logic {
namespace {

LogicLoad refusedHere(const std::string& name) {
    return {std::nullopt, "无法读取 " + name +
                              "：这个版本的程序不能读取 .sr 文件，请先在 "
                              "PulseView 中导出为 VCD"};
}

}  // namespace

bool readsArchives() {
    return false;
}

LogicLoad readSigrokSession(const std::filesystem::path& path, const ReadProgress&) {
    return refusedHere(common::displayPath(path.filename()));
}

LogicLoad readSigrokSession(const uint8_t*, std::size_t, const std::string& name) {
    return refusedHere(name);
}

LogicLoad readDsViewSession(const std::filesystem::path& path, const ReadProgress&) {
    return refusedHere(common::displayPath(path.filename()));
}

LogicLoad readDsViewSession(const uint8_t*, std::size_t, const std::string& name) {
    return refusedHere(name);
}

common::FileResult writeSigrokSession(const std::filesystem::path& path, const LogicRecording&) {
    return {false,
            "无法写入 " + common::displayPath(path.filename()) + "：这个版本的程序不能写 .sr 文件"};
}

}  // namespace logic
