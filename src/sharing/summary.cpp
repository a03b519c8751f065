#include "sharing/summary.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "common/format.h"
#include "qualify/captured_message.h"
#include "qualify/qualification.h"
#include "recorder/comparison.h"
#include "recorder/waveform.h"
#include "ufcs/list_row.h"

namespace sharing {
namespace {

using common::format;
using qualify::CapturedMessage;
namespace cc = ufcs::control_command;
namespace dc = ufcs::data_command;

// A heading, a list item and a block of lines, in either style.
struct Writer {
    SummaryStyle style;
    std::string text;
    bool markdown() const { return style == SummaryStyle::Markdown; }
    void title(const std::string& line) { text += (markdown() ? "### " : "") + line + "\n"; }
    void item(const std::string& line) { text += (markdown() ? "- " : "") + line + "\n"; }
    void heading(const std::string& line) {
        text += markdown() ? "\n**" + line + "**\n\n" : "\n" + line + "：\n";
    }
    void block(const std::vector<std::string>& lines) {
        if (markdown()) text += "```\n";
        for (const std::string& line : lines)
            text += (markdown() ? "" : "  ") + line + "\n";
        if (markdown()) text += "```\n";
    }
};

// What followed a Request from the charger: Accept or Refuse, and Power_Ready, with times.
std::string requestOutcome(const std::vector<CapturedMessage>& messages, std::size_t at) {
    const int64_t askedUs = messages[at].record.timeUs();
    std::string outcome;
    for (std::size_t i = at + 1; i < messages.size(); ++i) {
        const CapturedMessage& message = messages[i];
        if (!message.fromSource && message.is(ufcs::kTypeData, dc::kRequest)) break;
        if (!message.fromSource || message.isAck()) continue;
        const std::string after = ufcs::millisecondsText(message.record.timeUs() - askedUs);
        if (message.is(ufcs::kTypeControl, cc::kAccept)) {
            outcome += "→ Accept " + after;
        } else if (message.is(ufcs::kTypeData, dc::kRefuse)) {
            return outcome + "→ Refuse " + after;
        } else if (message.is(ufcs::kTypeControl, cc::kPowerReady)) {
            return outcome + "，Power_Ready " + after +
                   format("，输出 %.2f V", message.millivolts / 1000.0);
        } else if (outcome.empty()) {
            return "→ " + ufcs::listRowTexts(message.record, message.index).columns[3] + " " +
                   after;
        }
    }
    return outcome.empty() ? "→ 没有回答" : outcome + "，没有 Power_Ready";
}

std::vector<std::string> negotiationLines(const ufcs::CaptureStore& store,
                                          const std::vector<CapturedMessage>& messages) {
    std::vector<std::string> lines;
    std::size_t requests = 0;
    const int64_t startUs = store.count() > 1 ? store.record(1).timeUs() : 0;
    for (std::size_t at = 0; at < messages.size(); ++at) {
        const CapturedMessage& message = messages[at];
        if (message.fromSource || !message.is(ufcs::kTypeData, dc::kRequest)) continue;
        if (++requests > kSummaryRequests) continue;
        const ufcs::ListRow row = ufcs::listRowTexts(message.record, message.index);
        lines.push_back(ufcs::durationText(message.record.timeUs() - startUs) + "  #" +
                        std::to_string(message.index) + "  " + row.columns[4] + " " +
                        requestOutcome(messages, at));
    }
    if (requests > kSummaryRequests)
        lines.push_back(
            format("……另有 %u 次请求", static_cast<unsigned>(requests - kSummaryRequests)));
    return lines;
}

void writeModes(Writer& out, const std::vector<qualify::ModeOffer>& modes) {
    out.heading("输出模式（Output_Capabilities）");
    if (out.markdown()) out.text += "| 模式 | 电压 | 电流 |\n|---|---|---|\n";
    std::vector<std::string> lines;
    for (const qualify::ModeOffer& mode : modes) {
        const std::string volts =
            format("%.2f-%.2f V", mode.minMillivolts / 1000.0, mode.maxMillivolts / 1000.0);
        const std::string amps =
            format("%.2f-%.2f A", mode.minMilliamps / 1000.0, mode.maxMilliamps / 1000.0);
        if (out.markdown())
            out.text += format("| %u | %s | %s |\n", mode.number, volts.c_str(), amps.c_str());
        else
            lines.push_back(format("%u  %s  %s", mode.number, volts.c_str(), amps.c_str()));
    }
    if (!out.markdown()) out.block(lines);
}

void writeFindings(Writer& out, const ufcs::SequenceReport& report) {
    std::map<std::string, std::size_t> byKind;
    std::vector<std::string> first;
    for (const ufcs::SequenceNote& note : report.notes()) {
        if (!note.kind) continue;
        ++byKind[std::string(ufcs::findingKindName(*note.kind))];
        if (first.size() < kSummaryFindings)
            first.push_back("#" + std::to_string(note.index) + "  " + note.text);
    }
    std::string kinds;
    for (const auto& [kind, count] : byKind)
        kinds += (kinds.empty() ? "：" : "、") + kind + " " + std::to_string(count);
    if (first.empty()) {
        out.item("时序问题：没有");
        return;
    }
    out.heading(format("时序问题 %u 处", static_cast<unsigned>(report.findingCount())) + kinds);
    out.block(first);
}

}  // namespace

std::string captureSummary(const ufcs::CaptureStore& store, const ufcs::SequenceReport& report,
                           const std::string& name, SummaryStyle style) {
    Writer out{style, {}};
    const std::vector<CapturedMessage> messages =
        qualify::capturedMessages(store, 0, store.count());
    out.title("UFCS 捕获摘要：" + name);
    const int64_t spanUs =
        store.count() > 2 ? store.record(store.count() - 1).timeUs() - store.record(1).timeUs() : 0;
    out.item(format("记录 %u 条，消息 %u 条，时长 %s", store.count(),
                    static_cast<unsigned>(messages.size()), ufcs::durationText(spanUs).c_str()));
    const std::optional<std::string> device = qualify::deviceInformation(messages);
    out.item("充电器：" + device.value_or("（捕获中没有 Device_Information）"));
    uint16_t lowMv = UINT16_MAX, highMv = 0, highMa = 0;
    for (const CapturedMessage& message : messages) {
        if (message.millivolts == 0) continue;
        lowMv = std::min(lowMv, message.millivolts);
        highMv = std::max(highMv, message.millivolts);
        highMa = std::max(highMa, message.milliamps);
    }
    if (highMv > 0)
        out.item(format("总线：电压 %.2f-%.2f V，电流最大 %.2f A", lowMv / 1000.0, highMv / 1000.0,
                        highMa / 1000.0));
    if (const auto modes = qualify::offeredModes(store, store.count()))
        writeModes(out, *modes);
    else
        out.item("输出模式：捕获中没有 Output_Capabilities");
    const std::vector<std::string> negotiation = negotiationLines(store, messages);
    out.heading(format("协商（Request %s）", negotiation.empty() ? "无" : "及其结果"));
    if (!negotiation.empty()) out.block(negotiation);
    writeFindings(out, report);
    return out.text;
}

std::string recordingSummary(const recorder::SampleDocument& document, const std::string& name,
                             SummaryStyle style) {
    Writer out{style, {}};
    const recorder::ZoneMeasurement whole = recorder::measureWholeTest(document);
    out.title("电压电流测试摘要：" + name);
    out.item(format("时长 %s，能量 %.4f Wh，电量 %.3f mAh",
                    recorder::testDurationText(whole.seconds).c_str(), whole.wattHours,
                    whole.milliampHours));
    out.item(format("电压：平均 %.3f V，最高 %.3f V，最低 %.3f V", whole.averageVolts,
                    whole.maximumVolts, whole.minimumVolts));
    out.item(format("电流：平均 %.3f A，最大 %.3f A，最小 %.3f A", whole.averageAmps,
                    whole.maximumAmps, whole.minimumAmps));
    out.item(format("采样 %u 个，每 %g 秒一个", document.channel(recorder::kVoltageChannel).count(),
                    document.period));
    return out.text;
}

}  // namespace sharing
