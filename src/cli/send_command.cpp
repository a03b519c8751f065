#include <algorithm>
#include <charconv>
#include <memory>
#include <ostream>

#include "analyzer/composer.h"
#include "analyzer/session.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "cli/run_control.h"
#include "cli/sink_connection.h"
#include "common/event_loop.h"
#include "ufcs/capture_list.h"
#include "ufcs/names.h"

namespace cli {
namespace {

using namespace std::chrono_literals;

std::optional<int> entryPosition(const std::string& entry) {
    for (std::size_t i = 0; i < ufcs::SendMenuEntries.size(); ++i) {
        if (ufcs::SendMenuEntries[i] == entry) return static_cast<int>(i);
    }
    int position = -1;
    const auto [end, error] = std::from_chars(entry.data(), entry.data() + entry.size(), position);
    if (error == std::errc() && end == entry.data() + entry.size() && position >= 0 &&
        position < static_cast<int>(ufcs::SendMenuEntries.size())) {
        return position;
    }
    return std::nullopt;
}

std::vector<std::string> fieldOptionNames(int position) {
    std::vector<std::string> names;
    for (const std::string& name : analyzer::pageFieldNames(position))
        names.push_back("--" + name);
    return names;
}

// Every field any page takes, as an option of the command line.
std::vector<OptionSyntax> fieldOptions() {
    std::vector<OptionSyntax> options;
    for (int position = 0; position < static_cast<int>(ufcs::SendMenuEntries.size()); ++position) {
        for (const std::string& option : fieldOptionNames(position)) {
            const bool known = std::any_of(options.begin(), options.end(),
                                           [&](const OptionSyntax& o) { return o.name == option; });
            if (!known) options.push_back({option});
        }
    }
    return options;
}

std::vector<OptionSyntax> sendOptions() {
    std::vector<OptionSyntax> options = fieldOptions();
    options.push_back({kDeviceOption});
    return options;
}

constexpr const char* kOutOfRangeOption = "--out-of-range";

void printEntries(std::ostream& out) {
    for (int position = 0; position < static_cast<int>(ufcs::SendMenuEntries.size()); ++position) {
        out << position << '\t' << ufcs::SendMenuEntries[static_cast<std::size_t>(position)];
        for (const std::string& option : fieldOptionNames(position))
            out << ' ' << option;
        if (position == analyzer::kSendGetSinkInfo) out << "\t(not sent as the charging device)";
        out << '\n';
    }
}

// The first given option the entry's page does not take, named for the user.
// --device and --simulate=N choose the instrument; they are not a message's fields.
bool choosesInstrument(const std::string& option) {
    return option == kDeviceOption || option == "--simulate" || option == kOutOfRangeOption;
}

// The Request carries 10 mV and 10 mA units: a value between them would be cut, not sent.
std::optional<analyzer::PageProblem> inexactRequest(const analyzer::SendPages& pages) {
    if (pages.requestMillivolts % 10 != 0)
        return analyzer::PageProblem{"voltage", "请求以 10 mV 为单位，请填入 10 的整数倍"};
    if (pages.requestMilliamps % 10 != 0)
        return analyzer::PageProblem{"current", "请求以 10 mA 为单位，请填入 10 的整数倍"};
    return std::nullopt;
}

void reportField(const analyzer::PageProblem& problem, std::ostream& err) {
    reportBadArgument("send", "--" + problem.field + ": " + plainPrompt(problem.message), err);
}

std::optional<std::string> foreignField(int position, const Arguments& parsed) {
    const std::vector<std::string> taken = fieldOptionNames(position);
    for (const auto& [option, value] : parsed.values) {
        if (choosesInstrument(option)) continue;
        if (std::find(taken.begin(), taken.end(), option) != taken.end()) continue;
        const std::string entry(ufcs::SendMenuEntries[static_cast<std::size_t>(position)]);
        return entry + (taken.empty() ? " takes no fields" : " takes only " + listed(taken)) +
               "; not " + option;
    }
    return std::nullopt;
}

}  // namespace

int runSend(const std::vector<std::string>& args, bool trace, std::ostream& out,
            std::ostream& err) {
    if (std::find(args.begin(), args.end(), "--list") != args.end()) {
        printEntries(out);
        return 0;
    }
    const std::optional<Arguments> parsed = parseArguments(
        args, {"send", {"--simulate", kOutOfRangeOption}, sendOptions(), {"ENTRY"}}, err);
    if (!parsed) return 2;
    const std::optional<int> position = entryPosition(parsed->positional[0]);
    if (!position) {
        reportBadArgument("send",
                          "no entry '" + parsed->positional[0] +
                              "' in the send list; 'ufcs send --list' lists the entries",
                          err);
        return 2;
    }
    if (const auto foreign = foreignField(*position, *parsed)) {
        reportBadArgument("send", *foreign, err);
        return 2;
    }
    if (*position == analyzer::kSendGetSinkInfo) {
        err << "Get_Sink_Info 在充电设备模式下不能发送\n";
        return 2;
    }
    // The page's check comes first: a refused field sends nothing.
    std::vector<analyzer::PageField> fields;
    for (const auto& [option, value] : parsed->values) {
        if (!choosesInstrument(option)) fields.push_back({option.substr(2), value});
    }
    analyzer::SendPages pages;
    auto problem = analyzer::checkPage(*position, fields, pages);
    if (!problem && *position == analyzer::kSendRequest) problem = inexactRequest(pages);
    if (problem) {
        reportField(*problem, err);
        return 2;
    }

    SinkConnection sink("send", *parsed, trace, err);
    if (!sink.store) {
        err << "内存不足！无法运行！\n";
        return 1;
    }
    if (!sink.connect()) return 1;
    // A Request the charger's modes cannot grant is refused here, unless the user
    // means to see the charger refuse it.
    if (*position == analyzer::kSendRequest && !parsed->has(kOutOfRangeOption)) {
        if (!sink.listener.tableArrived) {
            err << "ufcs send: 充电器没有报告输出模式，请求的范围没有核对\n";
        } else if (const auto outside =
                       analyzer::requestOutsideModes(pages, sink.session->capabilityTable())) {
            reportBadArgument("send",
                              "--" + outside->field + ": " + outside->message + "（" +
                                  kOutOfRangeOption + " 照样发送）",
                              err);
            return 2;
        }
    }
    const std::size_t firstRow = sink.list.rowCount();
    const auto frames = analyzer::composeSend(*position, sink.session->mode(), pages,
                                              sink.session->capabilityTable(), {});
    std::optional<int> result;
    if (!frames.empty()) {
        sink.session->sendFrames(frames, [&result](int written) { result = written; });
        sink.loop.runUntil([&] { return result.has_value(); }, 5s);
    }
    const bool written = result == device::kWritten;
    out << screenText(analyzer::sendLogEntry(*position, pages, written, sink.clock.localTime()));

    // The charger's answer: rows until it has been quiet for a moment, a second at most.
    const auto sentAt = std::chrono::steady_clock::now();
    sink.loop.runUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            return sink.listener.stopped || (sink.listener.lastRecordAt > sentAt &&
                                             now - sink.listener.lastRecordAt > 250ms);
        },
        1s);
    sink.loop.runPending();
    sink.list.appendNew();
    for (std::size_t row = firstRow; row < sink.list.rowCount(); ++row)
        printRowTabbed(sink.list.rowTexts(row), out);
    return written ? 0 : 1;
}

