#include "qualify/report_html.h"

#include <algorithm>
#include <cmath>

#include "common/format.h"
#include "common/junit_report.h"
#include "ufcs/names.h"

namespace qualify {
namespace {

using common::format;

std::string escaped(const std::string& text) {
    return common::xmlText(text);
}

struct Point {
    double seconds;
    double volts, amps;
};

struct Marker {
    double seconds;
    bool request;  // else Power_Ready
};

// A step above `value` that gives about five gridlines.
double niceStep(double span) {
    const double raw = span / 5;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0})
        if (raw <= factor * power) return factor * power;
    return 10 * power;
}

}  // namespace

std::string runCurveSvg(const ufcs::CaptureStore& store, int width, int height) {
    namespace cc = ufcs::control_command;
    std::vector<Point> points;
    std::vector<Marker> markers;
    std::optional<int64_t> start;
    for (uint32_t index = 0; index < store.count(); ++index) {
        const ufcs::ConstCaptureRecord record = store.record(index);
        if (!ufcs::isMessageKind(record.kind()) || record.byteCount() < 5) continue;
        if (!start) start = record.timeUs();
        const double seconds = static_cast<double>(record.timeUs() - *start) / 1e6;
        if (record.voltage() > 0)
            points.push_back({seconds, record.voltage() / 1000.0, record.current() / 1000.0});
        const bool fromSink = record.kind() == static_cast<uint8_t>(ufcs::EventKind::MessageDMinus);
        if (fromSink && record.messageType() == ufcs::kTypeData &&
            record.command() == ufcs::data_command::kRequest)
            markers.push_back({seconds, true});
        if (!fromSink && record.messageType() == ufcs::kTypeControl &&
            record.command() == cc::kPowerReady)
            markers.push_back({seconds, false});
    }
    constexpr int kLeft = 56, kRight = 56, kTop = 16, kBottom = 36;
    const int plotWidth = width - kLeft - kRight, plotHeight = height - kTop - kBottom;
    std::string svg = format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d "
        "%d\" font-family=\"sans-serif\" font-size=\"11\">\n<rect width=\"%d\" height=\"%d\" "
        "fill=\"#111\"/>\n",
        width, height, width, height, width, height);
    if (points.empty())
        return svg + "<text x=\"20\" y=\"30\" fill=\"#ccc\">没有测到总线电压</text></svg>\n";
    const double duration = std::max(points.back().seconds, 0.001);
    double maxVolts = 1, maxAmps = 0.1;
    for (const Point& p : points) {
        maxVolts = std::max(maxVolts, p.volts);
        maxAmps = std::max(maxAmps, p.amps);
    }
    const double voltStep = niceStep(maxVolts * 1.1), ampStep = niceStep(maxAmps * 1.1);
    maxVolts = std::ceil(maxVolts * 1.1 / voltStep) * voltStep;
    maxAmps = std::ceil(maxAmps * 1.1 / ampStep) * ampStep;
    const auto x = [&](double seconds) { return kLeft + seconds / duration * plotWidth; };
    const auto yV = [&](double volts) { return kTop + plotHeight * (1 - volts / maxVolts); };
    const auto yA = [&](double amps) { return kTop + plotHeight * (1 - amps / maxAmps); };
    // The grid and the axes' labels: volts on the left in red, amperes on the right in green.
    for (double v = 0; v <= maxVolts + 1e-9; v += voltStep) {
        svg += format(
            "<line x1=\"%d\" x2=\"%d\" y1=\"%.1f\" y2=\"%.1f\" stroke=\"#333\"/>"
            "<text x=\"%d\" y=\"%.1f\" fill=\"#f66\" text-anchor=\"end\">%g</text>\n",
            kLeft, kLeft + plotWidth, yV(v), yV(v), kLeft - 4, yV(v) + 4, v);
    }
    for (double a = 0; a <= maxAmps + 1e-9; a += ampStep) {
        svg += format("<text x=\"%d\" y=\"%.1f\" fill=\"#6e6\">%g</text>\n", kLeft + plotWidth + 4,
                      yA(a) + 4, a);
    }
    const double timeStep = niceStep(duration);
    for (double t = 0; t <= duration + 1e-9; t += timeStep) {
        svg += format(
            "<line x1=\"%.1f\" x2=\"%.1f\" y1=\"%d\" y2=\"%d\" stroke=\"#333\"/>"
            "<text x=\"%.1f\" y=\"%d\" fill=\"#ccc\" text-anchor=\"middle\">%g</text>\n",
            x(t), x(t), kTop, kTop + plotHeight, x(t), kTop + plotHeight + 14, t);
    }
    svg += format(
        "<text x=\"%d\" y=\"%d\" fill=\"#f66\">V(伏)</text>"
        "<text x=\"%d\" y=\"%d\" fill=\"#6e6\" text-anchor=\"end\">A(安)</text>"
        "<text x=\"%d\" y=\"%d\" fill=\"#ccc\" text-anchor=\"middle\">T(秒)</text>\n",
        4, kTop + 10, width - 4, kTop + 10, kLeft + plotWidth / 2, height - 6);
    for (const Marker& marker : markers) {
        svg += format(
            "<line x1=\"%.1f\" x2=\"%.1f\" y1=\"%d\" y2=\"%d\" stroke=\"%s\" "
            "stroke-dasharray=\"%s\"/>\n",
            x(marker.seconds), x(marker.seconds), kTop, kTop + plotHeight,
            marker.request ? "#48f" : "#fd4", marker.request ? "4 3" : "1 2");
    }
    std::string volts, amps;
    for (const Point& p : points) {
        volts += format("%s%.1f,%.1f", volts.empty() ? "" : " ", x(p.seconds), yV(p.volts));
        amps += format("%s%.1f,%.1f", amps.empty() ? "" : " ", x(p.seconds), yA(p.amps));
    }
    svg += "<polyline fill=\"none\" stroke=\"#6e6\" stroke-width=\"1.5\" points=\"" + amps +
           "\"/>\n<polyline fill=\"none\" stroke=\"#f44\" stroke-width=\"1.5\" points=\"" + volts +
           "\"/>\n";
    return svg + "</svg>\n";
}

