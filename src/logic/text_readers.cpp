#include "logic/text_readers.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include "common/format.h"

namespace logic {
namespace {

constexpr std::size_t kLongestToken = 4096;
constexpr std::size_t kLongestLine = 64 * 1024;

LogicLoad refused(const std::string& name, const std::string& what) {
    return {std::nullopt, "无法读取 " + name + "：" + what};
}

// Whitespace-separated words, none longer than kLongestToken.
class Tokens {
  public:
    explicit Tokens(std::istream& in) : in_(in) {}
    // The next word; nothing at the end (or, with `tooLong` set, at a word too long to be one).
    std::optional<std::string> next() {
        std::string word;
        int c;
        while ((c = in_.get()) != EOF && std::isspace(c)) {
        }
        for (; c != EOF && !std::isspace(c); c = in_.get()) {
            if (word.size() == kLongestToken) {
                tooLong = true;
                return std::nullopt;
            }
            word.push_back(static_cast<char>(c));
        }
        if (word.empty()) return std::nullopt;
        return word;
    }
    bool tooLong = false;

  private:
    std::istream& in_;
};

// "1ns", "10 us", "100ps": seconds per time unit.
std::optional<double> timeScale(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    const std::string number = text.substr(0, digits), unit = text.substr(digits);
    if (number != "1" && number != "10" && number != "100") return std::nullopt;
    static const std::map<std::string, double> kUnits = {
        {"s", 1}, {"ms", 1e-3}, {"us", 1e-6}, {"ns", 1e-9}, {"ps", 1e-12}, {"fs", 1e-15}};
    const auto found = kUnits.find(unit);
    if (found == kUnits.end()) return std::nullopt;
    return std::stod(number) * found->second;
}

std::optional<uint64_t> wholeNumber(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

// The sample rate a text recording's times were taken at. The text gives
// times, and its unit (a VCD's time scale, a CSV's decimals) is often finer
// than the analyzer's sample: a 24 MHz recording read as exact nanoseconds
// would see flaws of a sample that are not there. The rate is the lowest of
// the analyzers' usual rates on whose grid every time lies (within the text's
// rounding), else the text's unit.
class SampleGrid {
  public:
    // A time as written (from the analyzer's trigger, which lies on its grid), to
    // `unit` seconds.
    void see(double seconds, double unit) {
        unit_ = std::min(unit_, unit);
        const double nanoseconds = seconds * 1e9;
        const double slack = 0.5 * unit * 1e9 + 1e-3;
        for (std::size_t k = 0; k < std::size(kRates); ++k) {
            if (!fits_[k]) continue;
            const double period = 1e9 / kRates[k];
            fits_[k] = std::abs(nanoseconds - std::round(nanoseconds / period) * period) <= slack;
        }
    }

    // Puts the recording's edges, counted in ticks of `tick` seconds, on that grid.
    void apply(LogicRecording& recording, double tick, uint64_t lastTick) const {
        // Whole hertz where the unit is a power of ten (1 / 1e-9 is not quite 1e9).
        auto perSecond = [](double unit) { return unit <= 1 ? std::round(1 / unit) : 1 / unit; };
        double rate = perSecond(unit_);
        for (std::size_t k = 0; k < std::size(kRates); ++k)
            if (fits_[k]) {
                rate = kRates[k];
                break;
            }
        rate = std::min(rate, perSecond(tick));
        const double perTick = rate * tick;
        auto sampleOf = [perTick](uint64_t at) {
            return static_cast<uint64_t>(std::llround(static_cast<double>(at) * perTick));
        };
        if (perTick < 1) {
            for (DigitalChannel& channel : recording.channels) {
                DigitalChannel onGrid{channel.name, channel.initial, {}};
                bool level = channel.initial;
                for (const uint64_t at : channel.changes)
                    onGrid.see(sampleOf(at), level = !level);
                channel = std::move(onGrid);
            }
        }
        recording.sampleRate = rate;
        recording.sampleCount = sampleOf(lastTick) + 1;
    }

  private:
    static constexpr double kRates[] = {1e3,   2e3,   5e3, 1e4,  2e4,  25e3, 5e4,   1e5,  2e5, 25e4,
                                        5e5,   1e6,   2e6, 3e6,  4e6,  5e6,  625e4, 8e6,  1e7, 12e6,
                                        125e5, 16e6,  2e7, 24e6, 25e6, 32e6, 4e7,   48e6, 5e7, 64e6,
                                        1e8,   125e6, 2e8, 25e7, 4e8,  5e8,  1e9};
    std::array<bool, std::size(kRates)> fits_ = [] {
        std::array<bool, std::size(kRates)> all{};
        all.fill(true);
        return all;
    }();
    double unit_ = 1;
};

class VcdReader {
  public:
    VcdReader(std::istream& in, std::string name) : tokens_(in), name_(std::move(name)) {}

    LogicLoad read() {
        while (const auto token = tokens_.next()) {
            if (const auto problem = take(*token)) return refused(name_, *problem);
        }
        if (tokens_.tooLong) return refused(name_, "有一个词长于 4096 个字符，不是 VCD 文件");
        if (!definitionsEnded_) return refused(name_, "没有 $enddefinitions，不是完整的 VCD 文件");
        if (!scale_) return refused(name_, "没有 $timescale");
        if (recording_.channels.empty()) return refused(name_, "没有 1 位的信号（$var wire 1 …）");
        grid_.apply(recording_, *scale_, time_);
        return {std::move(recording_), {}};
    }

  private:
    std::optional<std::string> take(const std::string& token) {
        if (token == "$timescale") return readTimeScale();
        if (token == "$var") return readVar();
        if (token == "$enddefinitions") {
            definitionsEnded_ = true;
            return skipToEnd();
        }
        if (token == "$dumpvars" || token == "$dumpall" || token == "$dumpon" ||
            token == "$dumpoff" || token == "$end")
            return std::nullopt;                  // their value changes are read as any others
        if (token[0] == '$') return skipToEnd();  // $date, $version, $scope, $comment, ...
        if (!definitionsEnded_) return "在 $enddefinitions 之前有数值：" + token;
        if (token[0] == '#') return takeTime(token);
        return takeValue(token);
    }

    std::optional<std::string> skipToEnd() {
        while (const auto token = tokens_.next()) {
            if (*token == "$end") return std::nullopt;
        }
        return std::string("缺少 $end");
    }

    std::optional<std::string> readTimeScale() {
        std::string text;
        while (const auto token = tokens_.next()) {
            if (*token == "$end") {
                scale_ = timeScale(text);
                if (!scale_) return "时间单位 '" + text + "' 不是 VCD 的时间单位";
                if (1 / *scale_ > kHighestSampleRate) return "时间单位 '" + text + "' 太小";
                return std::nullopt;
            }
            text += *token;
        }
        return std::string("$timescale 缺少 $end");
    }

    // $var TYPE WIDTH ID REFERENCE [RANGE] $end
    std::optional<std::string> readVar() {
        std::vector<std::string> words;
        while (const auto token = tokens_.next()) {
            if (*token == "$end") {
                if (words.size() < 4) return std::string("$var 不完整");
                static const std::set<std::string> kNotLines = {"real", "realtime", "event",
                                                                "parameter", "string"};
                if (words[1] != "1" || kNotLines.count(words[0])) return std::nullopt;
                if (ids_.count(words[2])) return std::nullopt;  // the same signal in another scope
                if (recording_.channels.size() == kMostChannels)
                    return "信号多于 " + std::to_string(kMostChannels) + " 个";
                ids_[words[2]] = recording_.channels.size();
                recording_.channels.push_back({words[3], true, {}});
                started_.push_back(false);
                return std::nullopt;
            }
            if (words.size() < 8) words.push_back(*token);
        }
        return std::string("$var 缺少 $end");
    }

    std::optional<std::string> takeTime(const std::string& token) {
        const auto time = wholeNumber(std::string_view(token).substr(1));
        if (!time) return "时间 '" + token + "' 不是整数";
        if (*time < time_)
            return common::format("时间倒退：#%llu 在 #%llu 之后",
                                  static_cast<unsigned long long>(*time),
                                  static_cast<unsigned long long>(time_));
        time_ = *time;
        return std::nullopt;
    }

    std::optional<std::string> takeValue(const std::string& token) {
        const char kind = token[0];
        if (kind == 'b' || kind == 'B' || kind == 'r' || kind == 'R') {
            const auto id = tokens_.next();  // a bus or a real: its identifier follows
            if (!id) return std::string("数值 '" + token + "' 缺少信号标识");
            if (kind == 'b' || kind == 'B') return set(*id, token.back());
            return std::nullopt;
        }
        if (token.size() < 2) return "不认识的数值 '" + token + "'";
        return set(token.substr(1), kind);
    }

    std::optional<std::string> set(const std::string& id, char value) {
        const auto found = ids_.find(id);
        if (found == ids_.end()) return std::nullopt;           // a signal that is not a line
        if (value != '0' && value != '1') return std::nullopt;  // x, z: the level stays
        DigitalChannel& channel = recording_.channels[found->second];
        const bool level = value == '1';
        if (!started_[found->second]) {
            started_[found->second] = true;
            channel.initial = level;
            return std::nullopt;
        }
        if (++changes_ > kMostChanges) return std::string("电平变化太多");
        channel.see(time_, level);
        if (scale_) grid_.see(static_cast<double>(time_) * *scale_, *scale_);
        return std::nullopt;
    }

    Tokens tokens_;
    std::string name_;
    LogicRecording recording_;
    std::map<std::string, std::size_t> ids_;
    std::vector<bool> started_;
    std::optional<double> scale_;
    SampleGrid grid_;
    bool definitionsEnded_ = false;
    uint64_t time_ = 0;
    std::size_t changes_ = 0;
};

// One line of at most kLongestLine characters, without its end; nothing at the end.
std::optional<std::string> readLine(std::istream& in, bool& tooLong) {
    std::string line;
    int c;
    while ((c = in.get()) != EOF && c != '\n') {
        if (line.size() == kLongestLine) {
            tooLong = true;
            return std::nullopt;
        }
        line.push_back(static_cast<char>(c));
    }
    if (c == EOF && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '"' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '"' || text.back() == '\t'))
        text.remove_suffix(1);
    return std::string(text);
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1)
        parts.push_back(trimmed(std::string_view(line).substr(start, comma - start)));
    parts.push_back(trimmed(std::string_view(line).substr(start)));
    return parts;
}

// Decimals after the point of a number as written ("0.000125" -> 6, "1.25e-4" -> 6).
int decimalsOf(std::string_view text) {
    const std::size_t point = text.find('.');
    const std::size_t exponent = text.find_first_of("eE");
    int decimals = 0;
    if (point != std::string_view::npos)
        decimals = static_cast<int>((exponent == std::string_view::npos ? text.size() : exponent) -
                                    point - 1);
    if (exponent != std::string_view::npos) {
        const std::optional<double> power = common::parseNumber(text.substr(exponent + 1));
        if (power && std::abs(*power) < 30) decimals -= static_cast<int>(*power);
    }
    return std::clamp(decimals, 0, 9);
}

}  // namespace

