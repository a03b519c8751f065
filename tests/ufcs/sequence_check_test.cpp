#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record_builder.h"
#include "ufcs/names.h"
#include "ufcs/sequence_check.h"
#include "ufcs/wire_format.h"

namespace {

using namespace ufcs;
namespace cc = control_command;
namespace dc = data_command;

// One bus event of a scripted exchange: who speaks (the source on D+, the
// sink on D-), the message number, the message and the time in milliseconds.
struct Step {
    enum Who { Source, Sink, Reset } who;
    uint8_t number = 0;
    uint8_t type = kTypeControl;
    uint8_t command = 0;
    double ms = 0;
    uint32_t requestMv = 9000;  // the voltage a Request asks for
};

constexpr auto kSrc = Step::Source;
constexpr auto kSnk = Step::Sink;

test::TestRecord recordOf(const Step& step) {
    if (step.who == Step::Reset)
        return test::makeRecord(static_cast<uint8_t>(EventKind::ResetSinkDPlus), {});
    const bool fromSource = step.who == Step::Source;
    const DeviceAddress to = fromSource ? DeviceAddress::Sink : DeviceAddress::Source;
    std::vector<uint8_t> body(8, 0x10);
    if (step.type == kTypeData && step.command == dc::kRequest) {
        body[4] = static_cast<uint8_t>(step.requestMv / 10 >> 8);
        body[5] = static_cast<uint8_t>(step.requestMv / 10);
    }
    const std::vector<uint8_t> wire = step.type == kTypeControl
                                          ? encodeControlMessage(to, step.number, step.command)
                                          : encodeDataMessage(to, step.number, step.command, body);
    return test::makeRecord(
        static_cast<uint8_t>(fromSource ? EventKind::MessageDPlus : EventKind::MessageDMinus),
        wire);
}

SequenceReport check(const std::vector<Step>& steps, bool refuseAck = false,
                     SequenceWindows windows = {}) {
    SequenceChecker checker(windows);
    test::TestRecord header;
    CaptureHeaderRecord fields;
    fields.refuseAck = refuseAck;
    fields.writeTo(header.view());
    header.bytes[2] = static_cast<uint8_t>(EventKind::CaptureHeader);
    checker.add(header.view(), 0);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        test::TestRecord record = recordOf(steps[i]);
        const auto ticks = static_cast<uint64_t>(steps[i].ms * 5 + 0.5);
        record.setTime(static_cast<uint16_t>(ticks / 50000), static_cast<uint16_t>(ticks % 50000));
        checker.add(record.view(), static_cast<uint32_t>(i + 1));
    }
    return checker.report();
}

std::vector<std::pair<uint32_t, FindingKind>> findings(const SequenceReport& report) {
    std::vector<std::pair<uint32_t, FindingKind>> found;
    for (const SequenceNote& note : report.notes())
        if (note.isFinding()) found.emplace_back(note.index, *note.kind);
    return found;
}

// A phone's Request for 9 V granted in time: every step acknowledged, each
// sender leaving 2 ms between its messages.
const std::vector<Step> kGrantedRequest = {
    {kSnk, 3, kTypeData, dc::kRequest, 0},        {kSrc, 3, kTypeControl, cc::kAck, 2.4},
    {kSrc, 8, kTypeControl, cc::kAccept, 5.6},    {kSnk, 8, kTypeControl, cc::kAck, 6.6},
    {kSrc, 9, kTypeControl, cc::kPowerReady, 90}, {kSnk, 9, kTypeControl, cc::kAck, 91},
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::pair<uint32_t, FindingKind>> expected;
};

