#pragma once
// Judging a charger against the UFCS standard: the instrument acts as the
// phone and walks a plan of sends (planActions); whoever drives the
// instrument sends each one, waits for its answers and notes which records
// they brought; evaluate() then judges the whole capture, test by test,
// each with its limit and clause, the value measured, a verdict and the rows
// that prove it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analyzer/composer.h"
#include "ufcs/capture_store.h"
#include "ufcs/sequence_check.h"

namespace qualify {

enum class Verdict { Pass, Fail, NotMeasurable };
// "PASS", "FAIL", "NOT MEASURABLE"
std::string_view verdictName(Verdict verdict);

struct TestResult {
    std::string id;     // "M2.high.ready"
    std::string title;  // "输出模式 2 最高电压 11.00 V：Power_Ready 及时"
    std::string limit;  // "≤ 120.0 ms", "4.85-5.50 V"
    std::string clause;
    std::string measured;  // "84.4 ms"; empty when nothing was measured
    std::optional<double> value;
    std::string unit;
    Verdict verdict = Verdict::NotMeasurable;
    std::string reason;          // why it failed or could not be measured
    std::vector<uint32_t> rows;  // the records that prove it
};

// An output mode as the charger's Output_Capabilities offers it.
struct ModeOffer {
    unsigned number = 0;
    unsigned stepCode = 0;  // current step code (0-4 valid)
    uint32_t minMillivolts = 0, maxMillivolts = 0;
    uint32_t minMilliamps = 0, maxMilliamps = 0;
    bool operator==(const ModeOffer&) const = default;
};

// What a plan asks beyond the default: tests chosen, more voltage points,
// tighter limits.
struct Plan {
    std::vector<std::string> only;          // test id prefixes to keep (empty: all)
    std::vector<uint32_t> extraMillivolts;  // more Request points, in every mode that holds them
    ufcs::SequenceWindows windows;          // the timing limits (the standard's unless set)
    // A maker's own bounds on the output voltage, tighter than table 39's (mV).
    std::optional<uint32_t> voltageToleranceMv;
    std::optional<uint32_t> readBackToleranceMv;
};

// One send of the run. The driver fills in the records it brought.
struct Action {
    enum class Purpose {
        Ping,
        AskCapabilities,
        AskSourceInfo,
        AskDeviceInfo,
        AskErrorInfo,
        Request,
        OutOfRangeRequest,
        SoftReset,
    };
    Purpose purpose = Purpose::Ping;
    std::string label;  // "M2.high"
    int position = analyzer::kSendPing;
    analyzer::SendPages pages;
    // A Request: the driver waits for Power_Ready or Refuse, not just for quiet.
    bool waitsForPower = false;
    uint32_t firstRecord = 0;  // the store's count when it was sent
    uint32_t endRecord = 0;    // ... and once its answers had come
    bool sent = false;         // the send was made (firstRecord holds)
    bool ran = false;          // ... and its answers were awaited (endRecord holds)
};

// The charger's modes from the last Output_Capabilities in records [0, end).
std::optional<std::vector<ModeOffer>> offeredModes(const ufcs::CaptureStore& store, uint32_t end);

// The sends of the whole run, in order, for the charger's modes.
std::vector<Action> planActions(const std::vector<ModeOffer>& modes, const Plan& plan);

// Whether the records [from, end) hold the answer an action waits for.
bool answered(const ufcs::CaptureStore& store, const Action& action, uint32_t from, uint32_t end);

struct QualificationReport {
    std::vector<ModeOffer> modes;
    std::string deviceInfo;  // the charger's Device_Information, as the decoder names it
    std::vector<TestResult> tests;
    // Why the run ended before its last send (the user stopped it, the
    // instrument went); empty for a whole run.
    std::string stoppedBecause;
    bool complete() const { return stoppedBecause.empty(); }
    std::size_t count(Verdict verdict) const;
    // "通过 N 项，未通过 N 项，无法测量 N 项"
    std::string countsText() const;
    // The whole plan ran and no test failed.
    bool passed() const { return complete() && count(Verdict::Fail) == 0; }
    // "PASS", "FAIL" (a test failed), or "INCOMPLETE" (stopped before the end, none failed).
    std::string_view overallVerdict() const;
    // "通过", "未通过", "未完成"
    std::string_view overallVerdictText() const;
};

// Judges the run: `connectEnd` is the store's count when the instrument had
// connected (the handshake and the first Output_Capabilities lie before it).
// The tests of an action that did not run (or whose measuring question did
// not) are NOT MEASURABLE, "not reached".
QualificationReport evaluate(const ufcs::CaptureStore& store, uint32_t connectEnd,
                             const std::vector<ModeOffer>& modes,
                             const std::vector<Action>& actions, const Plan& plan);

}  // namespace qualify
