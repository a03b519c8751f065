#include "logic/session_archives.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "common/file_save.h"
#include "common/format.h"

namespace logic {
namespace {

constexpr std::size_t kLongestText = 64 * 1024;  // version, metadata
constexpr std::size_t kChunkBytes = 1 << 20;

struct ZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using Archive = std::unique_ptr<zip_t, ZipCloser>;
struct EntryCloser {
    void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};
using Entry = std::unique_ptr<zip_file_t, EntryCloser>;

LogicLoad refused(const std::string& name, const std::string& what) {
    return {std::nullopt, "无法读取 " + name + "：" + what};
}

// A reader stopped by its progress says nothing more.
LogicLoad refusedOrStopped(const std::string& name, const std::string& what,
                           const ReadTally& tally) {
    if (!tally.stopped()) return refused(name, what);
    LogicLoad stopped;
    stopped.cancelled = true;
    return stopped;
}

// A small text member whole; nothing when it is missing, unreadable or too long.
std::optional<std::string> readText(zip_t* archive, const char* member) {
    Entry entry(zip_fopen(archive, member, 0));
    if (!entry) return std::nullopt;
    std::string text(kLongestText + 1, '\0');
    std::size_t used = 0;
    while (used < text.size()) {
        const zip_int64_t got = zip_fread(entry.get(), text.data() + used, text.size() - used);
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    if (used > kLongestText) return std::nullopt;
    text.resize(used);
    return text;
}

std::string trimmed(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start])))
        ++start;
    return text.substr(start);
}

// "[section]" and "key=value" lines: section -> key -> value.
std::map<std::string, std::map<std::string, std::string>> iniOf(const std::string& text) {
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::string section;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = trimmed(line.substr(1, line.size() - 2));
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        sections[section][trimmed(line.substr(0, equals))] = trimmed(line.substr(equals + 1));
    }
    return sections;
}

class SigrokReader {
  public:
    SigrokReader(zip_t* archive, std::string name, ReadTally& tally)
        : archive_(archive), name_(std::move(name)), tally_(tally) {}

    LogicLoad read() {
        const std::optional<std::string> metadata = readText(archive_, "metadata");
        if (!metadata) return refused(name_, "没有可读的 metadata，不是 sigrok 会话文件");
        const auto ini = iniOf(*metadata);
        const auto device = ini.find("device 1");
        if (device == ini.end()) return refused(name_, "metadata 中没有 [device 1]");
        const auto& keys = device->second;
        auto value = [&keys](const std::string& key) {
            const auto found = keys.find(key);
            return found == keys.end() ? std::string() : found->second;
        };
        const std::optional<double> rate = parseSampleRate(value("samplerate"));
        if (!rate)
            return refused(name_, "metadata 中的 samplerate '" + value("samplerate") + "' 不对");
        const std::optional<double> probes = common::parseNumber(value("total probes"));
        if (!probes || *probes < 1 || *probes > static_cast<double>(kMostChannels) ||
            *probes != std::floor(*probes))
            return refused(name_,
                           "metadata 中的 total probes '" + value("total probes") + "' 不对");
        const std::optional<double> unit = common::parseNumber(value("unitsize"));
        const auto probeCount = static_cast<std::size_t>(*probes);
        if (!unit || *unit < 1 || *unit > 8 || *unit != std::floor(*unit) ||
            static_cast<std::size_t>(*unit) * 8 < probeCount)
            return refused(name_, "metadata 中的 unitsize '" + value("unitsize") + "' 不对");
        unitSize_ = static_cast<std::size_t>(*unit);
        recording_.sampleRate = *rate;
        for (std::size_t i = 1; i <= probeCount; ++i) {
            const std::string probeName = value("probe" + std::to_string(i));
            recording_.channels.push_back(
                {probeName.empty() ? "D" + std::to_string(i - 1) : probeName, true, {}});
        }
        std::string capture = value("capturefile");
        if (capture.empty()) capture = "logic-1";
        if (const auto problem = readSamples(capture))
            return refusedOrStopped(name_, *problem, tally_);
        if (samples_ == 0) return refused(name_, "没有逻辑采样（" + capture + "-1）");
        recording_.sampleCount = samples_;
        // Analog channels are numbered after the logic probes: analogK, analog-1-K-1, ...
        const std::optional<double> analog = common::parseNumber(value("total analog"));
        const auto analogCount =
            analog && *analog >= 1 && *analog <= 16 && *analog == std::floor(*analog)
                ? static_cast<std::size_t>(*analog)
                : 0;
        for (std::size_t k = probeCount + 1; k <= probeCount + analogCount; ++k) {
            AnalogChannel channel;
            channel.name = value("analog" + std::to_string(k));
            if (channel.name.empty()) channel.name = "A" + std::to_string(k - probeCount - 1);
            if (const auto problem = readAnalog(capture, k, channel))
                return refusedOrStopped(name_, *problem, tally_);
            if (!channel.points.empty()) recording_.analog.push_back(std::move(channel));
        }
        return {std::move(recording_), {}};
    }

