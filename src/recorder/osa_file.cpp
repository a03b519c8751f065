#include "recorder/osa_file.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/byte_order.h"
#include "common/format.h"

namespace recorder {
namespace {

constexpr std::size_t kChannelHeaderSize = 20;
constexpr std::size_t kChannelHeadersAt = 26;
constexpr uint32_t kBlockSamples = 1u << 16;

void writeDouble(uint8_t* at, double value) {
    common::writeLe64(at, std::bit_cast<uint64_t>(value));
}
double readDouble(const uint8_t* at) {
    return std::bit_cast<double>(common::readLe64(at));
}

std::array<uint8_t, kOsaHeaderSize> headerBytes(const OsaHeader& header) {
    std::array<uint8_t, kOsaHeaderSize> bytes{};
    common::writeLe32(bytes.data(), header.version);
    std::memcpy(bytes.data() + 4, header.signature.data(), header.signature.size());
    common::writeLe32(bytes.data() + 12, header.third);
    writeDouble(bytes.data() + 16, header.period);
    common::writeLe16(bytes.data() + 24, header.currentCalibrated);
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        uint8_t* at = bytes.data() + kChannelHeadersAt + c * kChannelHeaderSize;
        common::writeLe32(at, header.counts[c]);
        common::writeLe32(at + 4, static_cast<uint32_t>(header.extremes[c].maximum));
        common::writeLe32(at + 8, static_cast<uint32_t>(header.extremes[c].minimum));
        writeDouble(at + 12, header.sums[c]);
    }
    return bytes;
}

OsaHeader parseHeader(const uint8_t* bytes) {
    OsaHeader header;
    header.version = common::readLe32(bytes);
    std::memcpy(header.signature.data(), bytes + 4, header.signature.size());
    header.third = common::readLe32(bytes + 12);
    header.period = readDouble(bytes + 16);
    header.currentCalibrated = common::readLe16(bytes + 24);
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        const uint8_t* at = bytes + kChannelHeadersAt + c * kChannelHeaderSize;
        header.counts[c] = common::readLe32(at);
        header.extremes[c] = {static_cast<int32_t>(common::readLe32(at + 4)),
                              static_cast<int32_t>(common::readLe32(at + 8))};
        header.sums[c] = readDouble(at + 12);
    }
    return header;
}

// Samples in the file's byte order, in place.
void samplesFromFile(uint16_t* samples, uint32_t count) {
    if constexpr (std::endian::native == std::endian::big) {
        for (uint32_t i = 0; i < count; ++i)
            samples[i] = common::readLe16(reinterpret_cast<const uint8_t*>(samples + i));
    }
}

OsaLoad refused(std::string message) {
    OsaLoad load;
    load.message = std::move(message);
    return load;
}

struct ChannelReading {
    ByteSource& source;
    std::vector<uint16_t>& block;
    const std::string& truncated;
    const OsaLoadProgress& progress;
    uint64_t read = 0;  // samples of all channels so far
    uint64_t samples = 0;
    bool cancelled = false;
};

// Fills one channel from the source (its summaries as it goes); an empty text
// when all went well or the load was cancelled.
std::string readChannel(ChannelReading& reading, plot::SampledSeries& channel, uint32_t count) {
    if (!channel.reserve(count)) return std::string(kOutOfMemory);
    while (count > 0) {
        const uint32_t taken = std::min(count, kBlockSamples);
        const std::size_t bytes = std::size_t{taken} * 2;
        if (reading.source.read(reading.block.data(), bytes) != bytes) return reading.truncated;
        samplesFromFile(reading.block.data(), taken);
        channel.appendBlock(reading.block.data(), taken);  // reserved: cannot fail
        count -= taken;
        reading.read += taken;
        if (reading.progress && !reading.progress(reading.read, reading.samples)) {
            reading.cancelled = true;
            return {};
        }
    }
    return {};
}

}  // namespace

OsaLoad loadOsa(const std::filesystem::path& path, const OsaLoadProgress& progress) {
    const std::string name = common::displayPath(path);
    std::unique_ptr<FileSource> source = FileSource::open(path);
    if (!source) return refused(common::format("无法打开文件 %s !", name.c_str()));
    return loadOsa(*source, name, progress);
}

