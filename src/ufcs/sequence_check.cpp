#include "ufcs/sequence_check.h"

#include <algorithm>
#include <array>

#include "common/format.h"
#include "ufcs/crc8.h"
#include "ufcs/list_row.h"
#include "ufcs/names.h"

namespace ufcs {
namespace {

namespace cc = control_command;
namespace dc = data_command;

constexpr uint8_t kNobody = 0;
constexpr auto kCable = static_cast<uint8_t>(DeviceAddress::Cable);

constexpr uint16_t answerKey(uint8_t type, uint8_t command) {
    return static_cast<uint16_t>(type << 8 | command);
}

// The answer a question waits for; 0 for a message that asks nothing.
uint16_t expectedAnswer(uint8_t type, uint8_t command) {
    if (type == kTypeData) {
        if (command == dc::kRequest) return answerKey(kTypeControl, cc::kAccept);
        if (command == dc::kVerifyRequest) return answerKey(kTypeData, dc::kVerifyResponse);
        return 0;
    }
    if (type != kTypeControl) return 0;
    switch (command) {
        case cc::kSoftReset:
            return answerKey(kTypeControl, cc::kAccept);
        case cc::kGetOutputCapabilities:
            return answerKey(kTypeData, dc::kOutputCapabilities);
        case cc::kGetSourceInfo:
            return answerKey(kTypeData, dc::kSourceInformation);
        case cc::kGetSinkInfo:
            return answerKey(kTypeData, dc::kSinkInformation);
        case cc::kGetCableInfo:
            return answerKey(kTypeData, dc::kCableInformation);
        case cc::kGetDeviceInfo:
            return answerKey(kTypeData, dc::kDeviceInformation);
        case cc::kGetErrorInfo:
            return answerKey(kTypeData, dc::kErrorInformation);
        default:
            return 0;
    }
}

std::string messageName(uint8_t type, uint8_t command) {
    if (type == kTypeControl && command < ControlMessageNames.size())
        return std::string(ControlMessageNames[command].english);
    if (type == kTypeData) {
        if (const auto row = dataMessageRow(command))
            return std::string(DataMessageNames[*row].english);
    }
    if (type == kTypeVendor) return "厂商消息";
    return common::format("命令 0x%.2X", command);
}

std::string_view partyName(uint8_t address) {
    return address >= 1 && address <= 3 ? DeviceAddressNames[address] : std::string_view("对方");
}

// Who sent a message: the line tells, else the party it is not addressed to.
uint8_t senderOf(uint8_t kind, uint8_t receiver) {
    const auto source = static_cast<uint8_t>(DeviceAddress::Source);
    const auto sink = static_cast<uint8_t>(DeviceAddress::Sink);
    if (kind == static_cast<uint8_t>(EventKind::MessageDPlus))
        return receiver == source ? kNobody : source;
    if (kind == static_cast<uint8_t>(EventKind::MessageDMinus))
        return receiver == sink ? kNobody : sink;
    if (receiver == source) return sink;
    if (receiver == sink) return source;
    return kNobody;
}

// A standard limit as applied: its own clause, or "设置" when a user's value stands in its place.
AppliedLimit applied(LimitId id, uint32_t us) {
    const StandardLimit& standard = standardLimit(id);
    return {us, std::string(standard.name),
            us == standard.microseconds ? std::string(standard.clause) : std::string("设置"),
            standard.atLeast};
}

}  // namespace

std::string AppliedLimit::text() const {
    return common::format("%s %s，%s，%s", atLeast ? "至少" : "限", millisecondsText(us).c_str(),
                          name.c_str(), clause.c_str());
}

std::string_view findingKindName(FindingKind kind) {
    static constexpr std::array<std::string_view, kFindingKindCount> kNames = {
        "no_ack",
        "ack_mismatch",
        "retransmission",
        "lost_message",
        "no_answer",
        "late",
        "too_soon",
        "baud_out_of_range",
        "baud_drift",
        "framing_error",
        "short_character_idle",
        "short_packet_idle",
        "handshake_pulse"};
    return kNames[static_cast<std::size_t>(kind)];
}

std::optional<FindingKind> findingKindNamed(std::string_view name) {
    for (std::size_t i = 0; i < kFindingKindCount; ++i) {
        const auto kind = static_cast<FindingKind>(i);
        if (findingKindName(kind) == name) return kind;
    }
    return std::nullopt;
}

SequenceReport::SequenceReport(std::vector<SequenceNote> notes) : notes_(std::move(notes)) {
    std::stable_sort(
        notes_.begin(), notes_.end(),
        [](const SequenceNote& a, const SequenceNote& b) { return a.index < b.index; });
    for (const SequenceNote& note : notes_) {
        if (!note.isFinding()) continue;
        ++findingCount_;
        if (faulty_.empty() || faulty_.back() != note.index) faulty_.push_back(note.index);
    }
}

std::vector<const SequenceNote*> SequenceReport::notesFor(uint32_t index) const {
    const auto first = std::lower_bound(
        notes_.begin(), notes_.end(), index,
        [](const SequenceNote& note, uint32_t wanted) { return note.index < wanted; });
    std::vector<const SequenceNote*> found;
    for (auto it = first; it != notes_.end() && it->index == index; ++it)
        found.push_back(&*it);
    std::stable_partition(found.begin(), found.end(),
                          [](const SequenceNote* note) { return note->isFinding(); });
    return found;
}

bool SequenceReport::hasFinding(uint32_t index) const {
    return std::binary_search(faulty_.begin(), faulty_.end(), index);
}

void SequenceChecker::reset() {
    acksRefused_ = pingsRefused_ = false;
    awaitingAck_.clear();
    chains_.clear();
    restartParties();
    for (LastNumber& last : lastSent_)
        last = {};
    lastTimeUs_ = 0;
    nextRecord_ = 0;
    notes_.clear();
    settledFindings_ = 0;
    reportStale_ = true;
}

void SequenceChecker::restartParties() {
    for (LastNumber& last : last_)
        last = {};
}

void SequenceChecker::catchUp(const CaptureStore& store) {
    const uint32_t count = store.count();
    if (count < nextRecord_) reset();
    for (uint32_t index = nextRecord_; index < count; ++index)
        add(store.record(index), index);
}

void SequenceChecker::add(ConstCaptureRecord record, uint32_t index) {
    nextRecord_ = index + 1;
    reportStale_ = true;
    const uint8_t kind = record.kind();
    if (kind == static_cast<uint8_t>(EventKind::CaptureHeader)) {
        const CaptureHeaderRecord header = CaptureHeaderRecord::readFrom(record);
        acksRefused_ = header.refuseAck;
        pingsRefused_ = header.refusePing;
        return;
    }
    if (isLineSignalKind(kind)) {
        // Handshakes and hardware resets start the conversation afresh.
        awaitingAck_.clear();
        chains_.clear();
        restartParties();
        for (LastNumber& last : lastSent_)
            last = {};
        lastTimeUs_ = record.timeUs();
        return;
    }
    if (!isMessageKind(kind) || record.byteCount() < 4) return;
    lastTimeUs_ = record.timeUs();
    takeMessage(record, index, lastTimeUs_);
}

void SequenceChecker::takeMessage(ConstCaptureRecord record, uint32_t index, int64_t timeUs) {
    const uint8_t receiver = record.receiver() >> 5;
    const uint8_t type = record.messageType();
    if (receiver < 1 || receiver > 3 || type > kTypeVendor) return;
    Sent message{index,       senderOf(record.kind(), receiver),
                 receiver,    static_cast<uint8_t>((record.at(16) >> 1) & 0x0F),
                 type,        record.command(),
                 timeUs,      timeUs + wireDurationUs(record.byteCount(), record.baudCode()),
                 std::nullopt};
    if (answersCable(message)) message.sender = kCable;
    if (type == kTypeData && message.command == dc::kRequest && record.byteCount() >= 14)
        message.requestedMv = (record.at(24) << 8 | record.at(25)) * 10u;
    checkSpacing(message);
    if (type == kTypeControl && (message.command == cc::kAck || message.command == cc::kNck)) {
        // A broken ACK acknowledges nothing (its row is already marked).
        if (record.byteCount() >= 5 && Crc8(record.bytes() + 16, 3) == record.at(19))
            takeAck(message);
        return;
    }
    closeAckWaits(message);
    checkNumber(message);
    if (!acksRefused_ && !(pingsRefused_ && type == kTypeControl && message.command == cc::kPing))
        awaitingAck_.push_back(message);
    takeAnswer(message);
    startChain(message);
    // After a soft reset both sides number their messages from the start again.
    if (type == kTypeControl && message.command == cc::kSoftReset) restartParties();
}

void SequenceChecker::takeAck(const Sent& ack) {
    const bool isNck = ack.command == cc::kNck;
    const std::string name = isNck ? "NCK" : "ACK";
    // The cable's line cannot be told, so an ACK for the cable is taken from either line.
    auto match = std::find_if(awaitingAck_.rbegin(), awaitingAck_.rend(), [&](const Sent& sent) {
        return sent.sender == ack.receiver && sent.number == ack.number &&
               (ack.sender == kNobody || sent.receiver == ack.sender || sent.receiver == kCable);
    });
    if (match == awaitingAck_.rend()) {
        // With ACKs or pings refused the capture lacks what this one answers.
        if (!acksRefused_ && !pingsRefused_) {
            note(ack.index, FindingKind::AckMismatch, std::nullopt,
                 common::format("%s 对不上：%s没有在等应答的编号 %d 的消息", name.c_str(),
                                std::string(partyName(ack.receiver)).c_str(), ack.number));
        }
        return;
    }
    const Sent answered = *match;
    awaitingAck_.erase(std::next(match).base());
    const int64_t delay = ack.timeUs - answered.endUs;
    const std::string what = messageName(answered.type, answered.command);
    const AppliedLimit limit = ackLimit();
    if (delay > limit.us) {
        note(ack.index, FindingKind::Late, delay,
             common::format("%s 迟到：第 %u 条 %s 之后 %s（%s）", name.c_str(), answered.index,
                            what.c_str(), millisecondsText(delay).c_str(), limit.text().c_str()),
             &limit);
    } else {
        note(ack.index, std::nullopt, delay,
             common::format("%s：应答第 %u 条 %s，用时 %s", name.c_str(), answered.index,
                            what.c_str(), millisecondsText(delay).c_str()),
             &limit);
    }
    // A refused message did not arrive: what it asked is void, and it will be sent again.
    if (isNck) {
        std::erase_if(chains_, [&](const Chain& chain) {
            return chain.request.index == answered.index && !chain.powerReady;
        });
    }
}

// The cable's answer to a question put to it, whichever line it came on.
bool SequenceChecker::answersCable(const Sent& message) const {
    const uint16_t key = answerKey(message.type, message.command);
    return std::any_of(chains_.begin(), chains_.end(), [&](const Chain& chain) {
        return chain.request.receiver == kCable && chain.request.sender == message.receiver &&
               (key == chain.expected || key == answerKey(kTypeData, dc::kRefuse));
    });
}

// A message still waiting for its ACK is left unanswered when its receiver
// speaks without acknowledging it, or its sender moves on.
void SequenceChecker::closeAckWaits(const Sent& message) {
    std::erase_if(awaitingAck_, [&](const Sent& sent) {
        const bool receiverSpoke = message.sender != kNobody && sent.receiver == message.sender;
        const bool senderMovedOn = sent.sender != kNobody && sent.sender == message.sender;
        if (!receiverSpoke && !senderMovedOn) return false;
        const std::string what = messageName(sent.type, sent.command);
        note(sent.index, FindingKind::NoAck, std::nullopt,
             common::format("没有 ACK：%s 未应答这条 %s，第 %u 条已是%s的下一条消息",
                            std::string(partyName(sent.receiver)).c_str(), what.c_str(),
                            message.index, std::string(partyName(message.sender)).c_str()));
        return true;
    });
}

void SequenceChecker::checkNumber(const Sent& message) {
    if (message.sender == kNobody) return;
    LastNumber& last = last_[message.sender];
    const std::string who(partyName(message.sender));
    if (last.known) {
        const uint8_t expected = (last.number + 1) & 0x0F;
        if (message.number == last.number) {
            note(message.index, FindingKind::Retransmission, std::nullopt,
                 common::format("重发：编号 %d 与%s上一条消息（第 %u 条）相同", message.number,
                                who.c_str(), last.index));
        } else if (message.number != expected && !pingsRefused_) {
            note(message.index, FindingKind::LostMessage, std::nullopt,
                 common::format(
                     "编号跳变：%s上一条消息（第 %u 条）编号 %d，这条应为 %d，实为 %d，缺 %d 条",
                     who.c_str(), last.index, last.number, expected, message.number,
                     (message.number - expected) & 0x0F));
        }
    }
    last = {true, message.number, message.index, 0, 0};
}

void SequenceChecker::checkSpacing(const Sent& message) {
    if (message.sender == kNobody) return;
    LastNumber& last = lastSent_[message.sender];
    const uint16_t key = answerKey(message.type, message.command);
    // A message sent again (after an NCK or a missing ACK) keeps to tRetry instead.
    const bool resent = last.known && last.number == message.number && last.message == key;
    if (last.known && !resent) {
        const int64_t gap = message.timeUs - last.endUs;
        const AppliedLimit limit = gapLimit();
        if (gap < limit.us) {
            note(message.index, FindingKind::TooSoon, gap,
                 common::format("发送过快：%s上一条消息（第 %u 条）结束后 %s 就发出这条 %s（%s）",
                                std::string(partyName(message.sender)).c_str(), last.index,
                                millisecondsText(gap).c_str(),
                                messageName(message.type, message.command).c_str(),
                                limit.text().c_str()),
                 &limit);
        }
    }
    last = {true, message.number, message.index, key, message.endUs};
}

AppliedLimit SequenceChecker::ackLimit() const {
    return applied(LimitId::AckReceive, windows_.ackUs);
}

AppliedLimit SequenceChecker::answerLimit() const {
    return applied(LimitId::SenderResponse, windows_.answerUs);
}

AppliedLimit SequenceChecker::gapLimit() const {
    return applied(LimitId::MessageTransDelay, windows_.messageGapUs);
}

// A user's window for every voltage, else tPowReady of the voltage asked for,
// never beyond tPowerSupply (which alone holds above 30 V or for a Request
// whose voltage the capture lacks).
AppliedLimit SequenceChecker::powerReadyLimit(const Sent& request) const {
    if (windows_.powerReadyUs) return {*windows_.powerReadyUs, "tPowReady", "设置", false};
    const AppliedLimit supply = applied(LimitId::PowerSupply, windows_.powerSupplyUs);
    const std::optional<LimitId> id =
        request.requestedMv ? powerReadyLimitFor(*request.requestedMv) : std::nullopt;
    if (!id || standardLimit(*id).microseconds > supply.us) return supply;
    return applied(*id, standardLimit(*id).microseconds);
}

void SequenceChecker::takeAnswer(const Sent& message) {
    const uint16_t key = answerKey(message.type, message.command);
    const bool refuse = key == answerKey(kTypeData, dc::kRefuse);
    const bool powerReady = key == answerKey(kTypeControl, cc::kPowerReady);
    for (auto it = chains_.begin(); it != chains_.end(); ++it) {
        Chain& chain = *it;
        const bool fromAsked =
            chain.request.receiver == message.sender &&
            (chain.request.sender == kNobody || chain.request.sender == message.receiver);
        if (!fromAsked) continue;
        const bool answers = chain.powerReady ? powerReady : (key == chain.expected || refuse);
        if (!answers) continue;
        const int64_t delay = message.timeUs - chain.sinceUs;
        const AppliedLimit limit =
            chain.powerReady ? powerReadyLimit(chain.request) : answerLimit();
        const std::string what = messageName(message.type, message.command);
        const std::string after =
            chain.powerReady
                ? common::format("Accept（第 %u 条）之后", chain.sinceIndex)
                : common::format("第 %u 条 %s 之后", chain.request.index,
                                 messageName(chain.request.type, chain.request.command).c_str());
        if (delay > limit.us) {
            note(message.index, FindingKind::Late, delay,
                 common::format("%s 迟到：%s %s（%s）", what.c_str(), after.c_str(),
                                millisecondsText(delay).c_str(), limit.text().c_str()),
                 &limit);
        } else {
            note(message.index, std::nullopt, delay,
                 common::format("%s：%s %s", what.c_str(), after.c_str(),
                                millisecondsText(delay).c_str()),
                 &limit);
        }
        const bool accepted = !chain.powerReady && !refuse && chain.request.type == kTypeData &&
                              chain.request.command == dc::kRequest;
        if (accepted) {
            chain.powerReady = true;
            chain.sinceIndex = message.index;
            chain.sinceUs = message.timeUs;
        } else {
            chains_.erase(it);
        }
        return;
    }
}

void SequenceChecker::startChain(const Sent& message) {
    const uint16_t expected = expectedAnswer(message.type, message.command);
    if (expected == 0) return;
    auto same = std::find_if(chains_.begin(), chains_.end(), [&](const Chain& chain) {
        return chain.request.sender == message.sender &&
               chain.request.receiver == message.receiver && chain.expected == expected;
    });
    if (same != chains_.end()) {
        // The same question again: a copy of the unanswered one is no news.
        const bool resent = !same->powerReady && same->request.number == message.number;
        if (!resent) {
            note(same->powerReady ? same->sinceIndex : same->request.index, FindingKind::NoAnswer,
                 std::nullopt,
                 same->powerReady
                     ? common::format(
                           "没有 Power_Ready：第 %u 条 Request 被接受后，第 %u 条已是下一个请求",
                           same->request.index, message.index)
                     : common::format("没有回答：%s未回答这条 %s，第 %u 条已是下一个同样的请求",
                                      std::string(partyName(message.receiver)).c_str(),
                                      messageName(message.type, message.command).c_str(),
                                      message.index));
        }
        chains_.erase(same);
    }
    chains_.push_back({message, expected, false, message.index, message.timeUs});
}

void SequenceChecker::note(uint32_t index, std::optional<FindingKind> kind,
                           std::optional<int64_t> delayUs, std::string text,
                           const AppliedLimit* limit) {
    if (kind) ++settledFindings_;
    SequenceNote made{index, kind, delayUs, std::move(text), std::nullopt, {}, {}, 0};
    if (limit) {
        made.limit = limit->name;
        made.clause = limit->clause;
        made.limitUs = limit->us;
    }
    notes_.push_back(std::move(made));
}

void SequenceChecker::openEnds(std::vector<SequenceNote>& out) const {
    const AppliedLimit ack = ackLimit();
    for (const Sent& sent : awaitingAck_) {
        if (lastTimeUs_ - sent.endUs <= ack.us) continue;
        out.push_back({sent.index, FindingKind::NoAck, std::nullopt,
                       common::format("没有 ACK：%s %s 内未应答这条 %s（%s，%s）",
                                      std::string(partyName(sent.receiver)).c_str(),
                                      millisecondsText(ack.us).c_str(),
                                      messageName(sent.type, sent.command).c_str(),
                                      ack.name.c_str(), ack.clause.c_str()),
                       std::nullopt, ack.name, ack.clause, ack.us});
    }
    for (const Chain& chain : chains_) {
        const AppliedLimit limit =
            chain.powerReady ? powerReadyLimit(chain.request) : answerLimit();
        if (lastTimeUs_ - chain.sinceUs <= limit.us) continue;
        const std::string where = limit.name + "，" + limit.clause;
        out.push_back(
            {chain.sinceIndex, FindingKind::NoAnswer, std::nullopt,
             chain.powerReady
                 ? common::format("没有 Power_Ready：Accept 之后 %s 内未见电压调整完毕（%s）",
                                  millisecondsText(limit.us).c_str(), where.c_str())
                 : common::format("没有回答：%s %s 内未回答这条 %s（%s）",
                                  std::string(partyName(chain.request.receiver)).c_str(),
                                  millisecondsText(limit.us).c_str(),
                                  messageName(chain.request.type, chain.request.command).c_str(),
                                  where.c_str()),
             std::nullopt, limit.name, limit.clause, limit.us});
    }
}

const SequenceReport& SequenceChecker::report() {
    if (reportStale_) {
        std::vector<SequenceNote> notes = notes_;
        openEnds(notes);
        report_ = SequenceReport(std::move(notes));
        reportStale_ = false;
    }
    return report_;
}

std::size_t SequenceChecker::findingCount() const {
    std::vector<SequenceNote> open;
    openEnds(open);
    return settledFindings_ + open.size();
}

void SequenceChecker::addLineNotes(const std::vector<SequenceNote>& notes) {
    for (const SequenceNote& note : notes) {
        notes_.push_back(note);
        if (note.isFinding()) ++settledFindings_;
    }
    reportStale_ = true;
}

SequenceReport checkCapture(const CaptureStore& store, SequenceWindows windows,
                            const std::vector<SequenceNote>& lineNotes) {
    SequenceChecker checker(windows);
    checker.addLineNotes(lineNotes);
    checker.catchUp(store);
    return checker.report();
}

}  // namespace ufcs
