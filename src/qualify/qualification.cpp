#include "qualify/qualification.h"

#include <algorithm>
#include <cmath>

#include "common/format.h"
#include "qualify/captured_message.h"
#include "ufcs/list_row.h"
#include "ufcs/names.h"
#include "ufcs/standard_limits.h"

namespace qualify {
namespace {

namespace cc = ufcs::control_command;
namespace dc = ufcs::data_command;
using Purpose = Action::Purpose;
using common::format;

// The default output before any Request (the standard's 5 V with its tolerance).
constexpr uint32_t kDefaultLowMv = 4'850, kDefaultHighMv = 5'500;
constexpr uint8_t kRefuseOutOfRange = 4;
constexpr const char* kNotReached = "测试中途停止，没有做到这一项";

using Seen = CapturedMessage;

std::vector<Seen> messagesIn(const ufcs::CaptureStore& store, uint32_t from, uint32_t end) {
    return capturedMessages(store, from, end);
}

const Seen* firstFromSource(const std::vector<Seen>& seen, uint8_t type, uint8_t command) {
    for (const Seen& message : seen)
        if (message.fromSource && message.is(type, command)) return &message;
    return nullptr;
}

const Seen* firstFromSink(const std::vector<Seen>& seen, uint8_t type, uint8_t command) {
    for (const Seen& message : seen)
        if (!message.fromSource && message.is(type, command)) return &message;
    return nullptr;
}

std::string volts(double millivolts) {
    return format("%.2f V", millivolts / 1000.0);
}

std::string modeLabel(unsigned number) {
    return format("M%u", number);
}

TestResult test(std::string id, std::string title) {
    TestResult result;
    result.id = std::move(id);
    result.title = std::move(title);
    return result;
}

void pass(TestResult& result, bool ok, const std::string& reason) {
    result.verdict = ok ? Verdict::Pass : Verdict::Fail;
    if (!ok) result.reason = reason;
}

void notMeasurable(TestResult& result, std::string reason) {
    result.verdict = Verdict::NotMeasurable;
    result.reason = std::move(reason);
}

// The timing the checks noted on a record, with the limit it was judged by.
const ufcs::SequenceNote* timingOn(const ufcs::SequenceReport& report, uint32_t index) {
    for (const ufcs::SequenceNote* note : report.notesFor(index))
        if (note->delayUs && !note->limit.empty()) return note;
    return nullptr;
}

// An answer's timing test: the question's answer in the records, within the limit the checks used.
TestResult answerTest(std::string id, std::string title, const Seen* question, const Seen* answer,
                      const ufcs::SequenceReport& report, const std::string& missing) {
    TestResult result = test(std::move(id), std::move(title));
    if (question) result.rows.push_back(question->index);
    if (!question) {
        result.limit = "-";
        pass(result, false, "没有发出（仪器没有把这条消息送上总线）");
        return result;
    }
    if (!answer) {
        const ufcs::StandardLimit& response = ufcs::standardLimit(ufcs::LimitId::SenderResponse);
        result.limit = format("≤ %s（%s）", ufcs::millisecondsText(response.microseconds).c_str(),
                              std::string(response.name).c_str());
        result.clause = std::string(response.clause);
        pass(result, false, missing);
        return result;
    }
    result.rows.push_back(answer->index);
    const ufcs::SequenceNote* timing = timingOn(report, answer->index);
    if (!timing) {
        notMeasurable(result, "检查没有为这一步记下用时");
        return result;
    }
    result.clause = timing->clause;
    result.limit = "≤ " + ufcs::millisecondsText(timing->limitUs) + "（" + timing->limit + "）";
    result.measured = ufcs::millisecondsText(*timing->delayUs);
    result.value = static_cast<double>(*timing->delayUs) / 1000.0;
    result.unit = "ms";
    const bool late = timing->kind == ufcs::FindingKind::Late;
    pass(result, !late, timing->text);
    return result;
}

struct Measured {
    std::optional<double> millivolts, milliamps;  // means over the records
    std::vector<uint32_t> rows;
};

Measured busDuring(const std::vector<Seen>& seen) {
    Measured measured;
    double volts = 0, amps = 0;
    std::size_t count = 0;
    for (const Seen& message : seen) {
        if (message.millivolts == 0) continue;
        volts += message.millivolts;
        amps += message.milliamps;
        ++count;
        measured.rows.push_back(message.index);
    }
    if (count > 0) {
        measured.millivolts = volts / static_cast<double>(count);
        measured.milliamps = amps / static_cast<double>(count);
    }
    return measured;
}

std::optional<std::pair<uint32_t, uint32_t>> readBack(const Seen* information) {
    if (!information || information->record.byteCount() < 14) return std::nullopt;
    return std::pair<uint32_t, uint32_t>(information->dataBe16(4) * 10u,
                                         information->dataBe16(6) * 10u);
}

std::string toleranceText(const ufcs::Tolerance& tolerance, const char* unit) {
    if (tolerance.below == tolerance.above) return format("±%d %s", tolerance.above, unit);
    return format("-%d … +%d %s", tolerance.below, tolerance.above, unit);
}

class Evaluation {
  public:
    Evaluation(const ufcs::CaptureStore& store, uint32_t connectEnd,
               const std::vector<ModeOffer>& modes, const std::vector<Action>& actions,
               const Plan& plan)
        : store_(store),
          connectEnd_(connectEnd),
          modes_(modes),
          actions_(actions),
          plan_(plan),
          report_(ufcs::checkCapture(store, plan.windows)) {}

