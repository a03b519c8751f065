#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analyzer/session.h"
#include "device/exclusive_lock.h"
#include "device/instrument_catalog.h"
#include "simulator/simulated_device.h"
#include "support/owner_thread_guard.h"
#include "support/test_folder.h"
#include "ufcs/capture_list.h"
#include "ufcs/decoder.h"

namespace {

using namespace std::chrono_literals;
using analyzer::PaneStyle;

// Real steady time, so the loop can wait for the worker; sleeps are only recorded.
// Pauses cost nothing and are kept; one on the owner's thread is counted by `guard`.
class TestClock final : public common::Clock {
  public:
    explicit TestClock(testing_support::OwnerThreadGuard* guard = nullptr) : guard_(guard) {}
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    common::LocalTime localTime() const override { return {9, 5, 7}; }
    void sleepFor(std::chrono::milliseconds duration) override {
        if (guard_) guard_->note("a pause");
        std::lock_guard lock(mutex_);
        sleeps_.push_back(duration.count());
    }
    std::vector<long> sleeps() const {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

  private:
    testing_support::OwnerThreadGuard* guard_;
    mutable std::mutex mutex_;
    std::vector<long> sleeps_;
};

struct RecordingListener : analyzer::SessionListener {
    void onPaneText(const std::string& text, PaneStyle style) override {
        pane.emplace_back(text, style);
    }
    void onMessageBox(const std::string& text) override { boxes.push_back(text); }
    void onListeningChanged(bool on) override { listening = on; }
    void onRecordsAdded(uint32_t count) override {
        lastCount = count;
        if (list) listAndDecodeNewRows();
    }
    void onLostStep() override {
        ++lostSteps;
        if (list) list->clear();
    }
    // As the window does: list the new records, decode them, and ask for a
    // repaint, which comes later through the loop.
    void listAndDecodeNewRows() {
        const std::size_t first = list->rowCount();
        list->appendNew();
        readRows(first);
        if (loop) loop->post([this] { readRows(); });
    }
    // A repaint reads rows listed earlier, without looking at the store's count again.
    void readRows(std::size_t first = 0) {
        for (std::size_t row = first; row < list->rowCount(); ++row) {
            list->rowTexts(row);
            ufcs::decodeRecord(list->store().record(list->recordAt(row)), list->recordAt(row));
        }
    }
    void onStatus(const analyzer::StatusEffects& effects) override {
        statuses.push_back(effects.code);
    }
    void onCapabilityTable(const instrument::OutputCapabilityTable& table) override {
        tables.push_back(table);
    }
    void onStatusTick(const analyzer::StatusTexts& texts) override { ticks.push_back(texts); }
    void onStoreFull(const std::string& text) override { storeFull.push_back(text); }

    bool paneHas(const std::string& text, PaneStyle style) const {
        for (const auto& [t, s] : pane) {
            if (t == text && s == style) return true;
        }
        return false;
    }

    std::vector<std::pair<std::string, PaneStyle>> pane;
    std::vector<std::string> boxes;
    bool listening = false;
    uint32_t lastCount = 0;
    int lostSteps = 0;
    std::vector<uint8_t> statuses;
    std::vector<instrument::OutputCapabilityTable> tables;
    std::vector<analyzer::StatusTexts> ticks;
    std::vector<std::string> storeFull;
    ufcs::CaptureList* list = nullptr;
    common::EventLoop* loop = nullptr;
};

// Fails every read once asked to, as a broken link would.
class BreakableDevice final : public device::HidDevice {
  public:
    explicit BreakableDevice(device::HidDevice& inner) : inner_(inner) {
        inner_.setRemovalHandler([this] { reportRemoval(); });
    }
    bool open() override { return inner_.open(); }
    void close() override { inner_.close(); }
    bool isOpen() const override { return inner_.isOpen(); }
    int write(const uint8_t* buffer) override { return inner_.write(buffer); }
    int read(uint8_t* buffer) override { return broken_ ? device::kFailed : inner_.read(buffer); }
    std::string errorText() const override { return "设备读取失败"; }
    void breakLink() { broken_ = true; }