  private:
    // analog-1-K-1, -2, ...: 32-bit floats, little-endian, a sample each, kept as the
    // mean of each millisecond (or of each sample, below 1 kHz).
    std::optional<std::string> readAnalog(const std::string& capture, std::size_t k,
                                          AnalogChannel& channel) {
        const std::size_t dash = capture.find('-');
        const std::string prefix = "analog" +
                                   (dash == std::string::npos ? "-1" : capture.substr(dash)) + "-" +
                                   std::to_string(k) + "-";
        const auto perPoint =
            static_cast<uint64_t>(std::max(1.0, std::round(recording_.sampleRate / 1000)));
        channel.pointsPerSecond = recording_.sampleRate / static_cast<double>(perPoint);
        double sum = 0;
        uint64_t inPoint = 0;
        std::vector<uint8_t> chunk;
        std::size_t carried = 0;  // a float cut by a member's end goes on in the next
        auto takeFloats = [&](const uint8_t* bytes,
                              std::size_t count) -> std::optional<std::string> {
            for (std::size_t i = 0; i < count; ++i, bytes += 4) {
                float sample;
                const uint32_t bits =
                    static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                    static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
                std::memcpy(&sample, &bits, 4);
                sum += std::isfinite(sample) ? sample : 0;
                if (++inPoint < perPoint) continue;
                if (channel.points.size() == kMostAnalogPoints) return std::string("模拟采样太多");
                channel.points.push_back(static_cast<float>(sum / static_cast<double>(inPoint)));
                sum = 0;
                inPoint = 0;
            }
            return std::nullopt;
        };
        for (int part = 1;; ++part) {
            const std::string member = prefix + std::to_string(part);
            if (zip_name_locate(archive_, member.c_str(), 0) < 0) break;
            if (const auto problem = readUnits(member, 4, chunk, carried, takeFloats))
                return problem;
        }
        if (inPoint > 0)
            channel.points.push_back(static_cast<float>(sum / static_cast<double>(inPoint)));
        return std::nullopt;
    }

    // capture-1, capture-2, ... in order (an old session keeps all in `capture`).
    std::optional<std::string> readSamples(const std::string& capture) {
        const bool chunked = zip_name_locate(archive_, (capture + "-1").c_str(), 0) >= 0;
        for (int part = 1;; ++part) {
            const std::string member = chunked ? capture + "-" + std::to_string(part) : capture;
            if (zip_name_locate(archive_, member.c_str(), 0) < 0) return std::nullopt;
            if (const auto problem = readMember(member)) return problem;
            if (!chunked) return std::nullopt;
        }
    }

    std::optional<std::string> readMember(const std::string& member) {
        return readUnits(
            member, unitSize_, chunk_, carried_,
            [this](const uint8_t* bytes, std::size_t count) { return takeSamples(bytes, count); });
    }

