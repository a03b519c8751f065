#include <ostream>

#include "cli/capture_loading.h"
#include "cli/cli.h"
#include "common/file_save.h"
#include "ufcs/capture_file.h"

namespace cli {

int runImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(
        args, {"import", {}, {{"-o"}, {"--dp"}, {"--dm"}, {"--vbus"}, {"--ibus"}}, {"FILE"}}, err);
    if (!parsed) return 2;
    const std::optional<LogicLines> lines = logicLinesOption(*parsed, "import", err);
    if (!lines) return 2;
    const std::optional<std::filesystem::path> target =
        outputArgument(*parsed, "import", "OUT.ufcs_stream", err);
    if (!target) return 2;
    const std::optional<LoadedCapture> capture = loadCapture(parsed->positional[0], err, *lines);
    if (!capture) return 1;
    const ufcs::FileResult saved = ufcs::SaveCapture(*capture->store, *target);
    if (!saved.ok) {
        err << "ufcs import: " << saved.message << '\n';
        return 1;
    }
    out << "已导入 " << capture->store->count() - 1 << " 条记录到 " << common::displayPath(*target)
        << '\n';
    return 0;
}

}  // namespace cli