  private:
    device::HidDevice& inner_;
    std::atomic<bool> broken_{false};
};

std::string uniqueLockPath() {
    static testing_support::TestFolder folder("session_test");
    static int serial = 0;
    return folder.file("instrument-" + std::to_string(++serial) + ".lock");
}

simulator::InstrumentSettings quietInstrument() {
    simulator::InstrumentSettings settings;
    settings.recordsPerSecond = 0;  // traffic only when a test injects it
    settings.faultRate = 0;
    return settings;
}

class SessionTest : public ::testing::Test {
  protected:
    SessionTest()
        : store(ufcs::CaptureStore::create()),
          instrument(std::make_shared<simulator::Instrument>(quietInstrument())),
          lockPath(uniqueLockPath()),
          simulated(instrument, lockPath),
          guarded(simulated, guard),
          device(guarded) {}
    // Nothing the session did talked to the instrument or paused on the owner's thread.
    void TearDown() override {
        session.closeAnalyzer();
        EXPECT_EQ(guard.violations(), 0) << "on the owner's thread: " << guard.last();
    }
    ~SessionTest() override {
        std::error_code ignored;  // still held (Windows) until the members go
        std::filesystem::remove(lockPath, ignored);
    }

    bool waitFor(const std::function<bool()>& condition) { return loop.runUntil(condition, 5s); }
    // Every job posted to the instrument's link has run.
    bool linkSettled() {
        return waitFor([this] { return !session.linkBusy(); });
    }
    // The instrument's command codes (byte 8) and parameters (byte 9) of the frames it received.
    std::vector<std::pair<int, int>> commands() const {
        std::vector<std::pair<int, int>> codes;
        for (const auto& frame : instrument->receivedFrames()) {
            if (frame[2] == 0x11) codes.emplace_back(frame[8], frame[9]);
        }
        return codes;
    }
    // Listening announced (the connect exchange and the start frames are done on
    // the link thread) and the instrument's first status reply taken.
    bool startAndSettle() {
        listener.statuses.clear();
        if (!session.startListening()) return false;
        return waitFor([this] { return listener.listening && !listener.statuses.empty(); });
    }

    std::unique_ptr<ufcs::CaptureStore> store;
    std::shared_ptr<simulator::Instrument> instrument;
    std::string lockPath;
    testing_support::OwnerThreadGuard guard;
    simulator::SimulatedDevice simulated;
    testing_support::GuardedDevice guarded;
    BreakableDevice device;
    TestClock clock{&guard};
    common::TaskLoop loop{clock};
    common::MemoryProfile profile;
    RecordingListener listener;
    analyzer::Session session{device, *store, profile, loop, clock, listener};
};

TEST_F(SessionTest, ListeningStartsWithTheConnectExchangeAndThreeStartFrames) {
    ASSERT_TRUE(startAndSettle());
    EXPECT_TRUE(session.connected());
    EXPECT_TRUE(listener.listening);
    EXPECT_EQ(commands(),
              (std::vector<std::pair<int, int>>{{4, 0}, {4, 0}, {1, 1}, {1, 1}, {1, 1}}));
    EXPECT_EQ(clock.sleeps(), (std::vector<long>{20, 20, 10}));
    EXPECT_TRUE(listener.paneHas("模式：监听模式\r\n", PaneStyle::Normal));
    EXPECT_EQ(listener.statuses, std::vector<uint8_t>{0x12});
    // The header records how the capture was started and the instrument's ranges.
    const ufcs::CaptureHeaderRecord header = ufcs::CaptureHeaderRecord::readFrom(store->record(0));
    EXPECT_EQ(header.mode, 1);
    EXPECT_FALSE(header.currentUncalibrated);
    EXPECT_EQ(header.currentRangeMa, 6000);

    instrument->injectTraffic(40);
    ASSERT_TRUE(waitFor([this] { return listener.lastCount == 41; }));
    for (uint32_t i = 1; i < 41; ++i)
        ASSERT_EQ(store->record(i).index(), i);

    // The status timer polls with the current mode and shows the live values it got.
    instrument->clearReceivedFrames();
    loop.advanceTimers(250ms);
    ASSERT_TRUE(linkSettled());
    EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{3, 1}}));
    ASSERT_TRUE(waitFor([this] {
        loop.advanceTimers(250ms);
        return !listener.ticks.empty() && listener.ticks.back().values.busMillivolts >= 5000;
    }));
    const analyzer::StatusTexts& shown = listener.ticks.back();
    char expected[32];
    std::snprintf(expected, sizeof expected, "  %2.2f", shown.values.busMillivolts * 0.001);
    EXPECT_EQ(shown.voltage, expected);
    EXPECT_EQ(session.voltageText(), expected);
}

