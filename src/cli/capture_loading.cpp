#include "cli/capture_loading.h"

#include <ostream>

#include "cli/cli.h"
#include "ufcs/capture_file.h"

namespace cli {

std::optional<LoadedCapture> loadCapture(const std::string& path, std::ostream& err) {
    LoadedCapture loaded;
    loaded.store = ufcs::CaptureStore::create();
    if (!loaded.store) {
        err << "内存不足！无法运行！\n";
        return std::nullopt;
    }
    const ufcs::FileResult opened = ufcs::OpenCapture(*loaded.store, pathArgument(path));
    if (!opened.ok) {
        err << opened.message << '\n';
        return std::nullopt;
    }
    loaded.list = std::make_unique<ufcs::CaptureList>(*loaded.store);
    loaded.list->rebuild();
    return loaded;
}

}  // namespace cli
