// The recovery journal: what a crash, a damaged block, a full disk or a
// second recorder may do to it, and what recovery brings back.
#include "recorder/journal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <random>
#include <thread>

#include "common/byte_order.h"
#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using recorder::Journal;
using recorder::SampleDocument;

std::vector<uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void writeAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

constexpr uint32_t kBatch = 10;  // a second of samples, as the journal flushes them
constexpr uint32_t kBatches = 30;

uint16_t voltageAt(uint32_t i) {
    return static_cast<uint16_t>(5000 + i * 7);
}
uint16_t currentAt(uint32_t i) {
    return static_cast<uint16_t>(100 + i * 3);
}

class JournalTest : public ::testing::Test {
  protected:
    fs::path file(const char* name) const { return folder.path() / name; }
    void append(SampleDocument& document, uint32_t count) {
        for (uint32_t k = 0; k < count; ++k) {
            const uint32_t i = document.channel(0).count();
            document.appendSample(voltageAt(i), currentAt(i), {true, false, true});
        }
    }
    // kBatches flushes of a second each: two blocks (voltage, current) a flush.
    std::unique_ptr<Journal> journalOfBatches(SampleDocument& document, const fs::path& path) {
        std::string error;
        auto journal = Journal::create(path, document, error);
        EXPECT_TRUE(journal) << error;
        for (uint32_t b = 0; journal && b < kBatches; ++b) {
            append(document, kBatch);
            EXPECT_TRUE(journal->flush());
        }
        return journal;
    }
    // Where each block starts, read from the file as the layout gives it.
    static std::vector<std::size_t> blockStarts(const std::vector<uint8_t>& bytes) {
        std::vector<std::size_t> starts;
        for (std::size_t at = 20; at + 10 <= bytes.size();
             at += 14 + 2 * std::size_t{common::readLe16(&bytes[at + 4])})
            starts.push_back(at);
        return starts;
    }
    testing_support::TestFolder folder{"journal_test"};
};

