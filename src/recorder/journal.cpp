#include "recorder/journal.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>

#include "common/byte_order.h"
#include "common/file_save.h"
#include "common/format.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace recorder {
namespace {

namespace fs = std::filesystem;

constexpr char kMagic[8] = {'O', 'S', 'A', 'J', 'R', 'N', 'L', '1'};
constexpr uint32_t kLegacyVersion = 1;
constexpr uint32_t kJournalVersion = 2;
constexpr std::size_t kJournalHeaderSize = 20;
constexpr uint8_t kSamplesBlock = 1;
constexpr uint8_t kCalibrationBlock = 2;
constexpr uint8_t kMarker[2] = {0xB7, 0x4A};
constexpr std::size_t kBlockHead = 10;  // marker, kind, channel, count, first index
constexpr std::size_t kLegacyBlockHead = 4;
constexpr std::size_t kChecksumSize = 4;
constexpr uint32_t kMostBlockSamples = 4096;
constexpr uint32_t kMostLegacyBlockSamples = 0xFFFF;

uint32_t fnv1a(const uint8_t* bytes, std::size_t size, uint32_t hash = 2166136261u) {
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

// --- the file, on each system ---------------------------------------------------

// A new file only: an existing journal is never truncated. Private to its user.
int openNew(const fs::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
#endif
}

int openToHold(const fs::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_RDONLY | _O_BINARY);
#else
    return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
#endif
}

// An exclusive lock without waiting, dropped when the file is closed (or the process ends).
bool lockNow(int fd) {
#ifdef _WIN32
    // One byte far beyond any journal's end: reading the samples is never blocked.
    OVERLAPPED beyondEnd{};
    beyondEnd.OffsetHigh = 0x40000000;
    return LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd)),
                      LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &beyondEnd) != 0;
#else
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
#endif
}

void closeFile(int fd) {
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
}

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

int cutBackTo(int fd, uint64_t size) {
#ifdef _WIN32
    if (_chsize_s(fd, static_cast<long long>(size)) != 0) return errno;
    return _lseeki64(fd, static_cast<long long>(size), SEEK_SET) < 0 ? errno : 0;
#else
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) return errno;
    return lseek(fd, static_cast<off_t>(size), SEEK_SET) < 0 ? errno : 0;
#endif
}

JournalFileOps withDefaults(JournalFileOps ops) {
    if (!ops.write) ops.write = writeAll;
    if (!ops.sync) ops.sync = syncFile;
    if (!ops.cutBack) ops.cutBack = cutBackTo;
    return ops;
}

// Removed while still locked where the system allows it, so no other
// recorder finds it unlocked for a moment and offers it.
void closeAndRemove(int fd, const fs::path& path, bool remove) {
    std::error_code ignored;
#ifdef _WIN32
    closeFile(fd);  // an open file cannot be deleted here
    if (remove) fs::remove(path, ignored);
#else
    if (remove) fs::remove(path, ignored);
    closeFile(fd);
#endif
}

std::string reason(int error) {
    return std::generic_category().message(error);
}

bool isJournalName(const fs::path& path) {
    const std::string name = path.filename().string();
    return name.size() > kJournalExtension.size() &&
           name.compare(name.size() - kJournalExtension.size(), kJournalExtension.size(),
                        kJournalExtension) == 0;
}

}  // namespace

JournalFileOps systemJournalOps() {
    return withDefaults({});
}

// --- holding a leftover journal ---------------------------------------------------

std::unique_ptr<JournalHold> JournalHold::take(const fs::path& path) {
    const int fd = openToHold(path);
    if (fd < 0) return nullptr;
    if (!lockNow(fd)) {
        closeFile(fd);
        return nullptr;
    }
    return std::unique_ptr<JournalHold>(new JournalHold(path, fd));
}

JournalHold::~JournalHold() {
    release(false);
}

void JournalHold::release(bool remove) {
    if (fd_ < 0) return;
    closeAndRemove(fd_, path_, remove);
    fd_ = -1;
}