    QualificationReport run();

  private:
    std::vector<Seen> seenBy(const Action& action) const {
        return messagesIn(store_, action.firstRecord, action.endRecord);
    }
    const Action* following(std::size_t at, Purpose purpose) const {
        for (std::size_t i = at + 1; i < actions_.size(); ++i) {
            if (actions_[i].purpose == purpose) return &actions_[i];
            if (actions_[i].purpose != Purpose::AskSourceInfo) break;
        }
        return nullptr;
    }
    void add(TestResult result) {
        const bool chosen =
            plan_.only.empty() ||
            std::any_of(plan_.only.begin(), plan_.only.end(), [&](const std::string& prefix) {
                return result.id.compare(0, prefix.size(), prefix) == 0;
            });
        if (chosen) out_.tests.push_back(std::move(result));
    }

    void judgeAction(std::size_t at);
    // The action ran, and so did the question that measures it.
    bool reached(std::size_t at) const;
    // The tests from `from` on: NOT MEASURABLE, not reached.
    void markNotReached(std::size_t from);
    void handshake();
    void defaultOutput();
    void capabilities(const Action& action);
    void question(const Action& action, const char* id, const char* title, uint8_t answer);
    void request(std::size_t at);
    void outOfRange(std::size_t at);
    void softReset(std::size_t at);
    void sequence();
    void notMeasurableAlways();
    void noteDeviceInfo(const Action& action);