TEST_F(JournalTest, BringsBackWhatWasRecordedInBlocksOfAnySize) {
    SampleDocument document;
    append(document, 5);
    std::string error;
    std::unique_ptr<Journal> journal = Journal::create(file("t.osa.journal"), document, error);
    ASSERT_TRUE(journal) << error;
    document.currentCalibrated = 0;
    journal->resume(1h);
    append(document, 100'000);  // more than one block a channel
    journal->pause();
    journal.reset();  // a crash: the file stays

    const recorder::JournalRecovery recovery = recorder::recoverJournal(file("t.osa.journal"));
    ASSERT_TRUE(recovery.document) << recovery.message;
    const SampleDocument& back = *recovery.document;
    EXPECT_EQ(recovery.samples, 100'005u);  // once, not once a channel
    EXPECT_EQ(recovery.unreadable, 0u);
    EXPECT_EQ(recovery.message, "");
    EXPECT_EQ(back.channel(0).count(), 100'005u);
    EXPECT_EQ(back.channel(2).at(100'004), document.channel(2).at(100'004));
    EXPECT_EQ(back.channel(0).sum(), document.channel(0).sum());
    EXPECT_EQ(back.channel(0).extremes().maximum, document.channel(0).extremes().maximum);
    EXPECT_EQ(back.currentCalibrated, 0);
    EXPECT_TRUE(back.modified);

    EXPECT_FALSE(Journal::create(file("none/t.journal"), document, error));
    EXPECT_NE(error.find("none"), std::string::npos);
    writeAll(file("foreign"), {1, 2, 3});
    EXPECT_FALSE(recorder::recoverJournal(file("foreign")).document);
}

// A damaged block is skipped and recovery goes on with the next good one;
// the samples after it keep their time, the gap holds the sample before it.
TEST_F(JournalTest, RecoveryStepsOverDamageAndSaysWhatWasLost) {
    struct Case {
        const char* what;
        // Damages the file; the blocks' starts are given.
        std::function<void(std::vector<uint8_t>&, const std::vector<std::size_t>&)> damage;
        uint32_t voltageGapFrom, voltageGapTo;  // samples of channel 0 not read back
        uint32_t currentGapFrom, currentGapTo;
        uint64_t unreadable;
        const char* message;
    };
    const uint32_t n = kBatch * kBatches;
    const Case cases[] = {
        {"a flipped bit in a voltage block", [](auto& bytes, auto& at) { bytes[at[10] + 15] ^= 4; },
         50, 60, 0, 0, 10, "日志中有 1 处损坏，10 个采样无法读取"},
        {"a stretch of zeros over four blocks",
         [](auto& bytes, auto& at) {
             std::fill(bytes.begin() + long(at[20]), bytes.begin() + long(at[24]), 0);
         },
         100, 120, 100, 120, 20, "日志中有 1 处损坏，20 个采样无法读取"},
        {"bytes slipped in between two blocks",
         [](auto& bytes, auto& at) {
             std::mt19937 random(7);
             std::vector<uint8_t> junk(37);
             for (auto& b : junk)
                 b = static_cast<uint8_t>(random());
             junk[0] = 0xB7;  // a false start of a block
             junk[1] = 0x4A;
             bytes.insert(bytes.begin() + long(at[31]), junk.begin(), junk.end());
         },
         0, 0, 0, 0, 0, "日志中有 1 处损坏，已跳过，没有采样丢失"},
        {"the first block's marker", [](auto& bytes, auto& at) { bytes[at[0]] = 0; }, 0, 10, 0, 0,
         10, "10 个采样无法读取"},
        {"two damaged places",
         [](auto& bytes, auto& at) {
             bytes[at[3] + 20] ^= 1;
             bytes[at[40] + 12] ^= 1;
         },
         200, 210, 10, 20, 10, "日志中有 2 处损坏，10 个采样无法读取"},
        {"a current block between two flushes",
         [](auto& bytes, auto& at) {
             // Only the current of one second is lost; the next block is voltage again.
             bytes[at[7] + 11] ^= 0x80;
         },
         0, 0, 30, 40, 10, "日志中有 1 处损坏，10 个采样无法读取"},
        {"a torn end", [](auto& bytes, auto&) { bytes.resize(bytes.size() - 9); }, 0, 0, n - 10, n,
         0, "日志末尾有一段不完整的数据，已略去"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SampleDocument document;
        const fs::path path = file("damaged.osa.journal");
        fs::remove(path);
        journalOfBatches(document, path).reset();
        std::vector<uint8_t> bytes = readAll(path);
        c.damage(bytes, blockStarts(bytes));
        writeAll(path, bytes);

        const recorder::JournalRecovery recovery = recorder::recoverJournal(path);
        ASSERT_TRUE(recovery.document) << recovery.message;
        EXPECT_NE(recovery.message.find(c.message), std::string::npos) << recovery.message;
        EXPECT_EQ(recovery.unreadable, c.unreadable);
        const auto expect = [&](int channel, uint32_t gapFrom, uint32_t gapTo,
                                uint16_t (*value)(uint32_t)) {
            const plot::SampledSeries& back = recovery.document->channel(channel);
            const bool tornAway = gapTo == n && c.unreadable == 0;  // not filled: the end is gone
            ASSERT_EQ(back.count(), tornAway ? gapFrom : n);
            for (uint32_t i = 0; i < back.count(); ++i) {
                const bool lost = i >= gapFrom && i < gapTo;
                const uint16_t held = gapFrom == 0 ? value(gapTo) : value(gapFrom - 1);
                ASSERT_EQ(back.at(i), lost ? held : value(i)) << "channel " << channel << " " << i;
            }
        };
        expect(0, c.voltageGapFrom, c.voltageGapTo, voltageAt);
        expect(2, c.currentGapFrom, c.currentGapTo, currentAt);
    }
}

// Failing writes or syncs followed by good ones: the journal cuts the file back
// to what its last good sync left and writes everything since again.
TEST_F(JournalTest, AFullDiskThatFreesUpAgainLosesNothing) {
    enum class Fault { WriteHalfThenFull, SyncFails, CutBackFails };
    for (const Fault fault : {Fault::WriteHalfThenFull, Fault::SyncFails, Fault::CutBackFails}) {
        SCOPED_TRACE(static_cast<int>(fault));
        const recorder::JournalFileOps system = recorder::systemJournalOps();
        bool writeFails = false, syncFails = false, cutBackFails = false;
        recorder::JournalFileOps ops;
        ops.write = [&](int fd, const uint8_t* bytes, std::size_t size) {
            if (!writeFails) return system.write(fd, bytes, size);
            system.write(fd, bytes, size / 2);  // what fitted on the disk
            return ENOSPC;
        };
        ops.sync = [&](int fd) { return syncFails ? EIO : system.sync(fd); };
        ops.cutBack = [&](int fd, uint64_t size) {
            return cutBackFails ? EIO : system.cutBack(fd, size);
        };
        SampleDocument document;
        const fs::path path = file("full.osa.journal");
        fs::remove(path);
        std::string error;
        auto journal = Journal::create(path, document, error, ops);
        ASSERT_TRUE(journal) << error;
        append(document, 25);
        ASSERT_TRUE(journal->flush());
        for (int second = 0; second < 3; ++second) {
            writeFails =
                fault == Fault::WriteHalfThenFull || (fault == Fault::CutBackFails && second == 0);
            syncFails = fault == Fault::SyncFails;
            cutBackFails = fault == Fault::CutBackFails && second > 0;
            append(document, kBatch);
            EXPECT_FALSE(journal->flush());
            EXPECT_TRUE(journal->health().failing);
        }
        EXPECT_EQ(journal->health().failures, 3u);
        EXPECT_FALSE(journal->health().error.empty());
        writeFails = syncFails = cutBackFails = false;  // space again
        append(document, kBatch);
        ASSERT_TRUE(journal->flush());
        EXPECT_FALSE(journal->health().failing);
        journal.reset();

        const recorder::JournalRecovery recovery = recorder::recoverJournal(path);
        ASSERT_TRUE(recovery.document) << recovery.message;
        EXPECT_EQ(recovery.message, "");  // no torn or damaged block left in it
        ASSERT_EQ(recovery.document->channel(0).count(), document.channel(0).count());
        for (uint32_t i = 0; i < document.channel(0).count(); ++i) {
            ASSERT_EQ(recovery.document->channel(0).at(i), voltageAt(i));
            ASSERT_EQ(recovery.document->channel(2).at(i), currentAt(i));
        }
    }
}

// pause() never waits for the disk: the last flush and its sync run on the
// journal's thread.
TEST_F(JournalTest, TheLastFlushRunsOnTheJournalsThread) {
    const recorder::JournalFileOps system = recorder::systemJournalOps();
    std::mutex mutex;
    std::condition_variable changed;
    bool slowDisk = false, released = false;
    int syncs = 0;
    std::vector<std::thread::id> syncThreads;
    recorder::JournalFileOps ops;
    ops.sync = [&](int fd) {
        std::unique_lock lock(mutex);
        syncThreads.push_back(std::this_thread::get_id());
        ++syncs;
        changed.notify_all();
        changed.wait(lock, [&] { return !slowDisk || released; });
        return system.sync(fd);
    };
    SampleDocument document;
    std::string error;
    auto journal = Journal::create(file("slow.osa.journal"), document, error, ops);
    ASSERT_TRUE(journal) << error;
    journal->resume(1h);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return syncs >= 2; }));  // create, first
        slowDisk = true;
    }
    append(document, 40);
    std::future<void> paused = std::async(std::launch::async, [&] { journal->pause(); });
    const bool returned = paused.wait_for(5s) == std::future_status::ready;
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    paused.wait();
    EXPECT_TRUE(returned) << "pause() waited for the disk";
    journal.reset();  // joins the thread
    ASSERT_EQ(syncThreads.size(), 3u);
    for (std::size_t i = 1; i < syncThreads.size(); ++i)
        EXPECT_NE(syncThreads[i], std::this_thread::get_id());
    const auto recovery = recorder::recoverJournal(file("slow.osa.journal"));
    ASSERT_TRUE(recovery.document);
    EXPECT_EQ(recovery.samples, 40u);
}