bool journalInUse(const fs::path& path) {
    return JournalHold::take(path) == nullptr;
}

std::vector<fs::path> leftoverJournals(const fs::path& folder) {
    std::vector<std::pair<fs::file_time_type, fs::path>> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        // Only files of our own naming, never a link someone planted.
        if (!it->is_regular_file(error) || it->is_symlink(error) || !isJournalName(it->path()))
            continue;
        if (journalInUse(it->path())) continue;
        found.emplace_back(it->last_write_time(error), it->path());
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a > b; });
    std::vector<fs::path> paths;
    for (auto& [time, path] : found)
        paths.push_back(std::move(path));
    return paths;
}

// --- writing --------------------------------------------------------------------

std::unique_ptr<Journal> Journal::create(const fs::path& path, const SampleDocument& document,
                                         std::string& error, JournalFileOps ops) {
    ops = withDefaults(std::move(ops));
    const int fd = openNew(path);
    if (fd < 0) {
        error = common::format("无法建立恢复日志 %s (%s)", common::displayPath(path).c_str(),
                               reason(errno).c_str());
        return nullptr;
    }
    int failure = lockNow(fd) ? 0 : EBUSY;
    uint8_t header[kJournalHeaderSize];
    std::memcpy(header, kMagic, sizeof kMagic);
    common::writeLe32(header + 8, kJournalVersion);
    common::writeLe64(header + 12, std::bit_cast<uint64_t>(document.period));
    if (failure == 0) failure = ops.write(fd, header, sizeof header);
    if (failure == 0) failure = ops.sync(fd);
    if (failure != 0) {
        closeFile(fd);
        std::error_code ignored;
        fs::remove(path, ignored);
        error = common::format("无法写入恢复日志 %s (%s)", common::displayPath(path).c_str(),
                               reason(failure).c_str());
        return nullptr;
    }
    return std::unique_ptr<Journal>(new Journal(path, fd, document, std::move(ops)));
}

std::unique_ptr<Journal> Journal::createIn(const fs::path& folder, const SampleDocument& document,
                                           std::string& error, JournalFileOps ops) {
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    const std::string stem = "test-" + std::to_string(static_cast<long long>(std::time(nullptr)));
    // Two tests in the same second (two windows) get a name each.
    for (int n = 1; n <= 100; ++n) {
        const std::string name = n == 1 ? stem : stem + "-" + std::to_string(n);
        const fs::path path = folder / (name + std::string(kJournalExtension));
        if (fs::exists(fs::symlink_status(path, ignored))) continue;
        if (auto journal = create(path, document, error, ops)) return journal;
        if (fs::exists(fs::symlink_status(path, ignored))) continue;  // taken meanwhile
        return nullptr;
    }
    error = common::format("无法建立恢复日志 %s", common::displayPath(folder).c_str());
    return nullptr;
}

Journal::Journal(fs::path path, int fd, const SampleDocument& document, JournalFileOps ops)
    : path_(std::move(path)), fd_(fd), document_(document), ops_(std::move(ops)) {
    synced_.end = current_.end = kJournalHeaderSize;
}

Journal::~Journal() {
    join();
    if (fd_ >= 0) closeFile(fd_);
}

void Journal::replaces(std::unique_ptr<JournalHold> previous) {
    std::lock_guard lock(mutex_);
    replaced_ = std::move(previous);
}

int Journal::writeBlock(uint8_t kind, uint8_t channel, uint32_t first, const uint16_t* values,
                        uint16_t count) {
    std::vector<uint8_t> block(kBlockHead + std::size_t{count} * 2 + kChecksumSize);
    block[0] = kMarker[0];
    block[1] = kMarker[1];
    block[2] = kind;
    block[3] = channel;
    common::writeLe16(block.data() + 4, count);
    common::writeLe32(block.data() + 6, first);
    for (uint16_t i = 0; i < count; ++i)
        common::writeLe16(block.data() + kBlockHead + 2 * i, values[i]);
    const std::size_t body = block.size() - kChecksumSize;
    common::writeLe32(block.data() + body, fnv1a(block.data(), body));
    const int failure = ops_.write(fd_, block.data(), block.size());
    if (failure == 0) current_.end += block.size();
    return failure;
}

