#include "instrument/firmware_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "instrument/firmware_frames.h"
#include "simulator/simulated_device.h"
#include "support/test_folder.h"
#include "support/virtual_clock.h"

namespace {

using instrument::FirmwareOutcome;

// Cuts the link when page `cutAtPage` is written, as a pulled cable would.
class CuttingDevice final : public device::HidDevice {
  public:
    explicit CuttingDevice(simulator::SimulatedDevice& inner) : inner_(inner) {}
    bool open() override { return inner_.open(); }
    void close() override { inner_.close(); }
    bool isOpen() const override { return inner_.isOpen(); }
    int write(const uint8_t* buffer) override {
        uint32_t page = 0;
        if (cutAtPage && simulator::FirmwareResponder::isFirmwarePage(buffer, page) &&
            page == cutAtPage)
            inner_.instrument().unplug();
        return inner_.write(buffer);
    }
    int read(uint8_t* buffer) override { return inner_.read(buffer); }
    std::string errorText() const override { return inner_.errorText(); }
    uint32_t cutAtPage = 0;

  private:
    simulator::SimulatedDevice& inner_;
};

struct Progress final : instrument::FirmwareTransferListener {
    void onHeaderSent() override { headerSent = true; }
    void onStatusText(std::string_view text) override { texts.emplace_back(text); }
    void onProgress(uint32_t d, uint32_t p) override { done = d, pages = p; }
    bool headerSent = false;
    std::vector<std::string> texts;
    uint32_t done = 0, pages = 0;
};

// "SIMFW", the version it carries, then filler up to `length` bytes.
std::vector<uint8_t> image(std::size_t length, uint16_t version = 0x0203) {
    std::vector<uint8_t> bytes = {'S', 'I', 'M', 'F', 'W', uint8_t(version >> 8), uint8_t(version)};
    for (std::size_t i = bytes.size(); i < length; ++i)
        bytes.push_back(static_cast<uint8_t>(i * 7));
    return bytes;
}

struct Bench {
    explicit Bench(simulator::InstrumentSettings settings = {})
        : instrument(std::make_shared<simulator::Instrument>(settings, clock)),
          simulated(instrument, locks.lockPath()),
          device(simulated) {
        EXPECT_TRUE(device.open());
    }
    instrument::FirmwareOutcome transfer(const std::vector<uint8_t>& bytes, Progress& progress) {
        const auto versions = instrument::readInstrumentVersions(device, clock);
        EXPECT_TRUE(versions);
        const instrument::FirmwareImage firmware{
            bytes, versions->hardware[1], versions->hardware[0],
            static_cast<int>(instrument::firmwareByteSum(bytes) % 256)};
        return instrument::transferFirmware(device, clock, firmware, progress);
    }
    testing_support::IsolatedLocks locks;
    // The transfer's pauses, the instrument's acknowledgements and burning,
    // and every read's time-out all in virtual time.
    testing_support::VirtualClock clock;
    std::shared_ptr<simulator::Instrument> instrument;
    simulator::SimulatedDevice simulated;
    CuttingDevice device;
};

TEST(FirmwareTransfer, BurnsTheImageAndTheInstrumentReportsItsNewVersion) {
    Bench bench;
    bench.instrument->clearReceivedFrames();
    Progress progress;
    EXPECT_EQ(bench.transfer(image(113), progress), instrument::FirmwareOutcome::Burned);
    EXPECT_TRUE(progress.headerSent);
    EXPECT_EQ(progress.done, 3u);
    EXPECT_EQ(progress.pages, 3u);
    EXPECT_EQ(progress.texts,
              (std::vector<std::string>{"正在升级.....", "下传成功，正在烧写...."}));
    // Connect ×2, start listening ×2, header ×2, three pages; the last page
    // carries one file byte and zeros.
    const auto frames = bench.instrument->receivedFrames();
    ASSERT_EQ(frames.size(), 9u);
    EXPECT_EQ(frames[4], frames[5]);
    EXPECT_EQ(frames[8][9], image(113)[112]);
    EXPECT_EQ(frames[8][10], 0);
    EXPECT_EQ(bench.instrument->firmwareVersion(), 0x0203);
    const auto after = instrument::readInstrumentVersions(bench.device, bench.clock);
    ASSERT_TRUE(after);
    EXPECT_EQ(instrument::currentFirmwareText(*after), "当前软件版本：2.3");
}

TEST(FirmwareTransfer, FailuresKeepTheOldFirmware) {
    struct Case {
        const char* fault;
        instrument::FirmwareOutcome outcome;
    };
    for (const Case& c : {Case{"refuse-page@2", instrument::FirmwareOutcome::Failed},
                          Case{"silent-burn", instrument::FirmwareOutcome::Failed}}) {
        simulator::InstrumentSettings settings;
        ASSERT_TRUE(simulator::applyFault(c.fault, settings));
        Bench bench(settings);
        Progress progress;
        const auto before = bench.clock.elapsed();
        EXPECT_EQ(bench.transfer(image(200), progress), c.outcome) << c.fault;
        EXPECT_EQ(bench.instrument->firmwareVersion(), 0x0105) << c.fault;
        // It gave up only after waiting out the instrument (at least one read's wait).
        EXPECT_GE(bench.clock.elapsed() - before, std::chrono::milliseconds(300)) << c.fault;
    }
}

TEST(FirmwareTransfer, AWrongChecksumSendsNothing) {
    Bench bench;
    bench.instrument->clearReceivedFrames();
    const auto bytes = image(120);
    Progress progress;
    const instrument::FirmwareImage firmware{bytes, 1, 0,
                                             int(instrument::firmwareByteSum(bytes) % 256) ^ 1};
    EXPECT_EQ(instrument::transferFirmware(bench.device, bench.clock, firmware, progress),
              instrument::FirmwareOutcome::ChecksumMismatch);
    EXPECT_TRUE(bench.instrument->receivedFrames().empty());
    EXPECT_FALSE(progress.headerSent);
}

TEST(FirmwareTransfer, AnUnplugMidTransferFailsAndAFreshAttemptSucceeds) {
    std::mt19937 random(7);
    for (int round = 0; round < 3; ++round) {
        Bench bench;
        const auto bytes = image(56 * 9 + 5);  // ten pages
        bench.device.cutAtPage = std::uniform_int_distribution<uint32_t>(1, 10)(random);
        Progress progress;
        EXPECT_EQ(bench.transfer(bytes, progress), instrument::FirmwareOutcome::Failed);
        EXPECT_EQ(bench.instrument->firmwareVersion(), 0x0105);

        bench.device.close();
        bench.instrument->plugIn();
        bench.device.cutAtPage = 0;
        ASSERT_TRUE(bench.device.open());
        EXPECT_EQ(bench.transfer(bytes, progress), instrument::FirmwareOutcome::Burned);
        EXPECT_EQ(bench.instrument->firmwareVersion(), 0x0203);
    }
}

// Answers every read with the next of its reports, then nothing.
class ScriptedDevice final : public device::HidDevice {
  public:
    explicit ScriptedDevice(std::vector<std::vector<uint8_t>> reports)
        : reports_(std::move(reports)) {}
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    int write(const uint8_t*) override { return device::kWritten; }
    int read(uint8_t* buffer) override {
        if (next_ == reports_.size()) return device::kTimedOut;
        std::fill(buffer, buffer + device::kLinkReportLength, 0);
        std::copy(reports_[next_].begin(), reports_[next_].end(), buffer + 1);
        ++next_;
        return device::kDataRead;
    }
    std::string errorText() const override { return {}; }