    // Reads `member` a chunk at a time into `chunk`, handing `take` its whole units of
    // `unit` bytes; a unit cut by a chunk's end, or by the member's, goes on in the
    // next read (its `carried` bytes kept at the chunk's start).
    template <typename Take>
    std::optional<std::string> readUnits(const std::string& member, std::size_t unit,
                                         std::vector<uint8_t>& chunk, std::size_t& carried,
                                         Take&& take) {
        Entry entry(zip_fopen(archive_, member.c_str(), 0));
        if (!entry) return member + " 打不开：" + zip_strerror(archive_);
        chunk.resize(kChunkBytes + 8);
        for (;;) {
            const zip_int64_t got = zip_fread(entry.get(), chunk.data() + carried, kChunkBytes);
            if (got < 0) return member + " 已损坏：" + zip_file_strerror(entry.get());
            if (got == 0) break;
            if (!tally_.add(static_cast<uint64_t>(got))) return std::string("stopped");
            const std::size_t bytes = carried + static_cast<std::size_t>(got);
            const std::size_t whole = bytes - bytes % unit;
            if (const auto problem = take(chunk.data(), whole / unit)) return problem;
            carried = bytes - whole;
            std::copy(chunk.data() + whole, chunk.data() + bytes, chunk.data());
        }
        return std::nullopt;
    }

    std::optional<std::string> takeSamples(const uint8_t* bytes, std::size_t count) {
        const std::size_t lines = recording_.channels.size();
        for (std::size_t i = 0; i < count; ++i, bytes += unitSize_) {
            uint64_t sample = 0;
            for (std::size_t b = 0; b < unitSize_; ++b)
                sample |= static_cast<uint64_t>(bytes[b]) << (8 * b);
            if (samples_ == 0) {
                for (std::size_t line = 0; line < lines; ++line)
                    recording_.channels[line].initial = ((sample >> line) & 1) != 0;
            } else if (sample != previous_) {
                const uint64_t changed = sample ^ previous_;
                for (std::size_t line = 0; line < lines; ++line) {
                    if (((changed >> line) & 1) == 0) continue;
                    if (++changes_ > kMostChanges) return std::string("电平变化太多");
                    recording_.channels[line].see(samples_, ((sample >> line) & 1) != 0);
                }
            }
            previous_ = sample;
            ++samples_;
        }
        return std::nullopt;
    }

    zip_t* archive_;
    std::string name_;
    ReadTally& tally_;
    LogicRecording recording_;
    std::vector<uint8_t> chunk_;
    std::size_t carried_ = 0;
    std::size_t unitSize_ = 1;
    uint64_t samples_ = 0;
    uint64_t previous_ = 0;
    std::size_t changes_ = 0;
};

// DSView: "header" ([header]: total samples, total blocks, samplerate, probeK = NAME),
// then for each probe K and block b the member L-K/b, a bit a sample, LSB first.
class DsViewReader {
  public:
    DsViewReader(zip_t* archive, std::string name, ReadTally& tally)
        : archive_(archive), name_(std::move(name)), tally_(tally) {}

    LogicLoad read() {
        const std::optional<std::string> header = readText(archive_, "header");
        if (!header) return refused(name_, "没有可读的 header，不是 DSView 会话文件");
        const auto ini = iniOf(*header);
        const auto section = ini.find("header");
        if (section == ini.end()) return refused(name_, "header 中没有 [header]");
        const auto& keys = section->second;
        auto value = [&keys](const std::string& key) {
            const auto found = keys.find(key);
            return found == keys.end() ? std::string() : found->second;
        };
        const std::optional<double> rate = parseSampleRate(value("samplerate"));
        if (!rate)
            return refused(name_, "header 中的 samplerate '" + value("samplerate") + "' 不对");
        const std::optional<double> total = common::parseNumber(value("total samples"));
        if (!total || *total < 1 || *total > 1e15 || *total != std::floor(*total))
            return refused(name_,
                           "header 中的 total samples '" + value("total samples") + "' 不对");
        const std::optional<double> blocks = common::parseNumber(value("total blocks"));
        if (!blocks || *blocks < 1 || *blocks > 1e6 || *blocks != std::floor(*blocks))
            return refused(name_, "header 中的 total blocks '" + value("total blocks") + "' 不对");
        total_ = static_cast<uint64_t>(*total);
        recording_.sampleRate = *rate;
        recording_.sampleCount = total_;
        std::vector<std::pair<unsigned long, std::string>> probes;
        for (const auto& [key, name] : keys) {
            if (key.size() < 6 || key.compare(0, 5, "probe") != 0 ||
                key.find_first_not_of("0123456789", 5) != std::string::npos || key.size() > 9)
                continue;
            probes.push_back({std::stoul(key.substr(5)), name});
        }
        if (probes.empty()) return refused(name_, "header 中没有 probe");
        if (probes.size() > kMostChannels)
            return refused(name_, "probe 多于 " + std::to_string(kMostChannels) + " 个");
        std::sort(probes.begin(), probes.end());
        for (const auto& [number, probeName] : probes) {
            recording_.channels.push_back({probeName, true, {}});
            if (const auto problem = readProbe(number, static_cast<unsigned long>(*blocks),
                                               recording_.channels.back()))
                return refusedOrStopped(name_, *problem, tally_);
        }
        return {std::move(recording_), {}};
    }

