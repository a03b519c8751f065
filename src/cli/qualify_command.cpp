#include <chrono>
#include <ctime>
#include <fstream>
#include <ostream>
#include <sstream>
#include <variant>

#include "cli/cli.h"
#include "cli/run_control.h"
#include "cli/sink_connection.h"
#include "common/file_save.h"
#include "common/format.h"
#include "common/junit_report.h"
#include "qualify/plan_file.h"
#include "qualify/qualification.h"
#include "qualify/qualification_report.h"

namespace cli {
namespace {

using namespace std::chrono_literals;

// The faults of the simulated pair that a qualification run can show.
const std::vector<std::string> kQualifyFaults = {
    "drop-ack",   "repeat-number", "slow-power-ready", "late-ready",
    "output-off", "readback-off",  "refuse-in-range",  "accept-out-of-range",
    "unanswered", "slow-ack",      "skip-number"};

// How long an answer may take before the run moves on: past tPowerSupply for a
// Request, past tSenderResponse for a question.
constexpr auto kPowerWait = 1500ms;
constexpr auto kAnswerWait = 500ms;
// The bus quiet this long after the answer: the ACKs that follow it are in.
constexpr auto kQuiet = 60ms;

bool waitFor(SinkConnection& sink, const std::function<bool()>& done,
             std::chrono::milliseconds timeout) {
    return sink.loop.runUntil([&] { return sink.listener.stopped || done(); }, timeout);
}

// Waits until the bus has been quiet for kQuiet (or `limit` passes).
void waitForQuiet(SinkConnection& sink, std::chrono::milliseconds limit) {
    waitFor(
        sink,
        [&] { return std::chrono::steady_clock::now() - sink.listener.lastRecordAt > kQuiet; },
        limit);
}

// Sends one action and waits for what it brings.
void runAction(SinkConnection& sink, qualify::Action& action) {
    action.firstRecord = sink.store->count();
    const auto frames = analyzer::composeSend(action.position, sink.session->mode(), action.pages,
                                              sink.session->capabilityTable(), {});
    std::optional<int> written;
    sink.session->sendFrames(frames, [&written](int result) { written = result; });
    waitFor(
        sink, [&] { return written.has_value(); }, 5s);
    const auto limit = action.waitsForPower ? kPowerWait : kAnswerWait;
    waitFor(
        sink,
        [&] {
            return qualify::answered(*sink.store, action, action.firstRecord, sink.store->count());
        },
        limit);
    waitForQuiet(sink, kAnswerWait);
    sink.list.appendNew();
    action.endRecord = sink.store->count();
}

// The date and time now, for the report.
std::string dateTimeNow() {
    const std::time_t now = std::time(nullptr);
    char text[32] = {};
    if (const std::tm* local = std::localtime(&now))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    return text;
}

qualify::RunFacts factsOf(const Arguments& parsed, const std::string& startedText,
                          std::chrono::steady_clock::time_point started) {
    qualify::RunFacts facts;
    facts.started = startedText;
    facts.instrument = parsed.has("--simulate") ? "simulated" : parsed.value(kDeviceOption);
    facts.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return facts;
}

bool saveJUnit(const std::filesystem::path& path, const qualify::QualificationReport& report,
               std::ostream& err) {
    const std::string xml = common::junitXml("ufcs qualify", qualify::junitCases(report));
    const common::SaveOutcome saved =
        common::saveFile(path, [&](common::ByteSink& sink) { return sink.write(xml); });
    if (!saved.ok) err << "无法写入 " << common::displayPath(path) << "：" << saved.reason << '\n';
    return saved.ok;
}

std::optional<std::filesystem::path> savePathOption(const Arguments& parsed, const char* option,
                                                    std::ostream& err) {
    if (!parsed.values.count(option)) return std::nullopt;
    const std::filesystem::path path = pathArgument(parsed.value(option));
    if (const common::SaveOutcome check = common::checkSaveTarget(path); !check.ok) {
        reportBadArgument(
            "qualify",
            std::string("cannot save to '") + parsed.value(option) + "': " + check.reason, err);
        return std::filesystem::path();
    }
    return path;
}

// --plan FILE read and checked, or the built-in plan; nothing after telling `err`.
std::optional<qualify::Plan> planOption(const Arguments& parsed, std::ostream& err) {
    if (!parsed.values.count("--plan")) return qualify::Plan{};
    const std::string name = parsed.value("--plan");
    constexpr std::streamsize kLargestPlan = 64 * 1024;
    std::ifstream file(pathArgument(name), std::ios::binary);
    std::vector<char> bytes(kLargestPlan + 1);
    if (file) file.read(bytes.data(), kLargestPlan + 1);
    if (!file && !file.eof()) {
        reportBadArgument("qualify", "cannot read --plan '" + name + "'", err);
        return std::nullopt;
    }
    if (file.gcount() > kLargestPlan) {
        reportBadArgument("qualify", "--plan '" + name + "' is larger than 64 KB", err);
        return std::nullopt;
    }
    std::variant<qualify::Plan, std::string> plan =
        qualify::parsePlan(std::string_view(bytes.data(), static_cast<std::size_t>(file.gcount())));
    if (const std::string* problem = std::get_if<std::string>(&plan)) {
        reportBadArgument("qualify", "--plan '" + name + "': " + *problem, err);
        return std::nullopt;
    }
    return std::get<qualify::Plan>(std::move(plan));
}

}  // namespace

int runQualify(const std::vector<std::string>& args, bool trace, std::ostream& out,
               std::ostream& err) {
    const std::optional<Arguments> parsed =
        parseArguments(args,
                       {"qualify",
                        {"--simulate", "--json", "--print-plan"},
                        {{kDeviceOption}, {"--report"}, {"--junit"}, {"--fault"}, {"--plan"}}},
                       err);
    if (!parsed) return 2;
    const std::optional<qualify::Plan> chosen = planOption(*parsed, err);
    if (!chosen) return 2;
    const qualify::Plan& plan = *chosen;
    if (parsed->has("--print-plan")) {
        out << qualify::planFileText(plan);
        return 0;
    }
    const std::optional<std::vector<std::string>> faults =
        simulatedFaults(*parsed, "qualify", kQualifyFaults, err);
    if (!faults) return 2;
    const std::optional<std::filesystem::path> junit = savePathOption(*parsed, "--junit", err);
    if (junit && junit->empty()) return 2;
    std::optional<std::filesystem::path> folder;
    if (parsed->values.count("--report")) folder = pathArgument(parsed->value("--report"));

    SinkConnection sink("qualify", *parsed, trace, err, *faults);
    if (!sink.store) {
        err << "内存不足！无法运行！\n";
        return 1;
    }
    const auto started = std::chrono::steady_clock::now();
    const std::string startedText = dateTimeNow();
    if (!sink.connect()) return 1;
    // The handshake and the charger's first Output_Capabilities, as the instrument connected.
    std::optional<std::vector<qualify::ModeOffer>> modes;
    waitFor(
        sink,
        [&] {
            return (modes = qualify::offeredModes(*sink.store, sink.store->count())).has_value();
        },
        2s);
    waitForQuiet(sink, kAnswerWait);
    const uint32_t connectEnd = sink.store->count();
    if (!modes) modes = qualify::offeredModes(*sink.store, connectEnd);
    if (!modes) {
        err << "充电器没有报告输出能力（Output_Capabilities），无法测试\n";
        return 1;
    }

    std::vector<qualify::Action> actions = qualify::planActions(*modes, plan);
    for (std::size_t i = 0; i < actions.size() && !sink.listener.stopped; ++i) {
        err << common::format("[%u/%u] %s\n", static_cast<unsigned>(i + 1),
                              static_cast<unsigned>(actions.size()), actions[i].label.c_str());
        runAction(sink, actions[i]);
    }
    if (sink.listener.stopped) {
        err << "仪器停止了，测试没有做完\n";
        return 1;
    }
    const qualify::QualificationReport report =
        qualify::evaluate(*sink.store, connectEnd, *modes, actions, plan);
    const qualify::RunFacts facts = factsOf(*parsed, startedText, started);
    if (parsed->has("--json"))
        out << qualify::reportJson(report, facts);
    else
        out << qualify::reportText(report);
    out.flush();
    bool saved = true;
    if (folder) {
        const common::FileResult written =
            qualify::writeReportFolder(*folder, *sink.store, report, facts);
        if (!written.ok) err << written.message << '\n';
        saved = written.ok;
        if (saved) err << "报告已保存到 " << common::displayPath(*folder) << '\n';
    }
    if (junit) saved = saveJUnit(*junit, report, err) && saved;
    return report.passed() && saved && out ? 0 : 1;
}

}  // namespace cli