TEST_F(SessionTest, ChargingDeviceModeStartsWithTypeCCodeAndGetsTheChargersModes) {
    session.setMode(2);
    session.setTypeCPort(true);
    ASSERT_TRUE(session.startListening());
    // The start frames go out on the link thread; listening is announced once they have.
    ASSERT_TRUE(waitFor([this] { return listener.listening; }));
    EXPECT_EQ(commands(),
              (std::vector<std::pair<int, int>>{{4, 0}, {4, 0}, {8, 2}, {1, 2}, {1, 2}}));
    EXPECT_EQ(clock.sleeps(), (std::vector<long>{20, 20, 310}));
    EXPECT_TRUE(listener.paneHas("模式：充电设备\r\n", PaneStyle::Normal));
    ASSERT_TRUE(waitFor([this] { return !listener.tables.empty(); }));
    EXPECT_EQ(listener.statuses, (std::vector<uint8_t>{0x10, 0x11}));
    EXPECT_EQ(session.mode(), 2);
    const instrument::OutputCapabilityTable& table = session.capabilityTable();
    EXPECT_EQ(table.modeCount, 3);
    EXPECT_EQ(table.bytes[1] | (table.bytes[2] << 8), 550);             // mode 1 up to 5.50 V
    EXPECT_EQ(table.bytes[16 + 1] | (table.bytes[16 + 2] << 8), 2100);  // mode 3 up to 21.00 V

    session.setTypeCPort(false);
    session.stopListening();
    ASSERT_TRUE(linkSettled());
    instrument->clearReceivedFrames();
    ASSERT_TRUE(session.startListening());
    ASSERT_TRUE(waitFor([this] { return listener.listening; }));
    EXPECT_EQ(commands()[2], (std::pair<int, int>{7, 2}));
}

TEST_F(SessionTest, StopListeningClosesTheInstrumentAndResetsTheLiveValues) {
    ASSERT_TRUE(startAndSettle());
    instrument->clearReceivedFrames();
    session.stopListening();
    // The window hears of the stop at once; the instrument is left on the link.
    EXPECT_FALSE(session.connected());
    EXPECT_FALSE(listener.listening);
    EXPECT_EQ(session.voltageText(), " ------");
    ASSERT_TRUE(linkSettled());
    EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{2, 0}}));
    EXPECT_EQ(clock.sleeps().back(), 20);
    EXPECT_FALSE(session.workerRunning());
    EXPECT_FALSE(simulated.isOpen());
    EXPECT_FALSE(instrument->listening());

    // The window's close stops a running capture with the longer pause.
    ASSERT_TRUE(startAndSettle());
    session.closeAnalyzer();
    EXPECT_FALSE(session.connected());
    ASSERT_TRUE(linkSettled());
    EXPECT_EQ(clock.sleeps().back(), 100);
    EXPECT_FALSE(simulated.isOpen());

    // A stop while the connect is still on its way: nothing is announced, and
    // the instrument is left closed.
    ASSERT_TRUE(session.startListening());
    session.stopListening();
    ASSERT_TRUE(linkSettled());
    loop.runPending();
    EXPECT_FALSE(listener.listening);
    EXPECT_FALSE(session.connected());
    EXPECT_FALSE(simulated.isOpen());
    // A start right after a stop begins once the stop has left the instrument.
    ASSERT_TRUE(startAndSettle());
    session.stopListening();
    ASSERT_TRUE(startAndSettle());
    EXPECT_TRUE(simulated.isOpen());
}