  private:
    std::optional<std::string> readProbe(unsigned long number, unsigned long blocks,
                                         DigitalChannel& line) {
        uint64_t sample = 0;
        bool current = true;
        std::vector<uint8_t> chunk(kChunkBytes);
        for (unsigned long block = 0; block < blocks && sample < total_; ++block) {
            const std::string member = "L-" + std::to_string(number) + "/" + std::to_string(block);
            Entry entry(zip_fopen(archive_, member.c_str(), 0));
            if (!entry) return "缺少 " + member;
            for (;;) {
                const zip_int64_t got = zip_fread(entry.get(), chunk.data(), chunk.size());
                if (got < 0) return member + " 已损坏：" + zip_file_strerror(entry.get());
                if (got == 0) break;
                if (!tally_.add(static_cast<uint64_t>(got))) return std::string("stopped");
                for (zip_int64_t i = 0; i < got && sample < total_; ++i) {
                    const uint8_t byte = chunk[static_cast<std::size_t>(i)];
                    for (int bit = 0; bit < 8 && sample < total_; ++bit, ++sample) {
                        const bool level = ((byte >> bit) & 1) != 0;
                        if (sample == 0) {
                            line.initial = current = level;
                        } else if (level != current) {
                            if (++changes_ > kMostChanges) return std::string("电平变化太多");
                            line.changes.push_back(sample);
                            current = level;
                        }
                    }
                }
            }
        }
        if (sample < total_) return "L-" + std::to_string(number) + " 的采样少于 total samples";
        return std::nullopt;
    }

    zip_t* archive_;
    std::string name_;
    ReadTally& tally_;
    LogicRecording recording_;
    uint64_t total_ = 0;
    std::size_t changes_ = 0;
};

enum class Session { Sigrok, DsView };

// The bytes of all members, as they read unpacked: what a read's progress counts.
uint64_t unpackedSize(zip_t* archive) {
    uint64_t total = 0;
    const zip_int64_t members = zip_get_num_entries(archive, 0);
    for (zip_int64_t k = 0; k < members; ++k) {
        zip_stat_t stat;
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(k), 0, &stat) == 0 &&
            (stat.valid & ZIP_STAT_SIZE) != 0)
            total += stat.size;
    }
    return total;
}

LogicLoad readOpened(zip_t* archive, int error, const std::string& name, Session session,
                     const ReadProgress& progress) {
    if (!archive) {
        zip_error_t why;
        zip_error_init_with_code(&why, error);
        const std::string text = zip_error_strerror(&why);
        zip_error_fini(&why);
        return refused(name, "不是 zip 格式的会话文件（" + text + "）");
    }
    Archive owned(archive);
    ReadTally tally(progress, progress ? unpackedSize(archive) : 0);
    if (session == Session::DsView) return DsViewReader(archive, name, tally).read();
    return SigrokReader(archive, name, tally).read();
}

