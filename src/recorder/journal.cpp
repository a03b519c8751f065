#include "recorder/journal.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "common/byte_order.h"
#include "common/file_save.h"
#include "common/format.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace recorder {
namespace {

constexpr char kMagic[8] = {'O', 'S', 'A', 'J', 'R', 'N', 'L', '1'};
constexpr uint32_t kJournalVersion = 1;
constexpr std::size_t kJournalHeaderSize = 20;
constexpr uint8_t kSamplesBlock = 1;
constexpr uint8_t kCalibrationBlock = 2;
constexpr uint32_t kMostBlockSamples = 0xFFFF;

uint32_t fnv1a(const uint8_t* bytes, std::size_t size, uint32_t hash = 2166136261u) {
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

int openForAppend(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
#endif
}

// Writes all of `bytes`; the error number, or 0.
int writeAll(int fd, const uint8_t* bytes, std::size_t size) {
    while (size > 0) {
#ifdef _WIN32
        const int n = _write(fd, bytes, static_cast<unsigned>(size));
#else
        const ssize_t n = write(fd, bytes, size);
#endif
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

int syncFile(int fd) {
#ifdef _WIN32
    return _commit(fd) == 0 ? 0 : errno;
#else
    return fdatasync(fd) == 0 ? 0 : errno;
#endif
}

void closeFile(int fd) {
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
}

}  // namespace

std::unique_ptr<Journal> Journal::create(const std::filesystem::path& path,
                                         const SampleDocument& document, std::string& error) {
    const int fd = openForAppend(path);
    if (fd < 0) {
        error = common::format("无法建立恢复日志 %s (%s)", common::displayPath(path).c_str(),
                               std::generic_category().message(errno).c_str());
        return nullptr;
    }
    uint8_t header[kJournalHeaderSize];
    std::memcpy(header, kMagic, sizeof kMagic);
    common::writeLe32(header + 8, kJournalVersion);
    common::writeLe64(header + 12, std::bit_cast<uint64_t>(document.period));
    int failure = writeAll(fd, header, sizeof header);
    if (failure == 0) failure = syncFile(fd);
    if (failure != 0) {
        closeFile(fd);
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        error = common::format("无法写入恢复日志 %s (%s)", common::displayPath(path).c_str(),
                               std::generic_category().message(failure).c_str());
        return nullptr;
    }
    return std::unique_ptr<Journal>(new Journal(path, fd, document));
}

Journal::Journal(std::filesystem::path path, int fd, const SampleDocument& document)
    : path_(std::move(path)), fd_(fd), document_(document) {}

Journal::~Journal() {
    pause();
    if (fd_ >= 0) closeFile(fd_);
}

bool Journal::writeBlock(uint8_t kind, uint8_t channel, const uint16_t* values, uint16_t count) {
    std::vector<uint8_t> block(4 + std::size_t{count} * 2 + 4);
    block[0] = kind;
    block[1] = channel;
    common::writeLe16(block.data() + 2, count);
    for (uint16_t i = 0; i < count; ++i)
        common::writeLe16(block.data() + 4 + 2 * i, values[i]);
    const std::size_t body = block.size() - 4;
    common::writeLe32(block.data() + body, fnv1a(block.data(), body));
    const int failure = writeAll(fd_, block.data(), block.size());
    if (failure != 0) error_ = std::generic_category().message(failure);
    return failure == 0;
}

bool Journal::flush() {
    std::lock_guard lock(mutex_);
    std::vector<uint16_t> values;
    for (int c = 0; c < kChannelCount; ++c) {
        const SampleChannel& channel = document_.channel(c);
        uint32_t& written = written_[static_cast<std::size_t>(c)];
        const uint32_t count = channel.count();
        while (written < count) {
            const uint32_t taken = std::min(count - written, kMostBlockSamples);
            values.resize(taken);
            channel.copy(written, taken, values.data());
            if (!writeBlock(kSamplesBlock, static_cast<uint8_t>(c), values.data(),
                            static_cast<uint16_t>(taken)))
                return false;
            written += taken;
        }
    }
    const int failure = syncFile(fd_);
    if (failure != 0) error_ = std::generic_category().message(failure);
    return failure == 0;
}

std::string Journal::lastError() const {
    std::lock_guard lock(mutex_);
    return error_;
}

bool Journal::resume(std::chrono::milliseconds interval, std::string& error) {
    pause();
    const uint16_t calibrated = document_.currentCalibrated;
    bool written = false;
    {
        std::lock_guard lock(mutex_);
        written = writeBlock(kCalibrationBlock, 0, &calibrated, 1);
    }
    if (!written) {
        error = common::format("无法写入恢复日志 %s (%s)", common::displayPath(path_).c_str(),
                               lastError().c_str());
        return false;
    }
    stopping_ = false;
    thread_ = std::thread([this, interval] { flushLoop(interval); });
    return true;
}

void Journal::flushLoop(std::chrono::milliseconds interval) {
    // At once first: a continued document's earlier samples are caught up here,
    // off the owner's thread.
    flush();  // a failure is kept in lastError(); the next flush tries again
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, interval, [this] { return stopping_; })) {
        lock.unlock();
        flush();
        lock.lock();
    }
}

void Journal::pause() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    flush();
}