  private:
    std::vector<std::vector<uint8_t>> reports_;
    std::size_t next_ = 0;
};

// A report with the versions at bytes 13-19 behind the head `head`.
std::vector<uint8_t> versionReport(std::vector<uint8_t> head, uint8_t firmwareMinor) {
    std::vector<uint8_t> report(64, 0);
    std::copy(head.begin(), head.end(), report.begin());
    const uint8_t versions[] = {0x0A, 0x01, 0x02, 0x01, firmwareMinor, 0x01, 0x10};
    std::copy(std::begin(versions), std::end(versions), report.begin() + 13);
    return report;
}

// The versions are bytes 13-19 of the last report the connect exchange read,
// whatever it begins with.
TEST(FirmwareTransfer, VersionsAreReadWhateverTheReplysHead) {
    const struct {
        const char* what;
        std::vector<std::vector<uint8_t>> reports;
        const char* firmware;
    } cases[] = {
        {"a connect reply", {versionReport({0x55, 0x12, 0x11, 0x04}, 5)}, "当前软件版本：1.5"},
        {"another head", {versionReport({0x55, 0x12, 0x99}, 6)}, "当前软件版本：1.6"},
        {"no head at all", {versionReport({}, 7)}, "当前软件版本：1.7"},
        {"the last of several",
         {versionReport({0x55, 0x12, 0x11, 0x04}, 5), versionReport({0x01, 0x02}, 8)},
         "当前软件版本：1.8"},
    };
    for (const auto& c : cases) {
        ScriptedDevice device(c.reports);
        testing_support::VirtualClock clock;
        const auto versions = instrument::readInstrumentVersions(device, clock);
        ASSERT_TRUE(versions) << c.what;
        EXPECT_EQ(instrument::currentFirmwareText(*versions), c.firmware) << c.what;
        EXPECT_EQ(versions->hardware[0], 0x0A) << c.what;
        EXPECT_EQ(versions->ufcs[1], 0x10) << c.what;
    }
}

TEST(FirmwareTransfer, ASilentInstrumentIsNotConnected) {
    Bench bench;
    bench.instrument->setAnswering(false);
    EXPECT_FALSE(instrument::readInstrumentVersions(bench.device, bench.clock));
}

}  // namespace