OsaLoad loadOsa(ByteSource& source, const std::string& name, const OsaLoadProgress& progress) {
    const std::string truncated =
        common::format("文件 %s 不完整或不是测试文件(.osa)，无法打开!", name.c_str());
    uint8_t bytes[kOsaHeaderSize];
    if (source.read(bytes, sizeof bytes) != sizeof bytes) return refused(truncated);
    const OsaHeader header = parseHeader(bytes);

    uint64_t samples = 0;
    for (const uint32_t count : header.counts)
        samples += count;
    // Before anything is allocated: a forged count must not exhaust memory.
    if (kOsaHeaderSize + 2 * samples > source.size()) {
        return refused(common::format("文件 %s 记录的采样数超出了文件长度，文件已损坏，无法打开!",
                                      name.c_str()));
    }
    if (!std::isfinite(header.period) || header.period <= 0) {
        return refused(
            common::format("文件 %s 的采样周期无效，文件已损坏，无法打开!", name.c_str()));
    }

    OsaLoad load;
    load.header = header;
    load.document = std::make_unique<SampleDocument>();
    SampleDocument& document = *load.document;
    document.period = header.period;
    document.currentCalibrated = header.currentCalibrated;
    std::vector<uint16_t> block(std::min<uint64_t>(samples, kBlockSamples));
    ChannelReading reading{source, block, truncated, progress, 0, samples};
    for (int c = 0; c < kChannelCount; ++c) {
        const auto index = static_cast<std::size_t>(c);
        plot::SampledSeries& channel = document.channel(c);
        channel.setExtremes(header.extremes[index]);
        channel.setSum(header.sums[index]);
        const std::string problem = readChannel(reading, channel, header.counts[index]);
        if (!problem.empty()) return refused(problem);
        if (reading.cancelled) {
            OsaLoad cancelled;
            cancelled.cancelled = true;
            return cancelled;
        }
        load.summaryTime += channel.blockSummaryTime();
    }
    // Channel 3's extremes are kept within ±10000 of a new document's.
    plot::SeriesExtremes third = document.channel(3).extremes();
    third.maximum = std::max(third.maximum, -10000);
    third.minimum = std::min(third.minimum, 10000);
    document.channel(3).setExtremes(third);
    return load;
}

common::FileResult writeOsa(const SampleDocument& document, const std::filesystem::path& path,
                            const common::SaveControl& control) {
    OsaHeader header;
    header.period = document.period;
    header.currentCalibrated = document.currentCalibrated;
    for (int c = 0; c < kChannelCount; ++c) {
        const auto index = static_cast<std::size_t>(c);
        header.counts[index] = document.channel(c).count();
        header.extremes[index] = document.channel(c).extremes();
        header.sums[index] = document.channel(c).sum();
    }
    const auto produce = [&](common::ByteSink& sink) {
        const auto head = headerBytes(header);
        if (!sink.write(head.data(), head.size())) return false;
        std::vector<uint16_t> block(kBlockSamples);
        for (int c = 0; c < kChannelCount; ++c) {
            const uint32_t count = header.counts[static_cast<std::size_t>(c)];
            for (uint32_t first = 0; first < count; first += kBlockSamples) {
                const uint32_t taken = std::min(count - first, kBlockSamples);
                document.channel(c).copy(first, taken, block.data());
                samplesFromFile(block.data(), taken);  // the swap is its own inverse
                if (!sink.write(block.data(), std::size_t{taken} * 2)) return false;
            }
        }
        return true;
    };
    const common::SaveOutcome saved = common::saveFile(path, produce, "写入被中止", control);
    if (!saved.ok) {
        return {false, common::format("无法保存文件 %s ! (%s)", common::displayPath(path).c_str(),
                                      saved.reason.c_str())};
    }
    return {};
}

common::FileResult saveOsa(SampleDocument& document, const std::filesystem::path& path,
                           const common::SaveControl& control) {
    common::FileResult written = writeOsa(document, path, control);
    if (!written.ok) return written;
    document.modified.store(false);
    document.displayName = displayNameOf(path);
    return {};
}

common::FallbackSave saveOsaToFallback(const SampleDocument& document, const std::string& failure) {
    return common::saveToFallback(failure, "test", ".osa", [&](const std::filesystem::path& path) {
        return writeOsa(document, path);
    });
}

}  // namespace recorder
