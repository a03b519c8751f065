#include "logic/line_signals.h"

#include <cmath>

namespace logic {
namespace {

constexpr double kShortestPulseMs = 0.75, kLongestPulseMs = 5;  // tDet1, tDet3 as recognised
constexpr double kShortestGapMs = 3, kLongestGapMs = 20;        // tDet2 as recognised
constexpr double kShortestCableResetMs = 0.8;
constexpr double kShortestDeviceResetMs = 1.8;

class SignalScan {
  public:
    SignalScan(const DigitalChannel& line, double sampleRate, uint64_t sampleCount,
               const std::vector<LinePacket>& packets)
        : line_(line),
          changes_(line.changes),
          rate_(sampleRate),
          count_(sampleCount),
          packets_(packets) {}

    std::vector<LineSignal> run() {
        std::size_t i = 0;
        while (i < changes_.size()) {
            if (inPacket(changes_[i]))
                ++i;
            else if (rising(i))
                i = afterRise(i);
            else
                i = afterFall(i);
        }
        return std::move(found_);
    }

  private:
    double ms(uint64_t samples) const { return static_cast<double>(samples) * 1e3 / rate_; }
    bool rising(std::size_t i) const { return (i % 2 == 0) != line_.initial; }

    // Whether a change belongs to a packet: from its first edge to its end bit's end.
    bool inPacket(uint64_t sample) {
        while (packet_ < packets_.size() &&
               static_cast<double>(packets_[packet_].end) + packets_[packet_].bitSamples / 2 <
                   static_cast<double>(sample))
            ++packet_;
        return packet_ < packets_.size() && sample >= packets_[packet_].firstEdge;
    }

    static bool within(double value, double low, double high) {
        return value >= low && value <= high;
    }

    // Whether the rise at changes_[i] begins high-low-high pulses of a handshake.
    bool handshakeAt(std::size_t i) {
        if (i + 3 >= changes_.size()) return false;
        for (std::size_t k = 1; k <= 3; ++k) {
            if (inPacket(changes_[i + k])) return false;
        }
        return within(ms(changes_[i + 1] - changes_[i]), kShortestPulseMs, kLongestPulseMs) &&
               within(ms(changes_[i + 2] - changes_[i + 1]), kShortestGapMs, kLongestGapMs) &&
               within(ms(changes_[i + 3] - changes_[i + 2]), kShortestPulseMs, kLongestPulseMs);
    }

    std::size_t afterRise(std::size_t i) {
        if (handshakeAt(i)) {
            LineSignal signal{changes_[i], SignalKind::Handshake, {}};
            for (std::size_t k = 0; k < 3; ++k)
                signal.widths[k] = changes_[i + k + 1] - changes_[i + k];
            found_.push_back(signal);
            return i + 4;
        }
        // A rise after a low long enough not to be part of a character: the line back at idle.
        if (i == 0 || ms(changes_[i] - changes_[i - 1]) >= kShortestCableResetMs)
            found_.push_back({changes_[i], SignalKind::Answer, {}});
        return i + 1;
    }

    std::size_t afterFall(std::size_t i) {
        const bool risesAgain = i + 1 < changes_.size();
        const uint64_t until = risesAgain ? changes_[i + 1] : std::max(count_, changes_[i]);
        const double low = ms(until - changes_[i]);
        if (low >= kShortestDeviceResetMs) {
            // The port left UFCS; what raises the line again is looked at on its own.
            found_.push_back({changes_[i], SignalKind::DeviceReset, {}});
            return i + 1;
        }
        if (risesAgain && handshakeAt(i + 1))
            return i + 1;  // the line leaving idle for a handshake
        if (low >= kShortestCableResetMs && risesAgain) {
            found_.push_back({changes_[i], SignalKind::CableReset, {}});
            return i + 2;
        }
        // Too short for a pulse: what the line carried was not a packet. The edges that
        // follow within the time-out are the same undecodable burst.
        found_.push_back({changes_[i], SignalKind::Undecoded, {}});
        const auto timeout = static_cast<uint64_t>(kFrameTimeoutSeconds * rate_);
        std::size_t next = i + 1;
        while (next + 1 < changes_.size() && changes_[next + 1] - changes_[next] <= timeout &&
               !inPacket(changes_[next + 1]))
            ++next;
        return next + 1;
    }

    const DigitalChannel& line_;
    const std::vector<uint64_t>& changes_;
    double rate_;
    uint64_t count_;
    const std::vector<LinePacket>& packets_;
    std::size_t packet_ = 0;
    std::vector<LineSignal> found_;
};

}  // namespace

std::vector<LineSignal> findLineSignals(const DigitalChannel& line, double sampleRate,
                                        uint64_t sampleCount,
                                        const std::vector<LinePacket>& packets) {
    return SignalScan(line, sampleRate, sampleCount, packets).run();
}

void writeHandshake(DigitalChannel& line, double sampleRate, double seconds,
                    const HandshakeWidths& widths) {
    if (line.lastLevel()) line.driveAt(sampleRate, seconds - kLeadInSeconds, false);
    double t = seconds;
    line.driveAt(sampleRate, t, true);
    for (int k = 0; k < 3; ++k) {
        t += widths.ms[k] / 1e3;
        line.driveAt(sampleRate, t, k % 2 == 1);
    }
}

void writeAnswer(DigitalChannel& line, double sampleRate, double seconds) {
    line.driveAt(sampleRate, seconds, true);
}

void writeLowPulse(DigitalChannel& line, double sampleRate, double seconds, double lowSeconds) {
    line.driveAt(sampleRate, seconds, false);
    if (lowSeconds > 0) line.driveAt(sampleRate, seconds + lowSeconds, true);
}

void writeUndecodable(DigitalChannel& line, double sampleRate, double seconds, double baud) {
    line.driveAt(sampleRate, seconds, false);
    line.driveAt(sampleRate, seconds + 9 / baud, true);
}

}  // namespace logic