TEST(SequenceCheck, FindsEachKindOfSlip) {
    const std::vector<Case> cases = {
        {"granted request", kGrantedRequest, {}},
        {"refused request",
         {{kSnk, 0, kTypeData, dc::kRequest, 0},
          {kSrc, 0, kTypeControl, cc::kAck, 1},
          {kSrc, 4, kTypeData, dc::kRefuse, 4},
          {kSnk, 4, kTypeControl, cc::kAck, 6},
          {kSnk, 1, kTypeControl, cc::kPing, 600}},
         {}},
        {"receiver speaks before acknowledging",
         {{kSnk, 0, kTypeControl, cc::kPing, 0}, {kSrc, 5, kTypeControl, cc::kPing, 2}},
         {{1, FindingKind::NoAck}}},
        {"ACK that answers nothing",
         {{kSrc, 7, kTypeControl, cc::kAck, 0}},
         {{1, FindingKind::AckMismatch}}},
        {"repeated number",
         {{kSnk, 2, kTypeControl, cc::kPing, 0},
          {kSrc, 2, kTypeControl, cc::kAck, 1},
          {kSnk, 2, kTypeControl, cc::kPing, 10},
          {kSrc, 2, kTypeControl, cc::kAck, 11}},
         {{3, FindingKind::Retransmission}}},
        {"number jump, wrapping past 15",
         {{kSnk, 14, kTypeControl, cc::kPing, 0},
          {kSrc, 14, kTypeControl, cc::kAck, 1},
          {kSnk, 1, kTypeControl, cc::kPing, 10},
          {kSrc, 1, kTypeControl, cc::kAck, 11},
          {kSnk, 2, kTypeControl, cc::kPing, 20},
          {kSrc, 2, kTypeControl, cc::kAck, 21}},
         {{3, FindingKind::LostMessage}}},
        {"ACK within tACKReceive",
         {{kSnk, 0, kTypeControl, cc::kPing, 0}, {kSrc, 0, kTypeControl, cc::kAck, 10.4}},
         {}},
        {"late ACK",
         {{kSnk, 0, kTypeControl, cc::kPing, 0}, {kSrc, 0, kTypeControl, cc::kAck, 10.6}},
         {{2, FindingKind::Late}}},
        {"a sender's next message within tMsgTransDelay",
         {{kSnk, 0, kTypeControl, cc::kPing, 0},
          {kSrc, 0, kTypeControl, cc::kAck, 1},
          {kSnk, 1, kTypeControl, cc::kPing, 2},
          {kSrc, 1, kTypeControl, cc::kAck, 4}},
         {{3, FindingKind::TooSoon}}},
        {"an answer too soon after its own ACK",
         {{kSnk, 0, kTypeControl, cc::kGetSourceInfo, 0},
          {kSrc, 0, kTypeControl, cc::kAck, 1},
          {kSrc, 1, kTypeData, dc::kSourceInformation, 2},
          {kSnk, 1, kTypeControl, cc::kAck, 4}},
         {{3, FindingKind::TooSoon}}},
        {"late Power_Ready",
         {{kSnk, 3, kTypeData, dc::kRequest, 0},
          {kSrc, 3, kTypeControl, cc::kAck, 1},
          {kSrc, 8, kTypeControl, cc::kAccept, 5.6},
          {kSnk, 8, kTypeControl, cc::kAck, 6.6},
          {kSrc, 9, kTypeControl, cc::kPowerReady, 404},
          {kSnk, 9, kTypeControl, cc::kAck, 405}},
         {{5, FindingKind::Late}}},
        {"question asked again before its answer",
         {{kSnk, 0, kTypeControl, cc::kGetSourceInfo, 0},
          {kSrc, 0, kTypeControl, cc::kAck, 1},
          {kSnk, 1, kTypeControl, cc::kGetSourceInfo, 30},
          {kSrc, 1, kTypeControl, cc::kAck, 31},
          {kSrc, 2, kTypeData, dc::kSourceInformation, 35},
          {kSnk, 2, kTypeControl, cc::kAck, 36}},
         {{1, FindingKind::NoAnswer}}},
        {"question never answered, capture goes on",
         {{kSnk, 0, kTypeControl, cc::kGetOutputCapabilities, 0},
          {kSrc, 0, kTypeControl, cc::kAck, 1},
          {kSnk, 1, kTypeControl, cc::kPing, 200},
          {kSrc, 1, kTypeControl, cc::kAck, 201}},
         {{1, FindingKind::NoAnswer}}},
        {"NCK voids the question; the copy, sent at once, is answered",
         {{kSnk, 0, kTypeControl, cc::kGetSourceInfo, 0},
          {kSrc, 0, kTypeControl, cc::kNck, 1},
          {kSnk, 0, kTypeControl, cc::kGetSourceInfo, 1.8},
          {kSrc, 0, kTypeControl, cc::kAck, 4},
          {kSrc, 5, kTypeData, dc::kSourceInformation, 8},
          {kSnk, 5, kTypeControl, cc::kAck, 9}},
         {{3, FindingKind::Retransmission}}},
        {"a hardware reset starts the numbers again",
         {{kSnk, 6, kTypeControl, cc::kPing, 0},
          {kSrc, 6, kTypeControl, cc::kAck, 1},
          {Step::Reset},
          {kSnk, 0, kTypeControl, cc::kPing, 50},
          {kSrc, 0, kTypeControl, cc::kAck, 51}},
         {}},
        {"the last message still within its window is not judged",
         {{kSnk, 0, kTypeControl, cc::kPing, 0}, {kSrc, 0, kTypeControl, cc::kPing, 3}},
         {{1, FindingKind::NoAck}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(findings(check(c.steps)), c.expected) << c.name;
    }
}

TEST(SequenceCheck, TimingsAreNotedOnTheAnsweringRows) {
    const SequenceReport report = check(kGrantedRequest);
    ASSERT_EQ(report.findingCount(), 0u);
    // The ACK's delay counts from the Request's last bit (14 bytes at 115200: 1.328 ms).
    const test::TestRecord request = recordOf(kGrantedRequest[0]);
    ASSERT_EQ(wireDurationUs(request.view().byteCount(), request.view().baudCode()), 1328);
    const auto ack = report.notesFor(2);
    ASSERT_EQ(ack.size(), 1u);
    EXPECT_EQ(ack[0]->delayUs, 2400 - 1328);
    EXPECT_EQ(ack[0]->text, "ACK：应答第 1 条 Request，用时 1.1 ms");
    const auto powerReady = report.notesFor(5);
    ASSERT_EQ(powerReady.size(), 1u);
    EXPECT_EQ(powerReady[0]->delayUs, 84400);
    EXPECT_EQ(powerReady[0]->text, "Power_Ready：Accept（第 3 条）之后 84.4 ms");
    EXPECT_EQ(powerReady[0]->limit, "tPowReady（≤11 V）");
    EXPECT_EQ(powerReady[0]->clause, "9.3 表 38");
}

TEST(SequenceCheck, LateFindingCarriesItsDelayAndWindowsAreSettable) {
    std::vector<Step> slow = kGrantedRequest;
    slow[4].ms = 404;
    slow[5].ms = 405;
    const SequenceReport report = check(slow);
    ASSERT_TRUE(report.hasFinding(5));
    const SequenceNote& late = *report.notesFor(5).front();
    EXPECT_EQ(late.delayUs, 398400);
    EXPECT_EQ(
        late.text,
        "Power_Ready 迟到：Accept（第 3 条）之后 398.4 ms（限 120.0 ms，tPowReady（≤11 V），9.3 "
        "表 38）");
    EXPECT_EQ(late.limit, "tPowReady（≤11 V）");
    EXPECT_EQ(report.faultyRecords(), std::vector<uint32_t>{5});

    SequenceWindows longer;
    longer.powerReadyUs = 500'000;
    SequenceChecker patient(longer);
    for (std::size_t i = 0; i < slow.size(); ++i) {
        test::TestRecord record = recordOf(slow[i]);
        const auto ticks = static_cast<uint16_t>(slow[i].ms * 5);
        record.setTime(0, ticks);
        patient.add(record.view(), static_cast<uint32_t>(i + 1));
    }
    EXPECT_EQ(patient.report().findingCount(), 0u);
}

// Power_Ready is judged by tPowReady of the voltage asked for, never beyond
// tPowerSupply; a user's window replaces both, and a user's ACK window is cited as set.
TEST(SequenceCheck, PowerReadyLimitFollowsTheRequestedVoltage) {
    struct PowerCase {
        uint32_t requestMv;
        double powerReadyMs;  // from the Accept at 5.6 ms
        std::optional<uint32_t> userWindowUs;
        bool late;
        const char* limit;
        const char* clause;
    };
    const PowerCase cases[] = {
        {5000, 119, {}, false, "tPowReady（≤11 V）", "9.3 表 38"},
        {11000, 121, {}, true, "tPowReady（≤11 V）", "9.3 表 38"},
        {11010, 121, {}, false, "tPowReady（≤20 V）", "9.3 表 38"},
        {20000, 276, {}, true, "tPowReady（≤20 V）", "9.3 表 38"},
        {28000, 399, {}, false, "tPowReady（≤30 V）", "9.3 表 38"},
        {30000, 401, {}, true, "tPowReady（≤30 V）", "9.3 表 38"},
        {33000, 549, {}, false, "tPowerSupply", "7.3 表 27"},
        {33000, 551, {}, true, "tPowerSupply", "7.3 表 27"},
        {5000, 200, 250'000, false, "tPowReady", "设置"},
        {5000, 300, 250'000, true, "tPowReady", "设置"},
    };
    for (const PowerCase& c : cases) {
        std::vector<Step> steps = kGrantedRequest;
        steps[0].requestMv = c.requestMv;
        steps[4].ms = c.powerReadyMs + 5.6;
        steps[5].ms = c.powerReadyMs + 6.6;
        SequenceWindows windows;
        windows.powerReadyUs = c.userWindowUs;
        const SequenceReport report = check(steps, false, windows);
        const std::string name =
            std::to_string(c.requestMv) + " mV at " + std::to_string(c.powerReadyMs) + " ms";
        ASSERT_EQ(report.notesFor(5).size(), 1u) << name;
        const SequenceNote& note = *report.notesFor(5).front();
        EXPECT_EQ(note.kind == FindingKind::Late, c.late) << name;
        EXPECT_EQ(report.findingCount(), c.late ? 1u : 0u) << name;
        EXPECT_EQ(note.limit, c.limit) << name;
        EXPECT_EQ(note.clause, c.clause) << name;
    }

    SequenceWindows quick;
    quick.ackUs = 1'000;
    const SequenceReport report = check(kGrantedRequest, false, quick);
    ASSERT_TRUE(report.hasFinding(2));
    EXPECT_EQ(report.notesFor(2).front()->text,
              "ACK 迟到：第 1 条 Request 之后 1.1 ms（限 1.0 ms，tACKReceive，设置）");
}

TEST(SequenceCheck, FindingKindsAreNamedBothWays) {
    for (std::size_t i = 0; i < kFindingKindCount; ++i) {
        const auto kind = static_cast<FindingKind>(i);
        EXPECT_EQ(findingKindNamed(findingKindName(kind)), kind);
    }
    EXPECT_EQ(findingKindName(FindingKind::HandshakePulse), "handshake_pulse");
    EXPECT_EQ(findingKindNamed("too_soon"), FindingKind::TooSoon);
    EXPECT_FALSE(findingKindNamed("late ").has_value());
    EXPECT_FALSE(findingKindNamed("").has_value());
}

TEST(SequenceCheck, RefusedAcksAreNotMissed) {
    const std::vector<Step> steps = {{kSnk, 0, kTypeControl, cc::kPing, 0},
                                     {kSnk, 1, kTypeControl, cc::kPing, 20}};
    EXPECT_EQ(findings(check(steps, true)).size(), 0u);
    EXPECT_EQ(findings(check(steps, false)).size(), 1u);
}

}  // namespace