LogicLoad readFile(const std::filesystem::path& path, Session session,
                   const ReadProgress& progress) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored))
        return {std::nullopt, "无法打开 " + common::displayPath(path)};
    int error = 0;
    zip_t* archive = zip_open(path.string().c_str(), ZIP_RDONLY, &error);
    return readOpened(archive, error, common::displayPath(path.filename()), session, progress);
}

LogicLoad readBytes(const uint8_t* data, std::size_t size, const std::string& name,
                    Session session) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
    if (!source) {
        zip_error_fini(&error);
        return refused(name, "内存不足");
    }
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    const int code = zip_error_code_zip(&error);
    zip_error_fini(&error);
    if (!archive) zip_source_free(source);
    return readOpened(archive, code, name, session, {});
}

}  // namespace

bool readsArchives() {
    return true;
}

LogicLoad readSigrokSession(const std::filesystem::path& path, const ReadProgress& progress) {
    return readFile(path, Session::Sigrok, progress);
}

LogicLoad readSigrokSession(const uint8_t* data, std::size_t size, const std::string& name) {
    return readBytes(data, size, name, Session::Sigrok);
}

LogicLoad readDsViewSession(const std::filesystem::path& path, const ReadProgress& progress) {
    return readFile(path, Session::DsView, progress);
}

LogicLoad readDsViewSession(const uint8_t* data, std::size_t size, const std::string& name) {
    return readBytes(data, size, name, Session::DsView);
}

namespace {

constexpr uint64_t kSamplesPerMember = 4 << 20;

// One member's samples, made from the lines' edges as libzip asks for them.
class SampleMember {
  public:
    SampleMember(const LogicRecording& recording, uint64_t begin, uint64_t end)
        : recording_(recording), begin_(begin), end_(end) {
        zip_error_init(&error_);
    }
    ~SampleMember() { zip_error_fini(&error_); }

    static zip_int64_t call(void* state, void* data, zip_uint64_t length,
                            zip_source_cmd_t command) {
        auto* member = static_cast<SampleMember*>(state);
        switch (command) {
            case ZIP_SOURCE_OPEN:
                member->at_ = member->begin_;
                return 0;
            case ZIP_SOURCE_READ:
                return member->fill(static_cast<uint8_t*>(data), length);
            case ZIP_SOURCE_CLOSE:
                return 0;
            case ZIP_SOURCE_STAT: {
                auto* stat = static_cast<zip_stat_t*>(data);
                zip_stat_init(stat);
                stat->size = member->end_ - member->begin_;
                stat->valid |= ZIP_STAT_SIZE;
                return sizeof(zip_stat_t);
            }
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&member->error_, data, length);
            case ZIP_SOURCE_FREE:
                delete member;
                return 0;
            case ZIP_SOURCE_SUPPORTS:
                return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ,
                                                      ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                      ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
            default:
                zip_error_set(&member->error_, ZIP_ER_OPNOTSUPP, 0);
                return -1;
        }
    }

  private:
    // Bit k of each sample is line k: zero, then each line's high runs.
    zip_int64_t fill(uint8_t* data, zip_uint64_t length) {
        const uint64_t count = std::min<uint64_t>(length, end_ - at_);
        std::fill_n(data, count, uint8_t{0});
        for (std::size_t k = 0; k < recording_.channels.size(); ++k) {
            const DigitalChannel& line = recording_.channels[k];
            const auto bit = static_cast<uint8_t>(1u << k);
            auto next = std::upper_bound(line.changes.begin(), line.changes.end(), at_);
            bool high = ((next - line.changes.begin()) % 2 == 0) == line.initial;
            uint64_t from = at_;
            while (from < at_ + count) {
                const uint64_t until =
                    next == line.changes.end() ? at_ + count : std::min(*next, at_ + count);
                if (high) {
                    for (uint64_t s = from; s < until; ++s)
                        data[s - at_] |= bit;
                }
                from = until;
                if (next != line.changes.end() && *next == until) {
                    high = !high;
                    ++next;
                }
            }
        }
        at_ += count;
        return static_cast<zip_int64_t>(count);
    }

    const LogicRecording& recording_;
    uint64_t begin_, end_, at_ = 0;
    zip_error_t error_;
};