LogicLoad readVcd(std::istream& in, const std::string& name) {
    return VcdReader(in, name).read();
}

LogicLoad readTransitionCsv(std::istream& in, const std::string& name) {
    constexpr double kTicksPerSecond = 1e9;
    LogicRecording recording;
    recording.sampleRate = kTicksPerSecond;
    std::optional<double> firstTime;
    uint64_t last = 0;
    unsigned long long number = 0;
    std::size_t rows = 0, changes = 0;
    bool tooLong = false;
    SampleGrid grid;
    while (const auto line = readLine(in, tooLong)) {
        ++number;
        if (line->empty() || (*line)[0] == ';' || (*line)[0] == '#') continue;
        const std::vector<std::string> parts = fields(*line);
        const std::optional<double> time = common::parseNumber(parts[0]);
        if (!time && rows == 0 && recording.channels.empty()) {  // the names
            if (parts.size() < 2 || parts.size() > kMostChannels + 1)
                return refused(name,
                               common::format("第 %llu 行：应有时间和 1 到 %llu 个信号", number,
                                              static_cast<unsigned long long>(kMostChannels)));
            for (std::size_t i = 1; i < parts.size(); ++i)
                recording.channels.push_back({parts[i], true, {}});
            continue;
        }
        if (!time || !std::isfinite(*time))
            return refused(name, common::format("第 %llu 行：'%s' 不是以秒计的时间", number,
                                                parts[0].c_str()));
        if (recording.channels.empty()) {
            if (parts.size() < 2 || parts.size() > kMostChannels + 1)
                return refused(name,
                               common::format("第 %llu 行：应有时间和 1 到 %llu 个信号", number,
                                              static_cast<unsigned long long>(kMostChannels)));
            for (std::size_t i = 1; i < parts.size(); ++i)
                recording.channels.push_back({"D" + std::to_string(i - 1), true, {}});
        }
        if (parts.size() != recording.channels.size() + 1)
            return refused(
                name,
                common::format("第 %llu 行有 %llu 列，应为 %llu 列", number,
                               static_cast<unsigned long long>(parts.size()),
                               static_cast<unsigned long long>(recording.channels.size() + 1)));
        if (!firstTime) firstTime = *time;
        const double since = (*time - *firstTime) * kTicksPerSecond;
        grid.see(*time, std::pow(10.0, -decimalsOf(parts[0])));
        if (since > 9e18)
            return refused(
                name, common::format("第 %llu 行：时间 %s 离第一行太远", number, parts[0].c_str()));
        if (since < 0)
            return refused(
                name, common::format("第 %llu 行：时间 %s 在前一行之前", number, parts[0].c_str()));
        const auto tick = static_cast<uint64_t>(std::llround(since));
        if (tick < last)
            return refused(
                name, common::format("第 %llu 行：时间 %s 在前一行之前", number, parts[0].c_str()));
        last = tick;
        for (std::size_t i = 1; i < parts.size(); ++i) {
            if (parts[i] != "0" && parts[i] != "1")
                return refused(
                    name, common::format("第 %llu 行：'%s' 不是 0 或 1", number, parts[i].c_str()));
            DigitalChannel& channel = recording.channels[i - 1];
            const bool level = parts[i] == "1";
            if (rows == 0)
                channel.initial = level;
            else if (++changes > kMostChanges)
                return refused(name, "电平变化太多");
            else
                channel.see(tick, level);
        }
        ++rows;
    }
    if (tooLong) return refused(name, "有一行长于 64 KB，不是逻辑分析仪的 CSV 文件");
    if (rows == 0) return refused(name, "没有数据行");
    grid.apply(recording, 1 / kTicksPerSecond, last);
    return {std::move(recording), {}};
}

}  // namespace logic
