#pragma once
// Checks across messages, from the traffic alone: the ACK that answers each
// message, each sender's message numbers, and the request chains (Request ->
// Accept or Refuse -> Power_Ready, Get_* -> its answer). Every record that
// takes part gets notes: timings for the record that completes a step, and
// findings for what went wrong.
//
// An ACK's delay counts from the end of the message it answers (its length
// at its baud rate, with a bit of idle between characters); the other steps
// count from the start of the message that began them.
//
// Who sent a message: D+ carries the source, D- the sink; a message captured
// without a line is taken to come from the party it is not addressed to, and
// one addressed to the cable from an unknown sender is left out of the
// number checks.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ufcs/capture_record.h"
#include "ufcs/capture_store.h"
#include "ufcs/standard_limits.h"

namespace ufcs {

// How long each step may take before it counts as late (microseconds); the
// standard's limits unless a user sets others.
struct SequenceWindows {
    uint32_t ackUs = standardLimit(LimitId::AckReceive).microseconds;
    // Accept/Refuse after a Request, the answer to a Get_*
    uint32_t answerUs = standardLimit(LimitId::SenderResponse).microseconds;
    // Power_Ready after Accept: one window for every voltage when set, else
    // tPowReady of the voltage asked for ...
    std::optional<uint32_t> powerReadyUs;
    // ... and never more than this, whatever the voltage.
    uint32_t powerSupplyUs = standardLimit(LimitId::PowerSupply).microseconds;
    // The least time between two messages of one sender (end to start).
    uint32_t messageGapUs = standardLimit(LimitId::MessageTransDelay).microseconds;
    bool operator==(const SequenceWindows&) const = default;
};

// A limit as a check applied it: the standard's, or one a user set in its place.
struct AppliedLimit {
    uint32_t us = 0;
    std::string name;    // "tACKReceive"
    std::string clause;  // "7.3 表 27"; "设置" for a user's value
    bool atLeast = false;
    // "限 10.0 ms，tACKReceive，7.3 表 27" ("至少 …" for a least time)
    std::string text() const;
};

enum class FindingKind : uint8_t {
    NoAck,
    AckMismatch,
    Retransmission,
    LostMessage,
    NoAnswer,
    Late,
    TooSoon,  // a sender's next message before tMsgTransDelay had passed
    // What only a sampled recording of the lines shows.
    BaudOutOfRange,
    BaudDrift,
    FramingError,
    ShortCharacterIdle,
    ShortPacketIdle,
    HandshakePulse
};
// "no_ack", "ack_mismatch", "retransmission", "lost_message", "no_answer", "late", "too_soon",
// "baud_out_of_range", "baud_drift", "framing_error", "short_character_idle",
// "short_packet_idle", "handshake_pulse".
std::string_view findingKindName(FindingKind kind);
inline constexpr std::size_t kFindingKindCount = 13;
// The kind of that name, if any.
std::optional<FindingKind> findingKindNamed(std::string_view name);

// A measured value and the range it should be in (a side without a bound is empty).
struct Measurement {
    double value = 0;
    std::optional<double> low, high;
    std::string unit;
};

struct SequenceNote {
    uint32_t index = 0;               // the record the note is about
    std::optional<FindingKind> kind;  // empty for a timing that is in order
    std::optional<int64_t> delayUs;
    std::string text;
    std::optional<Measurement> measurement;
    std::string limit;     // the limit a timing was judged by ("tACKReceive"), if any
    std::string clause;    // where it comes from ("7.3 表 27", or "设置")
    uint32_t limitUs = 0;  // its value
    bool isFinding() const { return kind.has_value(); }
};

// The notes of a capture, ordered by record index.
class SequenceReport {
  public:
    SequenceReport() = default;
    explicit SequenceReport(std::vector<SequenceNote> notes);

    const std::vector<SequenceNote>& notes() const { return notes_; }
    // The notes of one record, findings first.
    std::vector<const SequenceNote*> notesFor(uint32_t index) const;
    bool hasFinding(uint32_t index) const;
    // Record indices with at least one finding, ascending.
    const std::vector<uint32_t>& faultyRecords() const { return faulty_; }
    std::size_t findingCount() const { return findingCount_; }

  private:
    std::vector<SequenceNote> notes_;
    std::vector<uint32_t> faulty_;
    std::size_t findingCount_ = 0;
};

// Takes the records of one capture in order, as they arrive.
class SequenceChecker {
  public:
    explicit SequenceChecker(SequenceWindows windows = {}) : windows_(windows) {}

    void setWindows(SequenceWindows windows) { windows_ = windows; }
    const SequenceWindows& windows() const { return windows_; }

    // A new capture: nothing seen.
    void reset();
    void add(ConstCaptureRecord record, uint32_t index);
    // Adds the store's records it has not seen yet.
    void catchUp(const CaptureStore& store);
    uint32_t nextRecord() const { return nextRecord_; }
    // Findings made elsewhere about this capture's records (the lines of a logic
    // recording), kept beside the checker's own until the next reset().
    void addLineNotes(const std::vector<SequenceNote>& notes);

    // Everything found so far, plus the steps still open whose window had
    // passed by the time of the last record.
    const SequenceReport& report();
    // The number of findings report() holds, without making it.
    std::size_t findingCount() const;

  private:
    struct Sent {
        uint32_t index;
        uint8_t sender, receiver, number, type, command;
        int64_t timeUs;
        int64_t endUs;                        // its last bit, from its length and baud rate
        std::optional<uint32_t> requestedMv;  // a Request's voltage
    };
    struct Chain {
        Sent request;
        uint16_t expected;  // the answer awaited: type << 8 | command
        bool powerReady;    // accepted, waiting for Power_Ready
        uint32_t sinceIndex;
        int64_t sinceUs;  // when the current step began
    };
    struct LastNumber {
        bool known = false;
        uint8_t number = 0;
        uint32_t index = 0;
        uint16_t message = 0;  // type << 8 | command
        int64_t endUs = 0;
    };

    void takeMessage(ConstCaptureRecord record, uint32_t index, int64_t timeUs);
    bool answersCable(const Sent& message) const;
    void takeAck(const Sent& ack);
    void takeAnswer(const Sent& message);
    void startChain(const Sent& message);
    void checkNumber(const Sent& message);
    void checkSpacing(const Sent& message);
    AppliedLimit ackLimit() const;
    AppliedLimit answerLimit() const;
    AppliedLimit powerReadyLimit(const Sent& request) const;
    AppliedLimit gapLimit() const;
    void closeAckWaits(const Sent& message);
    void restartParties();
    void note(uint32_t index, std::optional<FindingKind> kind, std::optional<int64_t> delayUs,
              std::string text, const AppliedLimit* limit = nullptr);
    void openEnds(std::vector<SequenceNote>& out) const;

    SequenceWindows windows_;
    bool acksRefused_ = false;
    bool pingsRefused_ = false;
    std::vector<Sent> awaitingAck_;
    std::vector<Chain> chains_;
    LastNumber last_[4];      // by address 1-3: the numbered messages
    LastNumber lastSent_[4];  // by address 1-3: any message, ACKs included
    int64_t lastTimeUs_ = 0;
    uint32_t nextRecord_ = 0;
    std::vector<SequenceNote> notes_;
    std::size_t settledFindings_ = 0;
    SequenceReport report_;
    bool reportStale_ = true;
};

// The whole capture at once.
SequenceReport checkCapture(const CaptureStore& store, SequenceWindows windows,
                            const std::vector<SequenceNote>& lineNotes = {});

}  // namespace ufcs
