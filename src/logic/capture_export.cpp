#include "logic/capture_export.h"

#include <algorithm>
#include <vector>

#include "logic/line_decoder.h"
#include "logic/line_findings.h"
#include "logic/line_signals.h"
#include "ufcs/capture_record.h"

namespace logic {
namespace {

using ufcs::EventKind;

// The line a record's pulses go on: 0 D+, 1 D-, nothing for what has no line.
std::optional<int> lineOf(ufcs::ConstCaptureRecord record) {
    switch (static_cast<EventKind>(record.kind())) {
        case EventKind::MessageDPlus:
        case EventKind::HandshakeDPlus:
        case EventKind::HandshakeSourceAnswer:
        case EventKind::ResetSinkDPlus:
        case EventKind::ResetCableDPlus:
        case EventKind::DecodeErrorDPlus:
            return 0;
        case EventKind::MessageDMinus:
        case EventKind::HandshakeDMinus:
        case EventKind::HandshakeSinkReply:
        case EventKind::ResetSourceDMinus:
        case EventKind::ResetCableDMinus:
        case EventKind::DecodeErrorDMinus:
            return 1;
        case EventKind::Message:
        case EventKind::MessageUnchecked:
            // The source talks on D+: a message to the sink came from it.
            return record.byteCount() >= 2 && record.receiver() == 0x40 ? 0 : 1;
        default:
            return std::nullopt;
    }
}

bool startsLow(uint8_t kind) {
    return kind == 0xF0 || kind == 0xF1 || kind == 0xF2 || kind == 0xF3;
}

}  // namespace

Synthesis synthesizeRecording(const ufcs::CaptureStore& store, const SynthesisOptions& options) {
    Synthesis result;
    LogicRecording& recording = result.recording;
    recording.sampleRate = options.sampleRate;
    recording.channels = {{"D+", true, {}}, {"D-", true, {}}};
    const uint32_t count = store.count();
    if (count < 2) return result;
    const int64_t originUs = store.record(1).timeUs();
    bool seen[2] = {false, false};
    double lineEnd[2] = {0, 0};  // when each line's last packet or pulse ended
    double last = kLeadSeconds;
    const double rate = options.sampleRate;
    // Characters nearer the line's last ones than the time-out would be read as their
    // continuation: they go after them, with the idle the standard asks between packets.
    auto clearOfTheLineBefore = [&result](double& t, double lineEnd) {
        if (t >= lineEnd + kFrameTimeoutSeconds + 1e-4) return;
        t = lineEnd + kShortestPacketIdleMs / 1e3;
        ++result.moved;
    };
    for (uint32_t index = 1; index < count; ++index) {
        const ufcs::ConstCaptureRecord record = store.record(index);
        const std::optional<int> line = lineOf(record);
        if (!line) continue;
        DigitalChannel& channel = recording.channels[*line];
        const uint8_t kind = record.kind();
        if (!seen[*line]) {
            channel.initial = !startsLow(kind);  // before a handshake the lines read low
            seen[*line] = true;
        }
        double t = kLeadSeconds + static_cast<double>(record.timeUs() - originUs) / 1e6;
        if (ufcs::isMessageKind(kind)) {
            const std::size_t length =
                std::min<std::size_t>(record.byteCount(), ufcs::kMaxCapturedBytes);
            if (length == 0) continue;
            clearOfTheLineBefore(t, lineEnd[*line]);
            if (!channel.lastLevel()) writeAnswer(channel, rate, t - kLeadInSeconds);
            const double baud =
                ufcs::baudRate(record.baudCode()) * (1 + options.baudErrorPercent / 100);
            PacketFlaws flaws;
            flaws.idleBits = options.gapSeconds ? *options.gapSeconds * baud : 1;
            flaws.driftPercent = options.driftPercent;
            flaws.jitterSeconds = options.jitterSeconds;
            const std::vector<uint8_t> bytes(record.wire(), record.wire() + length);
            lineEnd[*line] = writePacket(channel, rate, t, bytes, baud, flaws);
        } else {
            switch (static_cast<EventKind>(kind)) {
                case EventKind::HandshakeDPlus:
                case EventKind::HandshakeDMinus:
                    writeHandshake(channel, rate, t);
                    lineEnd[*line] = t + kHandshakeSeconds;
                    break;
                case EventKind::HandshakeSourceAnswer:
                case EventKind::HandshakeSinkReply:
                    writeAnswer(channel, rate, t);
                    lineEnd[*line] = t;
                    break;
                case EventKind::ResetSinkDPlus:
                case EventKind::ResetSourceDMinus:
                    writeLowPulse(channel, rate, t, 0);  // the port leaves UFCS: the line stays low
                    lineEnd[*line] = t + kDeviceResetSeconds;
                    break;
                case EventKind::DecodeErrorDPlus:
                case EventKind::DecodeErrorDMinus: {
                    clearOfTheLineBefore(t, lineEnd[*line]);
                    const double baud = ufcs::baudRate(record.baudCode());
                    writeUndecodable(channel, rate, t, baud);
                    lineEnd[*line] = t + 10 / baud;
                    break;
                }
                default:
                    writeLowPulse(channel, rate, t, kCableResetSeconds);
                    lineEnd[*line] = t + kCableResetSeconds;
                    break;
            }
        }
        last = std::max(last, lineEnd[*line]);
        ++result.written;
    }
    recording.sampleCount = static_cast<uint64_t>((last + kLeadSeconds) * rate);
    return result;
}

}  // namespace logic