    const ufcs::CaptureStore& store_;
    uint32_t connectEnd_;
    const std::vector<ModeOffer>& modes_;
    const std::vector<Action>& actions_;
    const Plan& plan_;
    ufcs::SequenceReport report_;
    QualificationReport out_;
    std::optional<double> lastMeasuredMv_;  // the output after the last granted Request
    std::optional<uint32_t> lastRequestedMv_;
};

QualificationReport Evaluation::run() {
    out_.modes = modes_;
    handshake();
    defaultOutput();
    for (std::size_t at = 0; at < actions_.size(); ++at) {
        const std::size_t testsBefore = out_.tests.size();
        judgeAction(at);
        if (!reached(at)) markNotReached(testsBefore);
    }
    sequence();
    notMeasurableAlways();
    return std::move(out_);
}

void Evaluation::judgeAction(std::size_t at) {
    const Action& action = actions_[at];
    {
        switch (action.purpose) {
            case Purpose::AskCapabilities:
                capabilities(action);
                break;
            case Purpose::AskSourceInfo:
                if (action.label == "source-info")
                    question(action, "source-info", "Get_Source_Info 及时回答",
                             dc::kSourceInformation);
                break;
            case Purpose::AskDeviceInfo:
                question(action, "device-info", "Get_Device_Info 及时回答", dc::kDeviceInformation);
                noteDeviceInfo(action);
                break;
            case Purpose::AskErrorInfo:
                question(action, "error-info", "Get_Error_Info 及时回答", dc::kErrorInformation);
                break;
            case Purpose::Request:
                request(at);
                break;
            case Purpose::OutOfRangeRequest:
                outOfRange(at);
                break;
            case Purpose::SoftReset:
                softReset(at);
                break;
            case Purpose::Ping:
                break;
        }
    }
}

bool Evaluation::reached(std::size_t at) const {
    if (!actions_[at].ran) return false;
    // A Request is measured by the question after it.
    const bool measured = at + 1 < actions_.size() &&
                          actions_[at + 1].purpose == Purpose::AskSourceInfo &&
                          actions_[at + 1].label.rfind(actions_[at].label + ".", 0) == 0;
    return !measured || actions_[at + 1].ran;
}

void Evaluation::markNotReached(std::size_t from) {
    for (std::size_t i = from; i < out_.tests.size(); ++i) {
        TestResult& result = out_.tests[i];
        result.verdict = Verdict::NotMeasurable;
        result.measured.clear();
        result.value.reset();
        result.rows.clear();
        result.reason = kNotReached;
    }
}

void Evaluation::handshake() {
    // The ACK's time is judged with every other ACK's, in sequence.ack.
    TestResult result = test("handshake", "握手，第一个 Ping 得到 ACK");
    result.limit = "握手信号；Ping 得到 ACK";
    result.clause = "6.3；7.3";
    std::optional<uint32_t> signal;
    for (uint32_t index = 0; index < std::min(connectEnd_, store_.count()); ++index) {
        if (ufcs::isLineSignalKind(store_.record(index).kind())) {
            signal = index;
            break;
        }
    }
    const auto ping = std::find_if(actions_.begin(), actions_.end(),
                                   [](const Action& a) { return a.purpose == Purpose::Ping; });
    if (signal) result.rows.push_back(*signal);
    if (ping == actions_.end()) {
        notMeasurable(result, "计划里没有 Ping");
    } else {
        const std::vector<Seen> seen = seenBy(*ping);
        const Seen* sent = firstFromSink(seen, ufcs::kTypeControl, cc::kPing);
        const Seen* acked = firstFromSource(seen, ufcs::kTypeControl, cc::kAck);
        if (sent) result.rows.push_back(sent->index);
        if (acked) result.rows.push_back(acked->index);
        const ufcs::SequenceNote* timing = acked ? timingOn(report_, acked->index) : nullptr;
        if (timing) {
            result.measured = ufcs::millisecondsText(*timing->delayUs);
            result.value = static_cast<double>(*timing->delayUs) / 1000.0;
            result.unit = "ms";
        }
        if (!signal)
            pass(result, false, "捕获里没有握手信号");
        else if (!sent || !acked)
            pass(result, false, "充电器没有应答 Ping");
        else
            pass(result, timing != nullptr, "ACK 没有对上 Ping");
    }
    add(std::move(result));
}

void Evaluation::noteDeviceInfo(const Action& action) {
    if (const std::optional<std::string> info = deviceInformation(seenBy(action)))
        out_.deviceInfo = *info;
}

void Evaluation::defaultOutput() {
    TestResult result = test("default-output", "请求之前的默认输出");
    result.limit = volts(kDefaultLowMv) + " - " + volts(kDefaultHighMv);
    result.clause = "9.4";
    result.unit = "V";
    const auto firstRequest = std::find_if(actions_.begin(), actions_.end(), [](const Action& a) {
        return a.purpose == Purpose::Request || a.purpose == Purpose::OutOfRangeRequest;
    });
    const uint32_t end = firstRequest == actions_.end() || !firstRequest->sent
                             ? store_.count()
                             : firstRequest->firstRecord;
    double low = 1e9, high = 0;
    for (const Seen& message : messagesIn(store_, 0, end)) {
        if (message.millivolts == 0) continue;
        low = std::min<double>(low, message.millivolts);
        high = std::max<double>(high, message.millivolts);
        if (result.rows.size() < 8) result.rows.push_back(message.index);
    }
    if (high == 0) {
        notMeasurable(result, "请求之前没有测到总线电压");
    } else {
        result.measured = volts(low) + " - " + volts(high);
        result.value = high / 1000.0;
        pass(result, low >= kDefaultLowMv && high <= kDefaultHighMv,
             "默认输出 " + result.measured + " 不在 " + result.limit + " 内");
    }
    add(std::move(result));
}

void Evaluation::capabilities(const Action& action) {
    const std::vector<Seen> seen = seenBy(action);
    const Seen* asked = firstFromSink(seen, ufcs::kTypeControl, cc::kGetOutputCapabilities);
    const Seen* table = firstFromSource(seen, ufcs::kTypeData, dc::kOutputCapabilities);
    add(answerTest("capabilities.time", "Get_Output_Capabilities 及时回答", asked, table, report_,
                   "充电器没有回答 Output_Capabilities"));

    TestResult result = test("capabilities.table", "输出能力表格式正确");
    result.limit = "1-7 个模式，编号从 1 连续；最低 ≤ 最高；电流步进 0-4";
    result.clause = "8.3";
    if (table) result.rows.push_back(table->index);
    std::string problem;
    if (modes_.empty() || modes_.size() > 7)
        problem = format("%u 个模式", static_cast<unsigned>(modes_.size()));
    for (std::size_t i = 0; i < modes_.size() && problem.empty(); ++i) {
        const ModeOffer& mode = modes_[i];
        if (mode.number != i + 1)
            problem = format("第 %u 个模式编号为 %u", static_cast<unsigned>(i + 1), mode.number);
        else if (mode.minMillivolts > mode.maxMillivolts || mode.maxMillivolts == 0)
            problem = format("模式 %u 电压 %s - %s", mode.number, volts(mode.minMillivolts).c_str(),
                             volts(mode.maxMillivolts).c_str());
        else if (mode.minMilliamps > mode.maxMilliamps || mode.maxMilliamps == 0)
            problem = format("模式 %u 电流 %u - %u mA", mode.number, mode.minMilliamps,
                             mode.maxMilliamps);
        else if (mode.stepCode > 4)
            problem = format("模式 %u 电流步进代码 %u", mode.number, mode.stepCode);
    }
    result.measured = format("%u 个模式", static_cast<unsigned>(modes_.size()));
    result.value = static_cast<double>(modes_.size());
    if (!table && modes_.empty())
        pass(result, false, "没有收到输出能力表");
    else
        pass(result, problem.empty(), problem);
    add(std::move(result));
}

void Evaluation::question(const Action& action, const char* id, const char* title, uint8_t answer) {
    const std::vector<Seen> seen = seenBy(action);
    const Seen* asked = nullptr;
    for (const Seen& message : seen)
        if (!message.fromSource && !message.isAck()) {
            asked = &message;
            break;
        }
    add(answerTest(
        id, title, asked, firstFromSource(seen, ufcs::kTypeData, answer), report_,
        format(
            "充电器没有回答（%s）",
            std::string(ufcs::DataMessageNames[*ufcs::dataMessageRow(answer)].english).c_str())));
}

void Evaluation::request(std::size_t at) {
    const Action& action = actions_[at];
    const std::vector<Seen> seen = seenBy(action);
    const uint32_t mv = static_cast<uint32_t>(action.pages.requestMillivolts);
    const uint32_t ma = static_cast<uint32_t>(action.pages.requestMilliamps);
    const std::string point = action.label.substr(action.label.find('.') + 1);
    const std::string pointName = point == "low"       ? "最低电压"
                                  : point == "high"    ? "最高电压"
                                  : point == "current" ? "最大电流"
                                                       : "电压点";
    const std::string what = format("输出模式 %d %s %s %u mA：", action.pages.requestMode,
                                    pointName.c_str(), volts(mv).c_str(), ma);
    const Seen* asked = firstFromSink(seen, ufcs::kTypeData, dc::kRequest);
    const Seen* accept = firstFromSource(seen, ufcs::kTypeControl, cc::kAccept);
    const Seen* refuse = firstFromSource(seen, ufcs::kTypeData, dc::kRefuse);
    const Seen* ready = firstFromSource(seen, ufcs::kTypeControl, cc::kPowerReady);
    TestResult accepted = answerTest(action.label + ".accept", what + "Accept 及时", asked, accept,
                                     report_, "充电器没有接受这个范围内的请求");
    if (refuse && !accept) {
        accepted.rows.push_back(refuse->index);
        pass(accepted, false, "充电器拒绝了这个范围内的请求");
    }
    add(std::move(accepted));

    TestResult readyTest = answerTest(action.label + ".ready", what + "Power_Ready 及时", accept,
                                      ready, report_, "Accept 之后没有 Power_Ready");
    if (!accept) notMeasurable(readyTest, "请求没有被接受");
    add(std::move(readyTest));

    const Action* info = following(at, Purpose::AskSourceInfo);
    const std::vector<Seen> after = info ? seenBy(*info) : std::vector<Seen>{};
    const Measured bus = busDuring(after);
    const Seen* information = firstFromSource(after, ufcs::kTypeData, dc::kSourceInformation);
    const std::optional<std::pair<uint32_t, uint32_t>> reported = readBack(information);

    TestResult voltage = test(action.label + ".voltage", what + "输出电压准确");
    voltage.unit = "V";
    std::optional<ufcs::AccuracyLimit> accuracy = ufcs::voltageAccuracy(mv);
    if (accuracy) {
        voltage.clause = std::string(accuracy->clause);
        // A maker's plan may ask for less than the table allows.
        if (const auto tighter = plan_.voltageToleranceMv;
            tighter && static_cast<int32_t>(*tighter) < accuracy->ofSet.below) {
            accuracy->ofSet = {static_cast<int32_t>(*tighter), static_cast<int32_t>(*tighter)};
            voltage.clause = "计划（" + voltage.clause + " 更宽）";
        }
        voltage.limit = volts(mv) + " " + toleranceText(accuracy->ofSet, "mV");
    }
    voltage.rows = bus.rows;
    if (!accuracy)
        notMeasurable(voltage, "表 39 不规定 3.4 V 及以下和 36 V 以上的准确度");
    else if (!ready)
        notMeasurable(voltage, "没有 Power_Ready，输出没有稳定");
    else if (!bus.millivolts)
        notMeasurable(voltage, "Power_Ready 之后没有测到总线电压");
    else {
        voltage.measured = volts(*bus.millivolts);
        voltage.value = *bus.millivolts / 1000.0;
        pass(voltage, accuracy->ofSet.holds(std::lround(*bus.millivolts), mv),
             "测得 " + voltage.measured + "，请求 " + volts(mv));
    }
    if (ready && bus.millivolts) {
        lastMeasuredMv_ = bus.millivolts;
        lastRequestedMv_ = mv;
    }
    add(std::move(voltage));

    TestResult readBackTest = test(action.label + ".readback", what + "回读电压与实测一致");
    readBackTest.unit = "V";
    const uint32_t readBackMv = std::min<uint32_t>(100, plan_.readBackToleranceMv.value_or(100));
    readBackTest.limit = format("±%u mV", readBackMv);
    readBackTest.clause = readBackMv < 100 ? "计划（9.4 表 39 为 100 mV）" : "9.4 表 39";
    if (information) readBackTest.rows.push_back(information->index);
    if (!ready)
        notMeasurable(readBackTest, "没有 Power_Ready，输出没有稳定");
    else if (!reported)
        pass(readBackTest, false, "Get_Source_Info 没有得到 Source_Information");
    else if (!bus.millivolts)
        notMeasurable(readBackTest, "没有测到总线电压");
    else {
        readBackTest.measured =
            "回读 " + volts(reported->first) + "，实测 " + volts(*bus.millivolts);
        readBackTest.value = reported->first / 1000.0;
        pass(readBackTest, std::fabs(*bus.millivolts - reported->first) <= readBackMv,
             readBackTest.measured);
    }
    add(std::move(readBackTest));

    TestResult current = test(action.label + ".current", what + "回读电流与实测一致");
    current.unit = "A";
    if (information) current.rows.push_back(information->index);
    const std::optional<ufcs::AccuracyLimit> currentLimit =
        reported ? ufcs::currentAccuracy(reported->second) : std::nullopt;
    if (currentLimit) {
        current.limit = toleranceText(currentLimit->ofReadBack, "mA");
        current.clause = std::string(currentLimit->clause);
    }
    if (!ready)
        notMeasurable(current, "没有 Power_Ready，输出没有稳定");
    else if (!reported)
        pass(current, false, "Get_Source_Info 没有得到 Source_Information");
    else if (!bus.milliamps || *bus.milliamps < 1 || !currentLimit)
        notMeasurable(current, "没有负载电流可比（仪器只测负载实际取用的电流）");
    else {
        current.measured = format("回读 %u mA，实测 %.0f mA", reported->second, *bus.milliamps);
        current.value = reported->second / 1000.0;
        pass(current, currentLimit->ofReadBack.holds(std::lround(*bus.milliamps), reported->second),
             current.measured);
    }
    add(std::move(current));
}

// Refused with its reason, and the output left as it was: one test, since
// a charger that grants such a Request also changes its output.
void Evaluation::outOfRange(std::size_t at) {
    const Action& action = actions_[at];
    const std::vector<Seen> seen = seenBy(action);
    const uint32_t mv = static_cast<uint32_t>(action.pages.requestMillivolts);
    TestResult result =
        test("out-of-range", format("超出所有模式的请求（%s）被拒绝，输出不变", volts(mv).c_str()));
    result.limit = "Refuse（原因 4：超出范围）；输出不变";
    result.clause = "8.3；9.4 表 39";
    result.unit = "V";
    const Seen* asked = firstFromSink(seen, ufcs::kTypeData, dc::kRequest);
    const Seen* refuse = firstFromSource(seen, ufcs::kTypeData, dc::kRefuse);
    const Seen* accept = firstFromSource(seen, ufcs::kTypeControl, cc::kAccept);
    for (const Seen* row : {asked, refuse, accept})
        if (row) result.rows.push_back(row->index);
    const Action* info = following(at, Purpose::AskSourceInfo);
    const Measured bus = info ? busDuring(seenBy(*info)) : Measured{};
    result.rows.insert(result.rows.end(), bus.rows.begin(), bus.rows.end());
    const std::optional<ufcs::AccuracyLimit> accuracy =
        lastRequestedMv_ ? ufcs::voltageAccuracy(*lastRequestedMv_) : std::nullopt;
    const uint8_t reason = refuse && refuse->record.byteCount() >= 10 ? refuse->record.at(23) : 0;
    if (bus.millivolts) {
        result.measured = format("Refuse 原因 %u，输出 %s", reason, volts(*bus.millivolts).c_str());
        result.value = *bus.millivolts / 1000.0;
    }
    if (accept) {
        pass(result, false, "充电器接受了超出范围的请求");
    } else if (!refuse) {
        pass(result, false, "充电器既没有接受也没有拒绝");
    } else if (reason != kRefuseOutOfRange) {
        pass(result, false, format("拒绝的原因是 %u，不是“超出范围”", reason));
    } else if (!lastMeasuredMv_ || !accuracy || !bus.millivolts) {
        notMeasurable(result, "之前或之后没有测到稳定的输出电压");
    } else {
        pass(result,
             accuracy->ofSet.holds(std::lround(*bus.millivolts), std::lround(*lastMeasuredMv_)),
             "输出从 " + volts(*lastMeasuredMv_) + " 变为 " + volts(*bus.millivolts));
    }
    add(std::move(result));
}

void Evaluation::softReset(std::size_t at) {
    const Action& action = actions_[at];
    const std::vector<Seen> seen = seenBy(action);
    const Seen* asked = firstFromSink(seen, ufcs::kTypeControl, cc::kSoftReset);
    const Seen* accept = firstFromSource(seen, ufcs::kTypeControl, cc::kAccept);
    TestResult result = answerTest("soft-reset", "Soft_Reset 被接受，编号从 0 重新开始", asked,
                                   accept, report_, "充电器没有接受 Soft_Reset");
    if (result.verdict == Verdict::Pass) {
        // Numbering restarted: the Accept, or the charger's next message after it, is number 0.
        const Action* info = following(at, Purpose::AskSourceInfo);
        const std::vector<Seen> after = info ? seenBy(*info) : std::vector<Seen>{};
        const Seen* next = nullptr;
        for (const Seen& message : after)
            if (message.fromSource && !message.isAck()) {
                next = &message;
                break;
            }
        if (next) result.rows.push_back(next->index);
        const bool restarted = accept->number == 0 || (next && next->number == 0);
        pass(result, restarted,
             format("Soft_Reset 之后充电器的编号没有从 0 开始（Accept 编号 %u）", accept->number));
    }
    add(std::move(result));
}

void Evaluation::sequence() {
    struct Group {
        const char* id;
        const char* title;
        std::vector<ufcs::FindingKind> kinds;
        bool lateAcks;
        std::string limit;
    };
    using K = ufcs::FindingKind;
    const ufcs::SequenceWindows& w = plan_.windows;
    const Group groups[] = {
        {"sequence.ack",
         "全程每条消息都及时得到 ACK",
         {K::NoAck, K::AckMismatch},
         true,
         "≤ " + ufcs::millisecondsText(w.ackUs) + "（tACKReceive）"},
        {"sequence.numbering",
         "全程消息编号连续",
         {K::Retransmission, K::LostMessage},
         false,
         "0-15 循环，每条加一"},
        {"sequence.spacing",
         "同一方两条消息间隔足够",
         {K::TooSoon},
         false,
         "≥ " + ufcs::millisecondsText(w.messageGapUs) + "（tMsgTransDelay）"},
    };
    for (const Group& group : groups) {
        TestResult result = test(group.id, group.title);
        result.limit = group.limit;
        result.clause = "7.3 表 27；7.4";
        std::string first;
        std::size_t count = 0;
        for (const ufcs::SequenceNote& note : report_.notes()) {
            if (!note.kind) continue;
            const bool listed =
                std::find(group.kinds.begin(), group.kinds.end(), *note.kind) != group.kinds.end();
            const bool lateAck = group.lateAcks && *note.kind == K::Late &&
                                 note.limit == ufcs::standardLimit(ufcs::LimitId::AckReceive).name;
            if (!listed && !lateAck) continue;
            if (first.empty()) first = note.text;
            ++count;
            if (result.rows.size() < 20) result.rows.push_back(note.index);
        }
        // A clean run's evidence is the whole run: its first and last records.
        if (count == 0 && store_.count() > 0) result.rows = {0, store_.count() - 1};
        result.measured = format("%u 处", static_cast<unsigned>(count));
        result.value = static_cast<double>(count);
        pass(result, count == 0, first);
        add(std::move(result));
    }
}

void Evaluation::notMeasurableAlways() {
    TestResult overshoot = test("transition.overshoot", "调压过程中输出在 0.95-1.05 倍新电压之间");
    overshoot.limit = "0.95 × vSetNew … 1.05 × vSetNew";
    overshoot.clause = "9.3";
    notMeasurable(overshoot, "仪器的电压按数据包或每 100 ms 取样，看不到调压过程中的过冲和下冲");
    add(std::move(overshoot));
    TestResult currentSet = test("current.set", "输出电流与请求电流一致");
    currentSet.limit = "表 40";
    currentSet.clause = "9.4 表 40";
    notMeasurable(currentSet, "电流由负载决定，仪器不能把负载设成请求的电流");
    add(std::move(currentSet));
}

// A Request for `millivolts` and `milliamps` in `mode`, labelled.
Action requestAction(const ModeOffer& mode, const std::string& point, uint32_t millivolts,
                     uint32_t milliamps) {
    Action action;
    action.purpose = Purpose::Request;
    action.label = modeLabel(mode.number) + "." + point;
    action.position = analyzer::kSendRequest;
    action.pages.requestMode = static_cast<int>(mode.number);
    action.pages.requestMillivolts = static_cast<int>(millivolts);
    action.pages.requestMilliamps = static_cast<int>(milliamps);
    action.waitsForPower = true;
    return action;
}

Action simpleAction(Purpose purpose, std::string label, int position) {
    Action action;
    action.purpose = purpose;
    action.label = std::move(label);
    action.position = position;
    return action;
}

}  // namespace

std::string_view verdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Pass:
            return "PASS";
        case Verdict::Fail:
            return "FAIL";
        case Verdict::NotMeasurable:
            break;
    }
    return "NOT MEASURABLE";
}