// A running test's journal is its own: not offered, not deleted, not overwritten.
TEST_F(JournalTest, ARunningTestsJournalIsLeftAlone) {
    SampleDocument document;
    std::string error;
    auto running = Journal::createIn(folder.path(), document, error);
    ASSERT_TRUE(running) << error;
    auto second = Journal::createIn(folder.path(), document, error);  // the same second
    ASSERT_TRUE(second) << error;
    EXPECT_NE(running->path(), second->path());
    append(document, 20);
    ASSERT_TRUE(running->flush());
    EXPECT_TRUE(recorder::journalInUse(running->path()));
    EXPECT_TRUE(recorder::leftoverJournals(folder.path()).empty());
    EXPECT_FALSE(recorder::JournalHold::take(running->path()));
    EXPECT_FALSE(Journal::create(running->path(), document, error));
    EXPECT_EQ(fs::file_size(running->path()), readAll(running->path()).size());
    EXPECT_GT(fs::file_size(running->path()), 20u);

    // Gone without a save (a crash): now it is a leftover, offered once held by nobody.
    const fs::path left = running->path();
    running.reset();
    second->remove();
    EXPECT_EQ(recorder::leftoverJournals(folder.path()), std::vector<fs::path>{left});
    auto held = recorder::JournalHold::take(left);
    ASSERT_TRUE(held);
    EXPECT_TRUE(recorder::leftoverJournals(folder.path()).empty());
    // A journal for the recovered document takes its place once it holds everything.
    SampleDocument recovered;
    append(recovered, 20);
    auto next = Journal::createIn(folder.path(), recovered, error);
    ASSERT_TRUE(next) << error;
    next->replaces(std::move(held));
    EXPECT_TRUE(fs::exists(left));
    ASSERT_TRUE(next->flush());
    EXPECT_FALSE(fs::exists(left));
    next->remove();
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

// Journals of the suite's first version (no block markers) are still read.
TEST_F(JournalTest, AFirstVersionJournalIsStillRead) {
    std::vector<uint8_t> bytes = {'O', 'S', 'A', 'J', 'R', 'N', 'L', '1', 1, 0, 0, 0};
    bytes.resize(20);
    common::writeLe64(bytes.data() + 12, std::bit_cast<uint64_t>(0.1));
    const auto block = [&](uint8_t kind, uint8_t channel, std::vector<uint16_t> values) {
        const std::size_t start = bytes.size();
        bytes.insert(bytes.end(), {kind, channel, 0, 0});
        common::writeLe16(&bytes[start + 2], static_cast<uint16_t>(values.size()));
        for (const uint16_t v : values) {
            bytes.resize(bytes.size() + 2);
            common::writeLe16(&bytes[bytes.size() - 2], v);
        }
        uint32_t hash = 2166136261u;
        for (std::size_t i = start; i < bytes.size(); ++i)
            hash = (hash ^ bytes[i]) * 16777619u;
        bytes.resize(bytes.size() + 4);
        common::writeLe32(&bytes[bytes.size() - 4], hash);
    };
    block(2, 0, {0});
    block(1, 0, {5000, 5001, 5002});
    block(1, 2, {10, 11, 12});
    writeAll(file("old.osa.journal"), bytes);
    const auto recovery = recorder::recoverJournal(file("old.osa.journal"));
    ASSERT_TRUE(recovery.document) << recovery.message;
    EXPECT_EQ(recovery.samples, 3u);
    EXPECT_EQ(recovery.document->channel(2).at(2), 12);
    EXPECT_EQ(recovery.document->currentCalibrated, 0);
}

}  // namespace
