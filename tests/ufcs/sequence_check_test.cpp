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
};

constexpr auto kSrc = Step::Source;
constexpr auto kSnk = Step::Sink;

test::TestRecord recordOf(const Step& step) {
    if (step.who == Step::Reset)
        return test::makeRecord(static_cast<uint8_t>(EventKind::ResetSinkDPlus), {});
    const bool fromSource = step.who == Step::Source;
    const DeviceAddress to = fromSource ? DeviceAddress::Sink : DeviceAddress::Source;
    const std::vector<uint8_t> wire =
        step.type == kTypeControl
            ? encodeControlMessage(to, step.number, step.command)
            : encodeDataMessage(to, step.number, step.command, std::vector<uint8_t>(8, 0x10));
    return test::makeRecord(
        static_cast<uint8_t>(fromSource ? EventKind::MessageDPlus : EventKind::MessageDMinus),
        wire);
}

SequenceReport check(const std::vector<Step>& steps, bool refuseAck = false) {
    SequenceChecker checker;
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

// A phone's Request granted in time: every step acknowledged.
const std::vector<Step> kGrantedRequest = {
    {kSnk, 3, kTypeData, dc::kRequest, 0},        {kSrc, 3, kTypeControl, cc::kAck, 2.4},
    {kSrc, 8, kTypeControl, cc::kAccept, 4},      {kSnk, 8, kTypeControl, cc::kAck, 5},
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
          {kSrc, 4, kTypeData, dc::kRefuse, 3},
          {kSnk, 4, kTypeControl, cc::kAck, 4},
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
        {"late ACK",
         {{kSnk, 0, kTypeControl, cc::kPing, 0}, {kSrc, 0, kTypeControl, cc::kAck, 8}},
         {{2, FindingKind::Late}}},
        {"late Power_Ready",
         {{kSnk, 3, kTypeData, dc::kRequest, 0},
          {kSrc, 3, kTypeControl, cc::kAck, 1},
          {kSrc, 8, kTypeControl, cc::kAccept, 4},
          {kSnk, 8, kTypeControl, cc::kAck, 5},
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
        {"NCK voids the question; the copy is answered",
         {{kSnk, 0, kTypeControl, cc::kGetSourceInfo, 0},
          {kSrc, 0, kTypeControl, cc::kNck, 1},
          {kSnk, 0, kTypeControl, cc::kGetSourceInfo, 3},
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
    EXPECT_EQ(powerReady[0]->delayUs, 86000);
    EXPECT_EQ(powerReady[0]->text, "Power_Ready：Accept（第 3 条）之后 86.0 ms");
}

TEST(SequenceCheck, LateFindingCarriesItsDelayAndWindowsAreSettable) {
    std::vector<Step> slow = kGrantedRequest;
    slow[4].ms = 404;
    slow[5].ms = 405;
    const SequenceReport report = check(slow);
    ASSERT_TRUE(report.hasFinding(5));
    const SequenceNote& late = *report.notesFor(5).front();
    EXPECT_EQ(late.delayUs, 400000);
    EXPECT_EQ(late.text, "Power_Ready 迟到：Accept（第 3 条）之后 400.0 ms（限 300.0 ms）");
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

TEST(SequenceCheck, RefusedAcksAreNotMissed) {
    const std::vector<Step> steps = {{kSnk, 0, kTypeControl, cc::kPing, 0},
                                     {kSnk, 1, kTypeControl, cc::kPing, 20}};
    EXPECT_EQ(findings(check(steps, true)).size(), 0u);
    EXPECT_EQ(findings(check(steps, false)).size(), 1u);
}

}  // namespace
