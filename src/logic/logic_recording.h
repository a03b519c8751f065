#pragma once
// A recording of digital lines as a logic analyzer makes it, kept as the
// moments each line changed level: D+ and D- change a few times a bit, so a
// few million samples a second cost only their edges.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace logic {

// One digital line: its level before the first change, then the samples at
// which it changed (each one toggles it), strictly increasing.
struct DigitalChannel {
    std::string name;
    bool initial = true;
    std::vector<uint64_t> changes;

    // The level at `sample`.
    bool levelAt(uint64_t sample) const;
    // The first change after `sample` (none: the line stays as it is).
    std::optional<uint64_t> nextChangeAfter(uint64_t sample) const;
    // Records a level seen at `sample` (never before the last change); a change when it differs.
    void see(uint64_t sample, bool level);
    // The level after the last change.
    bool lastLevel() const { return changes.size() % 2 == 0 ? initial : !initial; }
    // Drives the line to `level` at `seconds` (the nearest sample, never before the last change).
    void driveAt(double sampleRate, double seconds, bool level);
};

// An analog line (bus voltage, a shunt's voltage) as the mean of each
// millisecond: the records need its value at a moment, not every sample.
struct AnalogChannel {
    std::string name;
    double pointsPerSecond = 1000;
    std::vector<float> points;
    // The mean around `seconds`; nothing outside the recording.
    std::optional<double> valueAt(double seconds) const;
};

struct LogicRecording {
    double sampleRate = 0;     // samples a second
    uint64_t sampleCount = 0;  // the recording's length
    std::vector<DigitalChannel> channels;
    std::vector<AnalogChannel> analog;

    double secondsAt(uint64_t sample) const { return static_cast<double>(sample) / sampleRate; }
};

// A reader's result: the recording, or one message that names the file and what is wrong.
struct LogicLoad {
    std::optional<LogicRecording> recording;
    std::string message;
    bool cancelled = false;  // stopped when asked: no message
};

// Told how far a read has come (bytes of the file's, or its members', `total`);
// false stops the read.
using ReadProgress = std::function<bool(uint64_t done, uint64_t total)>;

// Counts what a reader has read, telling its progress a megabyte at a time.
class ReadTally {
  public:
    ReadTally(ReadProgress progress = {}, uint64_t total = 0)
        : progress_(std::move(progress)), total_(total) {}
    // `bytes` more were read; false once the read is to stop.
    bool add(uint64_t bytes);
    bool stopped() const { return stopped_; }

  private:
    ReadProgress progress_;
    uint64_t total_ = 0, done_ = 0, told_ = 0;
    bool stopped_ = false;
};

// Bounds a hostile file cannot talk the readers past.
inline constexpr std::size_t kMostChannels = 64;
inline constexpr std::size_t kMostChanges = 200'000'000;  // edges kept in all, about 1.6 GB
inline constexpr double kHighestSampleRate = 100e9;
inline constexpr std::size_t kMostAnalogPoints = 100'000'000;  // about a day at 1 kHz, 400 MB

// "24 MHz", "500kHz", "1 GHz", "100 Hz", "1e6": samples a second, up to the highest.
std::optional<double> parseSampleRate(std::string_view text);

}  // namespace logic