bool Journal::failed(int error) {
    health_.failing = true;
    health_.error = reason(error);
    ++health_.failures;
    // The file may end in a part of a block: cut back before the next write.
    cutBackFirst_ = true;
    current_ = synced_;
    return false;
}

bool Journal::flush() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return false;
    if (cutBackFirst_) {
        if (const int failure = ops_.cutBack(fd_, synced_.end)) return failed(failure);
        cutBackFirst_ = false;
        current_ = synced_;
    }
    if (current_.calibration) {
        const uint16_t calibrated = *current_.calibration;
        if (const int failure = writeBlock(kCalibrationBlock, 0, 0, &calibrated, 1))
            return failed(failure);
        current_.calibration.reset();
    }
    std::vector<uint16_t> values;
    for (int c = 0; c < kChannelCount; ++c) {
        const plot::SampledSeries& channel = document_.channel(c);
        uint32_t& written = current_.written[static_cast<std::size_t>(c)];
        const uint32_t count = channel.count();
        while (written < count) {
            const uint32_t taken = std::min(count - written, kMostBlockSamples);
            values.resize(taken);
            channel.copy(written, taken, values.data());
            if (const int failure = writeBlock(kSamplesBlock, static_cast<uint8_t>(c), written,
                                               values.data(), static_cast<uint16_t>(taken)))
                return failed(failure);
            written += taken;
        }
    }
    if (const int failure = ops_.sync(fd_)) return failed(failure);
    synced_ = current_;
    health_.failing = false;
    // Everything the recovered journal held is in this one now.
    if (replaced_) replaced_->release(true);
    replaced_.reset();
    return true;
}

Journal::Health Journal::health() const {
    std::lock_guard lock(mutex_);
    return health_;
}

void Journal::resume(std::chrono::milliseconds interval) {
    join();
    {
        std::lock_guard lock(mutex_);
        // Until written and synced, whatever happens to the blocks before it.
        current_.calibration = synced_.calibration = document_.currentCalibrated;
        stopping_ = false;
    }
    thread_ = std::thread([this, interval] { flushLoop(interval); });
}

void Journal::flushLoop(std::chrono::milliseconds interval) {
    // At once first: a continued document's earlier samples are caught up here,
    // off the owner's thread. A failure is kept in health(); the next flush retries.
    flush();
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, interval, [this] { return stopping_; })) {
        lock.unlock();
        flush();
        lock.lock();
    }
    lock.unlock();
    flush();  // the last one, here: a slow disk never holds up the window
}

void Journal::pause() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

void Journal::join() {
    pause();
    if (thread_.joinable()) thread_.join();
}

void Journal::remove() {
    join();
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        closeAndRemove(fd_, path_, true);
    } else {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
    fd_ = -1;
    if (replaced_) replaced_->release(true);
    replaced_.reset();
}

// --- recovery ---------------------------------------------------------------------

namespace {

// A window over the source: the bytes from the read position on, refilled as
// they are used, so a journal of any size is read in bounded memory.
class ReadWindow {
  public:
    explicit ReadWindow(ByteSource& source) : source_(source) {}
    // Up to `size` bytes from the position; fewer only at the end.
    std::size_t ensure(std::size_t size) {
        if (bytes_.size() - at_ >= size) return size;
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(at_));
        offset_ += at_;
        at_ = 0;
        while (!ended_ && bytes_.size() < size) {
            const std::size_t had = bytes_.size();
            const std::size_t wanted = std::max<std::size_t>(size - had, kRefill);
            bytes_.resize(had + wanted);
            const std::size_t got = source_.read(bytes_.data() + had, wanted);
            bytes_.resize(had + got);
            ended_ = got == 0;
        }
        return std::min(size, bytes_.size());
    }
    const uint8_t* data() const { return bytes_.data() + at_; }
    void advance(std::size_t size) { at_ += size; }
    uint64_t offset() const { return offset_ + at_; }