TEST_F(SessionTest, RefusedAckAndPingNeverReachTheStore) {
    profile.writeInt("Select", "rRefuseAck", 1);
    profile.writeInt("Select", "rRefusePing", 1);
    session.loadRefusalSettings();
    ASSERT_TRUE(session.refuseAck());
    ASSERT_TRUE(startAndSettle());
    EXPECT_TRUE(listener.paneHas("模式：监听模式 拒收ACK 拒收Ping\r\n", PaneStyle::Normal));
    instrument->injectTraffic(300);
    ASSERT_TRUE(
        waitFor([this] { return instrument->eventsCaptured() == 300 && listener.lastCount > 1; }));
    loop.runUntil([] { return false; }, 100ms);
    ASSERT_GT(store->count(), 50u);
    for (uint32_t i = 1; i < store->count(); ++i) {
        const auto record = store->record(i);
        if (record.kind() <= 3 && record.messageType() == 0) {
            ASSERT_GT(record.command(), 1) << "record " << i;
        }
    }
    const auto header = ufcs::CaptureHeaderRecord::readFrom(store->record(0));
    EXPECT_TRUE(header.refuseAck);
    EXPECT_TRUE(header.refusePing);

    session.saveRefusalSettings(false, true);
    EXPECT_EQ(profile.readInt("Select", "rRefuseAck", -1), 0);
    EXPECT_EQ(profile.readInt("Select", "rRefusePing", -1), 1);
}

TEST_F(SessionTest, LostPageCutsTheCaptureBackAndListeningGoesOn) {
    ASSERT_TRUE(startAndSettle());
    instrument->injectTraffic(10);
    ASSERT_TRUE(waitFor([this] { return listener.lastCount == 11; }));
    instrument->injectLostPage();
    ASSERT_TRUE(waitFor([this] { return listener.lostSteps == 1; }));
    EXPECT_EQ(store->count(), 1u);
    instrument->injectTraffic(3);
    ASSERT_TRUE(waitFor([this] { return listener.lastCount == 4; }));
    EXPECT_TRUE(session.connected());
}

// Under ThreadSanitizer this shows that the worker never writes a record the
// owner may still be listing or decoding when a page is lost.
TEST_F(SessionTest, LostPagesWhileTheOwnerListsAndDecodesRows) {
    ufcs::CaptureList list(*store);
    listener.list = &list;
    listener.loop = &loop;
    ASSERT_TRUE(startAndSettle());
    // Steady traffic, so the worker writes while the owner repaints.
    instrument->setRecordsPerSecond(4000);
    for (int round = 1; round <= 10; ++round) {
        ASSERT_TRUE(waitFor([&] { return listener.lastCount > 200; })) << "round " << round;
        instrument->injectLostPage();
        ASSERT_TRUE(waitFor([&] { return listener.lostSteps == round; })) << "round " << round;
    }
    instrument->setRecordsPerSecond(0);
    instrument->injectTraffic(31);
    ASSERT_TRUE(waitFor([&] {
        return store->count() >= 32 && list.rowCount() == store->count() &&
               listener.lastCount == store->count();
    }));
    for (uint32_t row = 0; row < list.rowCount(); ++row) {
        ASSERT_EQ(list.recordAt(row), row);
        if (row > 0) {
            ASSERT_EQ(store->record(row).index(), row);
        }
    }
    listener.list = nullptr;
}

TEST_F(SessionTest, UncalibratedInstrumentZeroesCurrentsAndSaysSo) {
    instrument->setCalibrationValue(0xFFFF);
    ASSERT_TRUE(startAndSettle());
    EXPECT_FALSE(session.currentCalibrated());
    EXPECT_TRUE(listener.paneHas("未校准电流!\r\n", PaneStyle::Normal));
    EXPECT_TRUE(listener.boxes.empty());
    EXPECT_EQ(store->record(0).at(1), 1);
    instrument->injectTraffic(20);
    ASSERT_TRUE(waitFor([this] { return listener.lastCount == 21; }));
    for (uint32_t i = 1; i < 21; ++i)
        ASSERT_EQ(store->record(i).current(), 0);
}

TEST_F(SessionTest, CalibrationValueChecksAtConnect) {
    instrument->setCalibrationValue(2001);
    ASSERT_TRUE(startAndSettle());
    EXPECT_EQ(listener.boxes, std::vector<std::string>{
                                  "电流校准值太大！将会导致测试电流不准确！校准值：2.001 \r\n"});
    EXPECT_FALSE(listener.paneHas("未校准电流!\r\n", PaneStyle::Normal));
    session.stopListening();

    listener.boxes.clear();
    instrument->setCalibrationValue(2000);
    ASSERT_TRUE(startAndSettle());
    EXPECT_TRUE(listener.boxes.empty());
    EXPECT_TRUE(session.currentCalibrated());
}

