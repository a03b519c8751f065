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
#include "qualify/qualification_run.h"

namespace cli {
namespace {

using namespace std::chrono_literals;

// The faults of the simulated pair that a qualification run can show.
const std::vector<std::string> kQualifyFaults = {
    "drop-ack",   "repeat-number", "slow-power-ready", "late-ready",
    "output-off", "readback-off",  "refuse-in-range",  "accept-out-of-range",
    "unanswered", "slow-ack",      "skip-number"};

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
    std::variant<qualify::Plan, std::string> plan = qualify::loadPlanFile(pathArgument(name));
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
    const EndingSignals signals;
    const auto started = std::chrono::steady_clock::now();
    const std::string startedText = qualify::localDateTimeNow();
    if (!sink.connect()) return 1;
    qualify::QualificationRun run(
        *sink.session, *sink.store, sink.loop, sink.clock, plan,
        {[&err](const qualify::RunStep& step) {
             if (!step.label.empty())
                 err << common::format("[%u/%u] %s\n", static_cast<unsigned>(step.done + 1),
                                       static_cast<unsigned>(step.total), step.label.c_str());
         },
         {}});
    run.start();
    while (!run.finished()) {
        sink.loop.runUntil(
            [&] {
                return run.finished() || sink.listener.stopped ||
                       (interrupted() && !run.stopping());
            },
            std::chrono::hours(1));
        if (sink.listener.stopped)
            run.stop("仪器停止了", true);
        else if (interrupted())
            run.stop("测试被中断");
    }
    if (!run.problem().empty()) {
        err << run.problem() << '\n';
        return 1;
    }
    const qualify::QualificationReport& report = run.report();
    if (!report.complete()) err << "测试没有做完：" << report.stoppedBecause << '\n';
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