  private:
    static constexpr std::size_t kRefill = 1 << 16;
    ByteSource& source_;
    std::vector<uint8_t> bytes_;
    std::size_t at_ = 0;
    uint64_t offset_ = 0;
    bool ended_ = false;
};

struct Block {
    uint8_t kind;
    uint8_t channel;
    uint16_t count;
    std::optional<uint32_t> first;  // version 1 has none: its samples follow the channel's
    const uint8_t* payload;
    std::size_t size;
};

// A whole, valid block at the window's position, if one is there.
std::optional<Block> blockAt(ReadWindow& window, uint32_t version) {
    const bool legacy = version == kLegacyVersion;
    const std::size_t head = legacy ? kLegacyBlockHead : kBlockHead;
    if (window.ensure(head) < head) return std::nullopt;
    const uint8_t* p = window.data();
    if (!legacy && (p[0] != kMarker[0] || p[1] != kMarker[1])) return std::nullopt;
    const uint8_t* fields = legacy ? p : p + 2;
    Block block{fields[0], fields[1], common::readLe16(fields + 2), std::nullopt, nullptr, 0};
    const bool known =
        (block.kind == kSamplesBlock && block.channel < kChannelCount && block.count > 0 &&
         block.count <= (legacy ? kMostLegacyBlockSamples : kMostBlockSamples)) ||
        (block.kind == kCalibrationBlock && block.channel == 0 && block.count == 1);
    if (!known) return std::nullopt;
    block.size = head + std::size_t{block.count} * 2 + kChecksumSize;
    if (window.ensure(block.size) < block.size) return std::nullopt;
    p = window.data();
    const std::size_t body = block.size - kChecksumSize;
    if (common::readLe32(p + body) != fnv1a(p, body)) return std::nullopt;
    if (!legacy) block.first = common::readLe32(p + 6);
    block.payload = p + head;
    return block;
}

// The channels as recovery rebuilds them: each sample at its place, a gap left
// by a damaged block held at the sample before it.
class Rebuilt {
  public:
    // Bytes that could not be read: the samples they held are at most half as many.
    void damaged(uint64_t bytes) {
        gapBudget_ += bytes / 2;
        ++damagedRegions_;
    }
    // False for a block whose place no sample of this journal can have.
    bool place(const Block& block) {
        std::vector<uint16_t>& samples = channels_[block.channel];
        uint64_t& lost = lost_[block.channel];
        const uint64_t first = block.first.value_or(samples.size());
        if (first < samples.size() || first - samples.size() > gapBudget_) return false;
        const uint64_t gap = first - samples.size();
        if (gap > 0) {
            const uint16_t held =
                samples.empty() ? common::readLe16(block.payload) : samples.back();
            samples.insert(samples.end(), gap, held);
            gapBudget_ -= gap;
            lost += gap;
        }
        for (uint16_t i = 0; i < block.count; ++i)
            samples.push_back(common::readLe16(block.payload + 2 * i));
        return true;
    }
    uint64_t samples() const {
        std::size_t most = 0;
        for (const auto& samples : channels_)
            most = std::max(most, samples.size());
        return most;
    }
    uint64_t unreadable() const { return *std::max_element(lost_.begin(), lost_.end()); }
    int damagedRegions() const { return damagedRegions_; }
    // Into the document, with sums and extremes; false when memory ran out.
    bool moveInto(SampleDocument& document) {
        for (int c = 0; c < kChannelCount; ++c) {
            std::vector<uint16_t>& samples = channels_[static_cast<std::size_t>(c)];
            if (samples.empty()) continue;
            plot::SampledSeries& channel = document.channel(c);
            plot::SeriesExtremes extremes = channel.extremes();
            double sum = 0;
            for (const uint16_t sample : samples) {
                sum += sample;
                extremes.maximum = std::max<int32_t>(extremes.maximum, sample);
                extremes.minimum = std::min<int32_t>(extremes.minimum, sample);
            }
            if (samples.size() > plot::SampledSeries::kCapacity - 1 ||
                !channel.appendBlock(samples.data(), static_cast<uint32_t>(samples.size())))
                return false;
            channel.setSum(sum);
            channel.setExtremes(extremes);
            std::vector<uint16_t>().swap(samples);
        }
        return true;
    }