void Journal::remove() {
    pause();
    if (fd_ >= 0) closeFile(fd_);
    fd_ = -1;
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

JournalRecovery recoverJournal(const std::filesystem::path& path) {
    const std::string name = common::displayPath(path);
    std::unique_ptr<FileSource> source = FileSource::open(path);
    if (!source) return {nullptr, common::format("无法打开文件 %s !", name.c_str()), 0};
    return recoverJournal(*source, name);
}

JournalRecovery recoverJournal(ByteSource& source, const std::string& name) {
    JournalRecovery recovery;
    uint8_t header[kJournalHeaderSize];
    if (source.read(header, sizeof header) != sizeof header ||
        std::memcmp(header, kMagic, sizeof kMagic) != 0 || common::readLe32(header + 8) != 1) {
        recovery.message = common::format("%s 不是恢复日志!", name.c_str());
        return recovery;
    }
    recovery.document = std::make_unique<SampleDocument>();
    SampleDocument& document = *recovery.document;
    document.period = std::bit_cast<double>(common::readLe64(header + 12));
    if (!(document.period > 0 && document.period < 1e6)) document.period = kSamplingPeriodSeconds;

    std::vector<uint8_t> block;
    std::vector<uint16_t> samples;
    for (;;) {
        uint8_t head[4];
        const std::size_t got = source.read(head, sizeof head);
        if (got == 0) break;
        const uint16_t count = common::readLe16(head + 2);
        const bool known = (head[0] == kSamplesBlock && head[1] < kChannelCount) ||
                           (head[0] == kCalibrationBlock && count == 1);
        block.assign(head, head + sizeof head);
        block.resize(4 + std::size_t{count} * 2 + 4);
        const std::size_t rest = block.size() - 4;
        if (got != sizeof head || !known || source.read(block.data() + 4, rest) != rest ||
            common::readLe32(block.data() + block.size() - 4) !=
                fnv1a(block.data(), block.size() - 4)) {
            recovery.message = "日志末尾有一段不完整的数据，已略去";
            break;
        }
        if (head[0] == kCalibrationBlock) {
            document.currentCalibrated = common::readLe16(block.data() + 4);
            continue;
        }
        SampleChannel& channel = document.channel(head[1]);
        ChannelExtremes extremes = channel.extremes();
        double sum = channel.sum();
        samples.resize(count);
        for (uint16_t i = 0; i < count; ++i) {
            samples[i] = common::readLe16(block.data() + 4 + 2 * i);
            sum += samples[i];
            extremes.maximum = std::max<int32_t>(extremes.maximum, samples[i]);
            extremes.minimum = std::min<int32_t>(extremes.minimum, samples[i]);
        }
        if (!channel.appendBlock(samples.data(), count)) {
            recovery.document.reset();
            recovery.message = "内存不足!";
            return recovery;
        }
        channel.setSum(sum);
        channel.setExtremes(extremes);
        recovery.samples += count;
    }
    document.modified.store(true);
    return recovery;
}

}  // namespace recorder
