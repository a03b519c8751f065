#include "cli/capture_loading.h"

#include <ostream>

#include "cli/cli.h"
#include "common/file_save.h"
#include "common/format.h"
#include "logic/capture_import.h"
#include "ufcs/capture_file.h"

namespace cli {

std::optional<LogicLines> logicLinesOption(const Arguments& parsed, const char* command,
                                           std::ostream& err) {
    LogicLines lines;
    for (const char* option : {"--dp", "--dm"}) {
        if (!parsed.values.count(option)) continue;
        const std::string text = parsed.value(option);
        if (text.empty() || text.size() > 2 ||
            text.find_first_not_of("0123456789") != std::string::npos) {
            reportBadArgument(
                command, std::string(option) + " '" + text + "' is not a line number (0, 1, ...)",
                err);
            return std::nullopt;
        }
        (option[3] == 'p' ? lines.dplus : lines.dminus) = std::stoul(text);
    }
    for (const char* option : {"--vbus", "--ibus"}) {
        if (!parsed.values.count(option)) continue;
        std::string text = parsed.value(option);
        double scale = 1;
        if (const std::size_t star = text.rfind('*'); star != std::string::npos) {
            const std::optional<double> factor = common::parseNumber(text.substr(star + 1));
            if (!factor || !(*factor > 0) || *factor > 1e6) {
                reportBadArgument(command,
                                  std::string(option) + " '" + text +
                                      "' is not NAME or NAME*SCALE with a positive scale",
                                  err);
                return std::nullopt;
            }
            scale = *factor;
            text.resize(star);
        }
        const bool voltage = option[2] == 'v';
        (voltage ? lines.vbus : lines.ibus) = text;
        (voltage ? lines.vbusScale : lines.ibusScale) = scale;
    }
    return lines;
}

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
        logic::CaptureImport imported = logic::importLogicFile(file, *loaded.store, lines);
        loaded.lineFindings = std::move(imported.findings);
        if (!imported.message.empty())
            err << imported.message << (imported.noLines ? "（--dp N --dm N 指定，从 0 数起）" : "")
                << '\n';
        if (!imported.ok) return std::nullopt;
    } else if (const ufcs::FileResult opened = ufcs::OpenCapture(*loaded.store, file); !opened.ok) {
        err << opened.message << '\n';
        return std::nullopt;
    }
    loaded.list = std::make_unique<ufcs::CaptureList>(*loaded.store);
    loaded.list->rebuild();
    return loaded;
}

}  // namespace cli
