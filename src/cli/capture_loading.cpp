#include "cli/capture_loading.h"

#include <ostream>

#include "cli/cli.h"
#include "common/file_save.h"
#include "logic/capture_import.h"
#include "ufcs/capture_file.h"

namespace cli {

namespace {

bool importLogic(const std::filesystem::path& path, const LogicLines& lines,
                 ufcs::CaptureStore& store, std::ostream& err) {
    const logic::LogicLoad load = logic::readLogicFile(path);
    if (!load.recording) {
        err << load.message << '\n';
        return false;
    }
    const auto roles = logic::chooseLineRoles(*load.recording, lines.dplus, lines.dminus);
    if (!roles) {
        err << "无法使用 " << common::displayPath(path.filename())
            << "：没有两条不同的线可作 D+ 和 D-（--dp N --dm N 指定，从 0 数起）\n";
        return false;
    }
    const logic::CaptureImport imported = logic::importRecording(*load.recording, *roles, store);
    if (!imported.message.empty()) err << imported.message << '\n';
    return imported.ok;
}

}  // namespace

std::optional<LoadedCapture> loadCapture(const std::string& path, std::ostream& err,
                                         const LogicLines& lines) {
    LoadedCapture loaded;
    loaded.store = ufcs::CaptureStore::create();
    if (!loaded.store) {
        err << "内存不足！无法运行！\n";
        return std::nullopt;
    }
    const std::filesystem::path file = pathArgument(path);
    if (logic::isLogicFile(file)) {
        if (!importLogic(file, lines, *loaded.store, err)) return std::nullopt;
    } else if (const ufcs::FileResult opened = ufcs::OpenCapture(*loaded.store, file); !opened.ok) {
        err << opened.message << '\n';
        return std::nullopt;
    }
    loaded.list = std::make_unique<ufcs::CaptureList>(*loaded.store);
    loaded.list->rebuild();
    return loaded;
}

}  // namespace cli
