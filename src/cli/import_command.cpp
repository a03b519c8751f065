#include <ostream>

#include "cli/capture_loading.h"
#include "cli/cli.h"
#include "common/file_save.h"
#include "ufcs/capture_file.h"

namespace cli {

namespace {

// --dp N / --dm N: a line by its number (0-based); nothing when not given.
bool lineNumber(const Arguments& parsed, const char* option, std::optional<std::size_t>& line,
                std::ostream& err) {
    if (!parsed.values.count(option)) return true;
    const std::string text = parsed.value(option);
    if (text.empty() || text.size() > 2 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        reportBadArgument("import",
                          std::string(option) + " '" + text + "' is not a line number (0, 1, ...)",
                          err);
        return false;
    }
    line = static_cast<std::size_t>(std::stoul(text));
    return true;
}

}  // namespace

int runImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed =
        parseArguments(args, {"import", {}, {{"-o"}, {"--dp"}, {"--dm"}}, {"FILE"}}, err);
    if (!parsed) return 2;
    LogicLines lines;
    if (!lineNumber(*parsed, "--dp", lines.dplus, err) ||
        !lineNumber(*parsed, "--dm", lines.dminus, err))
        return 2;
    const std::optional<std::filesystem::path> target =
        outputArgument(*parsed, "import", "OUT.ufcs_stream", err);
    if (!target) return 2;
    const std::optional<LoadedCapture> capture = loadCapture(parsed->positional[0], err, lines);
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