namespace {

void printModesJson(const instrument::OutputCapabilityTable& table, std::ostream& out) {
    out << '[';
    for (int mode = 0; mode < table.countedEntries(); ++mode) {
        const instrument::OutputModeEntry entry = table.entry(mode);
        out << (mode ? ",\n" : "\n") << "{\"mode\":" << mode + 1
            << ",\"min_mv\":" << entry.minVoltage10mV * 10
            << ",\"max_mv\":" << entry.maxVoltage10mV * 10
            << ",\"min_ma\":" << entry.minCurrent10mA * 10
            << ",\"max_ma\":" << entry.maxCurrent10mA * 10
            << ",\"step_mv\":" << entry.voltageStepMillivolts()
            << ",\"step_ma\":" << entry.currentStepMilliamps() << '}';
    }
    out << "\n]\n";
}

}  // namespace

int runModes(const std::vector<std::string>& args, bool trace, std::ostream& out,
             std::ostream& err) {
    const std::optional<Arguments> parsed =
        parseArguments(args, {"modes", {"--simulate", "--json"}, {{kDeviceOption}}}, err);
    if (!parsed) return 2;
    SinkConnection sink("modes", *parsed, trace, err);
    if (!sink.store || !sink.connect()) return 1;
    if (!sink.listener.tableArrived) {
        err << "充电器没有报告输出模式\n";
        return 1;
    }
    const instrument::OutputCapabilityTable& table = sink.session->capabilityTable();
    if (parsed->has("--json")) {
        printModesJson(table, out);
        return 0;
    }
    out << "编号       电压(V)          电流(A)      步进(mV)   步进(mA)\n";
    for (int mode = 0; mode < table.countedEntries(); ++mode) {
        out << mode + 1 << '\t' << analyzer::outputModeRowText(table.entry(mode)) << '\n';
    }
    return 0;
}

}  // namespace cli