TEST_F(SessionTest, CalibrationResultIsShownAndEndsTheCapture) {
    ASSERT_TRUE(startAndSettle());
    instrument->sendCalibrationResult(2001, 3);
    ASSERT_TRUE(waitFor([this] { return !session.connected(); }));
    EXPECT_TRUE(listener.paneHas("校准值3：2.001 \r\n", PaneStyle::NormalAtEnd));
    EXPECT_EQ(listener.boxes, std::vector<std::string>{"校准失败，值太大！校准值3：2.001 \r\n"});

    listener.boxes.clear();
    // The instrument was never told to stop, so it sends no new status reply.
    ASSERT_TRUE(session.startListening());
    ASSERT_TRUE(waitFor([this] { return listener.listening; }));
    instrument->sendCalibrationResult(2000, 1);
    ASSERT_TRUE(waitFor([this] { return !session.connected(); }));
    EXPECT_EQ(listener.boxes, std::vector<std::string>{"校准值1：2.000 \r\n"});
}

TEST_F(SessionTest, UnplugWhileListeningStopsTheCapture) {
    ASSERT_TRUE(startAndSettle());
    instrument->unplug();
    ASSERT_TRUE(waitFor([this] { return !session.connected(); }));
    EXPECT_TRUE(listener.paneHas("设备已经断开!\r\n", PaneStyle::NormalAtEnd));
    EXPECT_FALSE(listener.listening);
    ASSERT_TRUE(linkSettled());
    EXPECT_FALSE(simulated.isOpen());
}

// Asked to listen, an instrument that answers anything but "listening" has
// refused; one that stops answering its status polls has been interrupted.
// Both end the capture with the recorder's texts, keeping what was captured.
TEST_F(SessionTest, ARefusedStartOrASilentInstrumentEndsTheCapture) {
    ASSERT_TRUE(startAndSettle());
    session.setSilenceLimit(400ms);
    instrument->injectTraffic(20);
    ASSERT_TRUE(waitFor([this] { return store->count() > 5; }));
    instrument->setAnswering(false);
    ASSERT_TRUE(waitFor([this] { return !session.connected(); }));
    EXPECT_TRUE(listener.paneHas("设备传输中断!\r\n", PaneStyle::NormalAtEnd));
    EXPECT_GT(store->count(), 5u);

    for (const uint8_t mode : {device::kModeListening, device::kModeChargingDevice}) {
        simulator::InstrumentSettings settings = quietInstrument();
        settings.faults.refuseStart = true;  // the start measuring / listening frame is refused
        auto refusing = std::make_shared<simulator::Instrument>(settings);
        simulator::SimulatedDevice device2(refusing, uniqueLockPath());
        RecordingListener listener2;
        analyzer::Session session2(device2, *store, profile, loop, clock, listener2);
        session2.setMode(mode);
        ASSERT_TRUE(session2.startListening());
        ASSERT_TRUE(waitFor([&] { return !listener2.statuses.empty() || !session2.connected(); }));
        const bool refused = mode == device::kModeListening;
        ASSERT_TRUE(waitFor([&] { return session2.connected() != refused; })) << int(mode);
        EXPECT_EQ(listener2.paneHas("设备拒绝!\r\n", PaneStyle::NormalAtEnd), refused);
        ASSERT_TRUE(waitFor([&] { return !session2.linkBusy(); }));
        if (refused) {
            EXPECT_EQ(store->count(), 1u);  // the header: the capture was set up
            EXPECT_EQ(refusing->receivedFrames().back()[8], 2);  // told to stop listening
        }
        session2.stopListening();
    }
}

TEST_F(SessionTest, WorkerReadErrorEndsTheWorkerButNotTheCapture) {
    ASSERT_TRUE(startAndSettle());
    device.breakLink();
    ASSERT_TRUE(waitFor([this] { return listener.paneHas("设备读取失败", PaneStyle::Normal); }));
    ASSERT_TRUE(waitFor([this] { return !session.workerRunning(); }));
    EXPECT_TRUE(session.connected());  // the window stays listening until the user stops
    session.stopListening();
    EXPECT_FALSE(session.connected());
}