std::string reportHtml(const QualificationReport& report, const RunFacts& facts,
                       const ufcs::CaptureStore& store) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">\n"
        "<title>UFCS 充电器测试报告</title>\n<style>\n"
        "body{font-family:sans-serif;margin:24px;color:#222}\n"
        "table{border-collapse:collapse;margin:8px 0}td,th{border:1px solid #bbb;padding:3px "
        "8px;text-align:left;vertical-align:top}th{background:#eee}\n"
        ".PASS{background:#d8f5d8}.FAIL{background:#f8d0d0;font-weight:bold}"
        ".NM{background:#eee;color:#555}\n"
        ".verdict{font-size:150%;padding:6px 12px;display:inline-block}\n"
        ".legend span{margin-right:16px}\n</style></head><body>\n"
        "<h1>UFCS 充电器测试报告</h1>\n";
    const char* verdictClass = report.passed() ? "PASS" : report.complete() ? "FAIL" : "NM";
    html += format("<p class=\"verdict %s\">%s：%s</p>\n", verdictClass,
                   std::string(report.overallVerdictText()).c_str(), report.countsText().c_str());
    if (!report.complete())
        html += "<p>测试没有做完：" + escaped(report.stoppedBecause) +
                "。没有做到的项目标为 NOT MEASURABLE。</p>\n";
    html +=
        "<table><tr><th>开始时间</th><td>" + escaped(facts.started) +
        "</td></tr><tr><th>仪器</th><td>" + escaped(facts.instrument) +
        "</td></tr><tr><th>用时</th><td>" + format("%.1f 秒", facts.seconds) +
        "</td></tr><tr><th>充电器</th><td>" +
        escaped(report.deviceInfo.empty() ? "（没有回答 Get_Device_Info）" : report.deviceInfo) +
        "</td></tr><tr><th>捕获</th><td>" + kReportCapture +
        "（用分析程序打开，表中的“记录”是它的序号；<code>color " + kReportCapture +
        " --row 序号</code> 打开并选中那一行）</td></tr></table>\n";
    html += "<h2>输出能力</h2>\n<table><tr><th>模式</th><th>电压</th><th>电流</th></tr>\n";
    for (const ModeOffer& mode : report.modes) {
        html += format("<tr><td>%u</td><td>%.2f - %.2f V</td><td>%.2f - %.2f A</td></tr>\n",
                       mode.number, mode.minMillivolts / 1000.0, mode.maxMillivolts / 1000.0,
                       mode.minMilliamps / 1000.0, mode.maxMilliamps / 1000.0);
    }
    html += "</table>\n<h2>电压和电流</h2>\n" + runCurveSvg(store, 960, 360) +
            "<p class=\"legend\"><span style=\"color:#e33\">━ 电压</span>"
            "<span style=\"color:#3a3\">━ 电流</span><span style=\"color:#48f\">┆ Request</span>"
            "<span style=\"color:#b90\">┆ Power_Ready</span></p>\n";
    html +=
        "<h2>各项测试</h2>\n<table><tr><th>编号</th><th>测试</th><th>结果</th><th>测得</th>"
        "<th>限值</th><th>出处</th><th>说明</th><th>记录</th></tr>\n";
    for (const TestResult& test : report.tests) {
        const std::string verdict(verdictName(test.verdict));
        std::string rows;
        for (const uint32_t row : test.rows)
            rows += (rows.empty() ? "" : " ") + std::to_string(row);
        html += "<tr class=\"" +
                std::string(test.verdict == Verdict::NotMeasurable ? "NM" : verdict) + "\"><td>" +
                escaped(test.id) + "</td><td>" + escaped(test.title) + "</td><td>" + verdict +
                "</td><td>" + escaped(test.measured) + "</td><td>" + escaped(test.limit) +
                "</td><td>" + escaped(test.clause) + "</td><td>" + escaped(test.reason) +
                "</td><td>" + rows + "</td></tr>\n";
    }
    return html + "</table>\n</body></html>\n";
}

}  // namespace qualify