  private:
    std::array<std::vector<uint16_t>, kChannelCount> channels_;
    std::array<uint64_t, kChannelCount> lost_{};
    uint64_t gapBudget_ = 0;
    int damagedRegions_ = 0;
};

}  // namespace

JournalRecovery recoverJournal(const fs::path& path) {
    const std::string name = common::displayPath(path);
    std::unique_ptr<FileSource> source = FileSource::open(path);
    if (!source) return {nullptr, common::format("无法打开文件 %s !", name.c_str()), 0, 0};
    return recoverJournal(*source, name);
}

JournalRecovery recoverJournal(ByteSource& source, const std::string& name) {
    JournalRecovery recovery;
    ReadWindow window(source);
    const uint32_t version = window.ensure(kJournalHeaderSize) == kJournalHeaderSize
                                 ? common::readLe32(window.data() + 8)
                                 : 0;
    if (version == 0 || std::memcmp(window.data(), kMagic, sizeof kMagic) != 0 ||
        (version != kLegacyVersion && version != kJournalVersion)) {
        recovery.message = common::format("%s 不是恢复日志!", name.c_str());
        return recovery;
    }
    recovery.document = std::make_unique<SampleDocument>();
    SampleDocument& document = *recovery.document;
    document.period = std::bit_cast<double>(common::readLe64(window.data() + 12));
    if (!(document.period > 0 && document.period < 1e6)) document.period = kSamplingPeriodSeconds;
    window.advance(kJournalHeaderSize);

    Rebuilt rebuilt;
    bool inDamage = false;  // since damagedFrom, no valid block
    uint64_t damagedFrom = 0;
    bool tornEnd = false;
    while (window.ensure(1) > 0) {
        const std::optional<Block> block = blockAt(window, version);
        if (!block) {
            // Version 1 blocks carry no marker to find the next one by: the rest is lost.
            if (version == kLegacyVersion) {
                tornEnd = true;
                break;
            }
            if (!inDamage) damagedFrom = window.offset();
            inDamage = true;
            window.advance(1);
            continue;
        }
        // The damage before a good block may have held the samples its gap misses.
        if (inDamage) rebuilt.damaged(window.offset() - damagedFrom);
        inDamage = false;
        if (block->kind == kCalibrationBlock) {
            document.currentCalibrated = common::readLe16(block->payload);
        } else if (!rebuilt.place(*block)) {
            damagedFrom = window.offset();
            inDamage = true;
        }
        window.advance(block->size);
    }
    tornEnd = tornEnd || inDamage;

    recovery.samples = rebuilt.samples();
    recovery.unreadable = rebuilt.unreadable();
    if (!rebuilt.moveInto(document)) {
        recovery.document.reset();
        recovery.message = "内存不足!";
        return recovery;
    }
    std::string& message = recovery.message;
    if (rebuilt.damagedRegions() > 0 && recovery.unreadable == 0) {
        message =
            common::format("日志中有 %d 处损坏，已跳过，没有采样丢失", rebuilt.damagedRegions());
    } else if (rebuilt.damagedRegions() > 0) {
        message = common::format(
            "日志中有 %d 处损坏，%llu 个采样无法读取，已按时间用前一个采样值补齐",
            rebuilt.damagedRegions(), static_cast<unsigned long long>(recovery.unreadable));
    }
    if (tornEnd)
        message += std::string(message.empty() ? "" : "；") + "日志末尾有一段不完整的数据，已略去";
    document.modified.store(true);
    return recovery;
}

}  // namespace recorder