TEST_F(SessionTest, NoInstrumentOrNoAnswer) {
    instrument->unplug();
    listener.listening = true;
    EXPECT_TRUE(session.startListening());
    ASSERT_TRUE(waitFor([this] { return !session.connected(); }));
    EXPECT_FALSE(listener.listening);  // told, so a command line waiting for the start ends
    EXPECT_TRUE(listener.paneHas(
        "\r\n设备连接失败! 9:05:07 \r\n请确认设备已经连上并没有被其它程序占用！\r\n",
        PaneStyle::NormalAtEnd));
    EXPECT_FALSE(session.connected());
    EXPECT_TRUE(instrument->receivedFrames().empty());

    instrument->plugIn();
    instrument->setAnswering(false);
    // The device opens; the connect exchange on the link thread finds no answer.
    ASSERT_TRUE(session.startListening());
    ASSERT_TRUE(waitFor([this] { return !session.connected(); }));
    EXPECT_TRUE(listener.paneHas("连接设备失败! 9:05:07 \r\n", PaneStyle::Normal));
    EXPECT_FALSE(session.connected());
    ASSERT_TRUE(linkSettled());
    EXPECT_FALSE(simulated.isOpen());
}

// Several instruments attached, the first held by another program: the
// capture runs on the next, and the pane says which busy one was passed over.
TEST_F(SessionTest, TheFirstFreeInstrumentIsTakenAndTheBusyOnesAreNamed) {
    const testing_support::TestFolder locks("session_test_locks");
    std::vector<std::shared_ptr<simulator::Instrument>> instruments = {
        std::make_shared<simulator::Instrument>(quietInstrument()),
        std::make_shared<simulator::Instrument>(quietInstrument())};
    device::ChoosingDevice chooser(
        std::make_shared<simulator::SimulatedCatalog>(instruments, locks.path().string()));
    device::ExclusiveLock held;
    ASSERT_TRUE(held.acquire(simulator::simulatorLockPath(locks.path().string(), "SIM0001")));
    RecordingListener otherListener;
    analyzer::Session other(chooser, *store, profile, loop, clock, otherListener);
    ASSERT_TRUE(other.startListening());
    ASSERT_TRUE(waitFor([&] { return otherListener.listening; }));
    EXPECT_TRUE(otherListener.paneHas("仪器正被其它程序使用：SIM0001，改用 SIM0002\r\n",
                                      PaneStyle::Normal));
    EXPECT_TRUE(instruments[1]->listening());
    EXPECT_FALSE(instruments[0]->listening());
    other.stopListening();
    ASSERT_TRUE(waitFor([&] { return !other.linkBusy(); }));
}

TEST_F(SessionTest, HeldInstrumentRefusesASecondProgram) {
    ASSERT_TRUE(startAndSettle());
    // Another program in this process...
    simulator::SimulatedDevice other(instrument, lockPath);
    RecordingListener otherListener;
    analyzer::Session second(other, *store, profile, loop, clock, otherListener);
    EXPECT_TRUE(second.startListening());
    ASSERT_TRUE(waitFor([&] { return !second.connected(); }));
    EXPECT_TRUE(otherListener.paneHas(
        "\r\n设备连接失败! 9:05:07 \r\n请确认设备已经连上并没有被其它程序占用！\r\n",
        PaneStyle::NormalAtEnd));
#ifndef _WIN32
    // ... and in another process.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        simulator::SimulatedDevice third(std::make_shared<simulator::Instrument>(), lockPath);
        _exit(third.open() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif

    session.stopListening();
    EXPECT_TRUE(second.startListening());
}

TEST_F(SessionTest, FullStoreEndsTheCapture) {
    ASSERT_TRUE(startAndSettle());
    store->setCount(analyzer::kStoreFullCount - 1);
    instrument->injectTraffic(5);
    ASSERT_TRUE(waitFor([this] { return !session.connected(); }));
    EXPECT_EQ(listener.boxes, std::vector<std::string>{"数据已爆表！"});
    EXPECT_EQ(listener.storeFull, std::vector<std::string>{"数据已爆表！"});
    EXPECT_EQ(store->count(), analyzer::kStoreFullCount + 1);
}

}  // namespace
