#include <charconv>
#include <ostream>

#include "cli/capture_loading.h"
#include "cli/cli.h"
#include "cli/json.h"
#include "cli/output.h"
#include "ufcs/decoder.h"
#include "ufcs/list_row.h"

namespace cli {
namespace {

void printTree(const std::vector<ufcs::TreeItem>& items, int depth, std::ostream& out) {
    for (const ufcs::TreeItem& item : items) {
        std::string text = item.text;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << screenText(text) << '\n';
        printTree(item.children, depth + 1, out);
    }
}

void printText(const ufcs::DecodeResult& result, std::ostream& out) {
    const std::string pane = screenText(ufcs::paneText(result));
    out << pane;
    if (!pane.empty() && pane.back() != '\n') out << '\n';
    out << "--\n";
    printTree(result.roots, 0, out);
}

void printJsonTree(const std::vector<ufcs::TreeItem>& items, std::ostream& out) {
    out << '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out << ',';
        out << "{\"text\":" << jsonString(items[i].text)
            << ",\"visible\":" << (items[i].visible ? "true" : "false") << ",\"children\":";
        printJsonTree(items[i].children, out);
        out << '}';
    }
    out << ']';
}

void printJson(const ufcs::DecodeResult& result, std::ostream& out) {
    out << "{\"pane\":[";
    for (std::size_t i = 0; i < result.pane.size(); ++i) {
        out << (i ? "," : "") << "{\"type\":" << static_cast<int>(result.pane[i].type)
            << ",\"text\":" << jsonString(result.pane[i].text) << '}';
    }
    out << "],\"tree\":";
    printJsonTree(result.roots, out);
    out << ",\"warnings\":[";
    for (std::size_t i = 0; i < result.warnings.size(); ++i) {
        out << (i ? "," : "") << "{\"severity\":" << static_cast<int>(result.warnings[i].severity)
            << ",\"text\":" << jsonString(result.warnings[i].text) << '}';
    }
    out << "]}\n";
}

std::optional<uint32_t> parseIndex(const std::string& text) {
    uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [next, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || next != end || text.empty()) return std::nullopt;
    return value;
}

}  // namespace

int runDecode(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(
        args,
        {"decode", {"--json"}, {{"--dp"}, {"--dm"}, {"--vbus"}, {"--ibus"}}, {"FILE", "INDEX"}},
        err);
    if (!parsed) return 2;
    const std::optional<LogicLines> lines = logicLinesOption(*parsed, "decode", err);
    if (!lines) return 2;
    const std::optional<uint32_t> index = parseIndex(parsed->positional[1]);
    if (!index) {
        reportBadArgument("decode", "INDEX '" + parsed->positional[1] + "' is not a record number",
                          err);
        return 2;
    }
    std::optional<LoadedCapture> capture = loadCapture(parsed->positional[0], err, *lines);
    if (!capture) return 1;
    const uint32_t count = capture->store->count();
    if (*index >= count) {
        err << "记录" << *index << "不存在：文件中只有" << count << "条记录 (0-"
            << (count == 0 ? 0 : count - 1) << ")\n";
        return 1;
    }
    // Decoded as the window decodes a clicked row: after the row was built.
    ufcs::markListRecord(capture->store->record(*index));
    const ufcs::DecodeResult result = ufcs::decodeRecord(capture->store->record(*index), *index);
    if (parsed->has("--json"))
        printJson(result, out);
    else
        printText(result, out);
    out.flush();
    return out ? 0 : 1;
}

}  // namespace cli