std::size_t QualificationReport::count(Verdict verdict) const {
    return static_cast<std::size_t>(std::count_if(
        tests.begin(), tests.end(), [&](const TestResult& t) { return t.verdict == verdict; }));
}

std::string QualificationReport::countsText() const {
    return format("通过 %u 项，未通过 %u 项，无法测量 %u 项",
                  static_cast<unsigned>(count(Verdict::Pass)),
                  static_cast<unsigned>(count(Verdict::Fail)),
                  static_cast<unsigned>(count(Verdict::NotMeasurable)));
}

std::string_view QualificationReport::overallVerdict() const {
    if (count(Verdict::Fail) > 0) return "FAIL";
    return complete() ? "PASS" : "INCOMPLETE";
}

std::string_view QualificationReport::overallVerdictText() const {
    if (count(Verdict::Fail) > 0) return "未通过";
    return complete() ? "通过" : "未完成";
}

std::optional<std::vector<ModeOffer>> offeredModes(const ufcs::CaptureStore& store, uint32_t end) {
    const std::vector<Seen> seen = messagesIn(store, 0, end);
    for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
        if (!it->fromSource || !it->is(ufcs::kTypeData, dc::kOutputCapabilities)) continue;
        const unsigned length = it->record.at(19);
        if (length % 8 != 0 || it->record.byteCount() < 6 + length) continue;
        std::vector<ModeOffer> modes;
        for (unsigned at = 0; at < length; at += 8) {
            ModeOffer mode;
            mode.number = it->record.at(20 + at) >> 4;
            mode.stepCode = (it->record.at(20 + at) >> 1) & 0x07;
            mode.maxMillivolts = it->dataBe16(at + 1) * 10u;
            mode.minMillivolts = it->dataBe16(at + 3) * 10u;
            mode.maxMilliamps = it->dataBe16(at + 5) * 10u;
            mode.minMilliamps = it->record.at(20 + at + 7) * 10u;
            modes.push_back(mode);
        }
        return modes;
    }
    return std::nullopt;
}