std::string rateText(double rate) {
    if (rate >= 1e9 && std::fmod(rate, 1e9) == 0) return common::format("%.0f GHz", rate / 1e9);
    if (rate >= 1e6 && std::fmod(rate, 1e6) == 0) return common::format("%.0f MHz", rate / 1e6);
    if (rate >= 1e3 && std::fmod(rate, 1e3) == 0) return common::format("%.0f kHz", rate / 1e3);
    return common::format("%.0f Hz", rate);
}

std::string sigrokMetadata(const LogicRecording& recording) {
    std::string text = "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n";
    text += "total probes=" + std::to_string(recording.channels.size()) + "\n";
    text += "samplerate=" + rateText(recording.sampleRate) + "\ntotal analog=0\n";
    for (std::size_t k = 0; k < recording.channels.size(); ++k)
        text += "probe" + std::to_string(k + 1) + "=" + recording.channels[k].name + "\n";
    return text + "unitsize=1\n";
}

struct SourceCloser {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using Source = std::unique_ptr<zip_source_t, SourceCloser>;

bool addText(zip_t* archive, const char* name, const std::string& text) {
    zip_source_t* source = zip_source_buffer(archive, text.data(), text.size(), 0);
    if (!source) return false;
    if (zip_file_add(archive, name, source, ZIP_FL_OVERWRITE) < 0) {
        zip_source_free(source);
        return false;
    }
    return true;
}

bool addSamples(zip_t* archive, const LogicRecording& recording) {
    uint64_t member = 1;
    for (uint64_t begin = 0; begin < recording.sampleCount; begin += kSamplesPerMember, ++member) {
        const uint64_t end = std::min(recording.sampleCount, begin + kSamplesPerMember);
        auto* samples = new SampleMember(recording, begin, end);
        zip_source_t* source = zip_source_function(archive, &SampleMember::call, samples);
        if (!source) {
            delete samples;
            return false;
        }
        const std::string name = "logic-1-" + std::to_string(member);
        if (zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(source);
            return false;
        }
    }
    return true;
}

}  // namespace

common::FileResult writeSigrokSession(const std::filesystem::path& path,
                                      const LogicRecording& recording) {
    const std::string name = common::displayPath(path.filename());
    auto failed = [&](const std::string& what) {
        return common::FileResult{false, "无法写入 " + name + "：" + what};
    };
    if (recording.channels.empty() || recording.channels.size() > 8)
        return failed("只能写 1 到 8 条线");
    zip_error_t error;
    zip_error_init(&error);
    Source buffer(zip_source_buffer_create(nullptr, 0, 0, &error));
    zip_error_fini(&error);
    if (!buffer) return failed("内存不足");
    zip_source_keep(buffer.get());
    zip_t* archive = zip_open_from_source(buffer.get(), ZIP_TRUNCATE, nullptr);
    if (!archive) return failed("内存不足");
    // Both texts are read when the archive closes.
    static const std::string kVersion = "2";
    const std::string metadata = sigrokMetadata(recording);
    if (!addText(archive, "version", kVersion) || !addText(archive, "metadata", metadata) ||
        !addSamples(archive, recording)) {
        zip_discard(archive);
        return failed("无法组成压缩包");
    }
    if (zip_close(archive) < 0) {
        const std::string why = zip_strerror(archive);
        zip_discard(archive);
        return failed(why);
    }
    if (zip_source_open(buffer.get()) < 0) return failed("无法读回压缩包");
    const common::SaveOutcome saved = common::saveFile(path, [&](common::ByteSink& sink) {
        std::vector<uint8_t> chunk(kChunkBytes);
        for (;;) {
            const zip_int64_t got = zip_source_read(buffer.get(), chunk.data(), chunk.size());
            if (got < 0) return false;
            if (got == 0) return true;
            if (!sink.write(chunk.data(), static_cast<std::size_t>(got))) return true;
        }
    });
    zip_source_close(buffer.get());
    if (!saved.ok) return failed(saved.reason);
    return {};
}

}  // namespace logic
