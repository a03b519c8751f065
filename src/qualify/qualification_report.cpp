#include "qualify/qualification_report.h"

#include <ctime>
#include <system_error>

#include "common/clock.h"
#include "common/format.h"
#include "common/json.h"
#include "qualify/report_html.h"
#include "ufcs/capture_file.h"

namespace qualify {
namespace {

using common::jsonString;

std::string number(std::optional<double> value) {
    return value ? common::format("%.6g", *value) : std::string("null");
}

std::string modesJson(const std::vector<ModeOffer>& modes) {
    std::string json = "[";
    for (const ModeOffer& mode : modes) {
        json += common::format(
            "%s{\"mode\":%u,\"min_mv\":%u,\"max_mv\":%u,\"min_ma\":%u,\"max_ma\":%u}",
            json.size() > 1 ? "," : "", mode.number, mode.minMillivolts, mode.maxMillivolts,
            mode.minMilliamps, mode.maxMilliamps);
    }
    return json + "]";
}

std::string testJson(const TestResult& test) {
    std::string rows = "[";
    for (const uint32_t row : test.rows)
        rows += (rows.size() > 1 ? "," : "") + std::to_string(row);
    rows += "]";
    return "{\"id\":" + jsonString(test.id) + ",\"title\":" + jsonString(test.title) +
           ",\"verdict\":" + jsonString(verdictName(test.verdict)) +
           ",\"limit\":" + jsonString(test.limit) + ",\"clause\":" + jsonString(test.clause) +
           ",\"measured\":" + jsonString(test.measured) + ",\"value\":" + number(test.value) +
           ",\"unit\":" + jsonString(test.unit) + ",\"reason\":" + jsonString(test.reason) +
           ",\"rows\":" + rows + "}";
}

common::FileResult saveText(const std::filesystem::path& path, const std::string& text) {
    const common::SaveOutcome saved =
        common::saveFile(path, [&](common::ByteSink& sink) { return sink.write(text); });
    if (saved.ok) return {};
    return {false, "无法写入 " + common::displayPath(path) + "：" + saved.reason};
}

}  // namespace

std::string localDateTimeNow() {
    const std::tm local = common::localCalendarTime(std::time(nullptr));
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string reportJson(const QualificationReport& report, const RunFacts& facts) {
    std::string json =
        "{\n\"schema\":" + jsonString(kReportSchema) +
        ",\n\"started\":" + jsonString(facts.started) +
        ",\n\"instrument\":" + jsonString(facts.instrument) +
        ",\n\"seconds\":" + common::format("%.1f", facts.seconds) +
        ",\n\"capture\":" + jsonString(kReportCapture) +
        ",\n\"charger\":{\"device_info\":" + jsonString(report.deviceInfo) +
        ",\"modes\":" + modesJson(report.modes) + "}" + ",\n\"summary\":" +
        common::format("{\"passed\":%u,\"failed\":%u,\"not_measurable\":%u,\"verdict\":",
                       static_cast<unsigned>(report.count(Verdict::Pass)),
                       static_cast<unsigned>(report.count(Verdict::Fail)),
                       static_cast<unsigned>(report.count(Verdict::NotMeasurable))) +
        jsonString(report.overallVerdict()) +
        ",\"complete\":" + (report.complete() ? "true" : "false") +
        ",\"stopped\":" + jsonString(report.stoppedBecause) + "}" + ",\n\"tests\":[";
    bool first = true;
    for (const TestResult& test : report.tests) {
        json += (first ? "\n" : ",\n") + testJson(test);
        first = false;
    }
    return json + "\n]\n}\n";
}

std::vector<common::JUnitCase> junitCases(const QualificationReport& report) {
    std::vector<common::JUnitCase> cases;
    if (!report.complete()) {
        // A stopped run must not read as a pass in a lab's CI.
        common::JUnitCase stopped;
        stopped.name = "run 测试做完";
        stopped.className = "ufcs.qualify";
        stopped.outcome = common::JUnitCase::Outcome::Failed;
        stopped.message = report.stoppedBecause;
        cases.push_back(std::move(stopped));
    }
    for (const TestResult& test : report.tests) {
        common::JUnitCase c;
        c.name = test.id + " " + test.title;
        c.className = "ufcs.qualify";
        if (test.verdict == Verdict::Fail) {
            c.outcome = common::JUnitCase::Outcome::Failed;
            c.message = test.reason;
        } else if (test.verdict == Verdict::NotMeasurable) {
            c.outcome = common::JUnitCase::Outcome::Skipped;
            c.message = "NOT MEASURABLE: " + test.reason;
        }
        c.details = "限值 " + test.limit + (test.clause.empty() ? "" : "（" + test.clause + "）") +
                    "\n测得 " + test.measured + "\n记录";
        for (const uint32_t row : test.rows)
            c.details += " " + std::to_string(row);
        c.details += "\n";
        cases.push_back(std::move(c));
    }
    return cases;
}

std::string reportText(const QualificationReport& report) {
    std::string text;
    for (const TestResult& test : report.tests) {
        text += test.id + '\t' + std::string(verdictName(test.verdict)) + '\t' +
                (test.measured.empty() ? "-" : test.measured) + '\t' + test.limit + '\t' +
                test.title;
        if (!test.reason.empty() && test.verdict != Verdict::Pass) text += "：" + test.reason;
        text += '\n';
    }
    text += report.countsText() + "\n";
    if (!report.complete()) text += "测试没有做完：" + report.stoppedBecause + "\n";
    return text;
}

common::FileResult writeReportFolder(const std::filesystem::path& folder,
                                     const ufcs::CaptureStore& store,
                                     const QualificationReport& report, const RunFacts& facts) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder))
        return {false, "无法建立文件夹 " + common::displayPath(folder) + "：" + error.message()};
    const common::FileResult capture = ufcs::SaveCapture(store, folder / kReportCapture);
    if (!capture.ok) return capture;
    if (common::FileResult json = saveText(folder / "report.json", reportJson(report, facts));
        !json.ok)
        return json;
    if (common::FileResult html =
            saveText(folder / "report.html", reportHtml(report, facts, store));
        !html.ok)
        return html;
    return saveText(folder / "junit.xml", common::junitXml("ufcs qualify", junitCases(report)));
}

}  // namespace qualify