std::vector<Action> planActions(const std::vector<ModeOffer>& modes, const Plan& plan) {
    std::vector<Action> actions;
    const auto ask = [&](std::string label) {
        actions.push_back(
            simpleAction(Purpose::AskSourceInfo, std::move(label), analyzer::kSendGetSourceInfo));
    };
    actions.push_back(simpleAction(Purpose::Ping, "ping", analyzer::kSendPing));
    actions.push_back(simpleAction(Purpose::AskCapabilities, "capabilities",
                                   analyzer::kSendGetOutputCapabilities));
    ask("source-info");
    actions.push_back(
        simpleAction(Purpose::AskDeviceInfo, "device-info", analyzer::kSendGetDeviceInfo));
    actions.push_back(
        simpleAction(Purpose::AskErrorInfo, "error-info", analyzer::kSendGetErrorInfo));
    for (const ModeOffer& mode : modes) {
        if (mode.maxMillivolts == 0 || mode.maxMilliamps == 0) continue;
        // Half the mode's current for the voltage points, on its 10 mA grid.
        const uint32_t half = std::max(mode.minMilliamps, mode.maxMilliamps / 20 * 10);
        std::vector<std::pair<std::string, std::pair<uint32_t, uint32_t>>> points = {
            {"low", {mode.minMillivolts, half}},
            {"high", {mode.maxMillivolts, half}},
            {"current", {mode.minMillivolts, mode.maxMilliamps}},
        };
        for (const uint32_t extra : plan.extraMillivolts) {
            if (extra >= mode.minMillivolts && extra <= mode.maxMillivolts)
                points.push_back({format("%umV", extra), {extra / 10 * 10, half}});
        }
        for (const auto& [point, values] : points) {
            actions.push_back(requestAction(mode, point, values.first, values.second));
            ask(actions.back().label + ".measure");
        }
    }
    if (!modes.empty()) {
        const auto highest = std::max_element(modes.begin(), modes.end(),
                                              [](const ModeOffer& a, const ModeOffer& b) {
                                                  return a.maxMillivolts < b.maxMillivolts;
                                              });
        Action beyond = requestAction(*highest, "beyond", highest->maxMillivolts + 1'000,
                                      std::max<uint32_t>(highest->minMilliamps, 100));
        beyond.purpose = Purpose::OutOfRangeRequest;
        beyond.label = "out-of-range";
        actions.push_back(beyond);
        ask("out-of-range.measure");
    }
    actions.push_back(simpleAction(Purpose::SoftReset, "soft-reset", analyzer::kSendSoftReset));
    ask("soft-reset.after");
    return actions;
}

bool answered(const ufcs::CaptureStore& store, const Action& action, uint32_t from, uint32_t end) {
    for (const Seen& message : messagesIn(store, from, end)) {
        if (!message.fromSource) continue;
        if (action.waitsForPower) {
            if (message.is(ufcs::kTypeControl, cc::kPowerReady) ||
                message.is(ufcs::kTypeData, dc::kRefuse))
                return true;
            continue;
        }
        const bool ackOnly = action.purpose == Purpose::Ping;
        if (ackOnly ? message.isAck() : !message.isAck()) return true;
    }
    return false;
}

QualificationReport evaluate(const ufcs::CaptureStore& store, uint32_t connectEnd,
                             const std::vector<ModeOffer>& modes,
                             const std::vector<Action>& actions, const Plan& plan) {
    return Evaluation(store, connectEnd, modes, actions, plan).run();
}

}  // namespace qualify
