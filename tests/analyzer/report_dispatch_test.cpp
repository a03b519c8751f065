#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/report_dispatch.h"
#include "simulator/capture_pages.h"
#include "ufcs/wire_format.h"

namespace {

using simulator::Report;

struct RecordingListener : analyzer::AnalyzerReportListener {
    void onRecordTaken(uint32_t count) override { counts.push_back(count); }
    void onStatus(const analyzer::StatusEffects& e) override { statuses.push_back(e); }
    void onCapabilityTable(const instrument::OutputCapabilityTable& t) override {
        tables.push_back(t);
    }
    void onLiveValues(const instrument::LiveValues& v) override { live.push_back(v); }
    void onCalibrationResult(const instrument::CalibrationResult& r) override {
        calibrations.push_back(r);
    }
    void onStoreFull(std::string_view text) override { storeFull.emplace_back(text); }
    void onLostStep() override { ++lostSteps; }

    std::vector<uint32_t> counts;
    std::vector<analyzer::StatusEffects> statuses;
    std::vector<instrument::OutputCapabilityTable> tables;
    std::vector<instrument::LiveValues> live;
    std::vector<instrument::CalibrationResult> calibrations;
    std::vector<std::string> storeFull;
    int lostSteps = 0;
};

class DispatchTest : public ::testing::Test {
  protected:
    DispatchTest() : store(ufcs::CaptureStore::create()) {
        if (!store) throw std::bad_alloc();
        store->setCount(1);
        dispatcher.resetForCapture();
    }

    void send(const Report& report) { dispatcher.HandleReport(report.data()); }
    void sendAll(const std::vector<Report>& reports) {
        for (const Report& r : reports)
            send(r);
    }
    static std::vector<Report> pagesOfPing(uint8_t number = 0) {
        simulator::BusEvent event;
        event.kind = 2;
        event.wire = ufcs::encodeControlMessage(ufcs::DeviceAddress::Source, number, 0x00);
        return simulator::capturePages(event);
    }
    static std::vector<Report> pagesOfVendor(std::size_t dataBytes) {
        simulator::BusEvent event;
        event.kind = 2;
        event.wire = ufcs::encodeVendorMessage(ufcs::DeviceAddress::Source, 0, 0x1234,
                                               std::vector<uint8_t>(dataBytes, 0x7E));
        return simulator::capturePages(event);
    }

    std::unique_ptr<ufcs::CaptureStore> store;
    RecordingListener listener;
    ufcs::CaptureIntake intake{*store, listener};
    analyzer::AnalyzerReportDispatcher dispatcher{*store, intake, listener};
};

TEST_F(DispatchTest, PagesCountOnlyOnceAStatusReplySwitchedCaptureOn) {
    sendAll(pagesOfPing());
    EXPECT_EQ(store->count(), 1u);

    send(instrument::statusReply(instrument::kStatusListening));
    ASSERT_EQ(listener.statuses.size(), 1u);
    const analyzer::StatusEffects& effects = listener.statuses[0];
    EXPECT_EQ(effects.mode, device::kModeListening);
    EXPECT_TRUE(effects.startStatusTimer);
    EXPECT_TRUE(effects.captureStarted);
    EXPECT_FALSE(effects.capabilityTableFollows);

    sendAll(pagesOfPing(1));
    sendAll(pagesOfVendor(200));  // four pages
    EXPECT_EQ(store->count(), 3u);
    EXPECT_EQ(listener.counts, (std::vector<uint32_t>{2, 3}));
    EXPECT_EQ(store->record(2).at(20), 200);

    dispatcher.stopCapture();
    sendAll(pagesOfPing(2));
    EXPECT_EQ(store->count(), 3u);
}

TEST_F(DispatchTest, StatusCodesAndTheirEffects) {
    send(instrument::statusReply(instrument::kStatusChargingDevice));
    send(instrument::statusReply(instrument::kStatusSendUnavailable));
    send(instrument::statusReply(0x42));
    ASSERT_EQ(listener.statuses.size(), 3u);
    EXPECT_EQ(listener.statuses[0].mode, device::kModeChargingDevice);
    EXPECT_TRUE(listener.statuses[0].sendConfirmChanged);
    EXPECT_FALSE(listener.statuses[0].sendConfirmEnabled);
    EXPECT_TRUE(listener.statuses[0].startStatusTimer);
    EXPECT_TRUE(listener.statuses[1].disableSendAndModes);
    EXPECT_EQ(listener.statuses[1].mode, 0);
    EXPECT_TRUE(listener.statuses[1].captureStarted);
    EXPECT_TRUE(
        listener.statuses[2].captureStarted);  // an unknown status still switches capture on
    EXPECT_FALSE(listener.statuses[2].startStatusTimer);
    EXPECT_TRUE(dispatcher.capturing());
}

TEST_F(DispatchTest, CapabilityTableJoinsStatusReplyAndTheNextReport) {
    std::vector<uint8_t> head(56);
    for (std::size_t i = 0; i < head.size(); ++i)
        head[i] = static_cast<uint8_t>(i + 1);
    send(instrument::statusReply(instrument::kStatusChargingDeviceWithTable, 7, head.data()));
    ASSERT_EQ(listener.statuses.size(), 1u);
    EXPECT_TRUE(listener.statuses[0].capabilityTableFollows);
    EXPECT_TRUE(listener.statuses[0].enableSend);
    EXPECT_TRUE(listener.statuses[0].sendConfirmEnabled);
    EXPECT_TRUE(listener.statuses[0].captureStarted);

    // The tail is taken whole even though it looks like a one-page capture record.
    Report tail;
    for (std::size_t i = 0; i < tail.size(); ++i)
        tail[i] = static_cast<uint8_t>(0x80 + i);
    tail[0] = 0x01;
    tail[1] = 0x01;
    send(tail);
    ASSERT_EQ(listener.tables.size(), 1u);
    const instrument::OutputCapabilityTable& table = listener.tables[0];
    EXPECT_EQ(table.modeCount, 7);
    EXPECT_EQ(table.bytes[0], 1);
    EXPECT_EQ(table.bytes[55], 56);
    EXPECT_EQ(table.bytes[56], 0x01);
    EXPECT_EQ(table.bytes[119], 0x80 + 63);
    EXPECT_EQ(store->count(), 1u);
}

TEST_F(DispatchTest, TableOnlyStatusNeverTouchesTheCapture) {
    send(instrument::statusReply(instrument::kStatusTableOnly, 2));
    EXPECT_FALSE(dispatcher.capturing());
    EXPECT_FALSE(listener.statuses.at(0).captureStarted);
    sendAll(pagesOfPing());  // the first page is the table's tail, the capture is still off
    EXPECT_EQ(listener.tables.size(), 1u);
    EXPECT_EQ(store->count(), 1u);
}

TEST_F(DispatchTest, TableStatusWhileCapturingLeavesTheAssemblerAlone) {
    send(instrument::statusReply(instrument::kStatusListening));
    const std::vector<Report> vendor = pagesOfVendor(150);  // three pages
    ASSERT_EQ(vendor.size(), 3u);
    send(vendor[0]);
    send(instrument::statusReply(instrument::kStatusChargingDeviceWithTable, 1));
    EXPECT_FALSE(listener.statuses.back().captureStarted);
    send(Report{});  // table tail
    send(vendor[1]);
    send(vendor[2]);
    EXPECT_EQ(store->count(), 2u);
    EXPECT_EQ(listener.lostSteps, 0);

    // Any other status while capturing starts the capture over: the half record is dropped.
    send(vendor[0]);
    send(instrument::statusReply(instrument::kStatusChargingDevice));
    send(vendor[1]);
    EXPECT_EQ(listener.lostSteps, 1);
    EXPECT_TRUE(dispatcher.recoverFromLostStep());
    EXPECT_EQ(store->count(), 1u);
}

TEST_F(DispatchTest, AfterALostStepPagesAreDroppedUntilTheOwnerRecovers) {
    send(instrument::statusReply(instrument::kStatusListening));
    sendAll(pagesOfPing(1));
    sendAll(pagesOfPing(2));
    ASSERT_EQ(store->count(), 3u);
    const std::vector<Report> vendor = pagesOfVendor(150);
    send(vendor[1]);  // a continuation page without its first page
    ASSERT_EQ(listener.lostSteps, 1);

    // The reading thread writes nothing while the owner may still read the old records.
    const std::vector<uint8_t> slot3(store->recordBytes(3), store->recordBytes(3) + 320);
    sendAll(pagesOfPing(3));
    sendAll(vendor);
    EXPECT_EQ(store->count(), 3u);
    EXPECT_EQ(std::vector<uint8_t>(store->recordBytes(3), store->recordBytes(3) + 320), slot3);
    EXPECT_EQ(listener.lostSteps, 1);

    EXPECT_TRUE(dispatcher.recoverFromLostStep());
    EXPECT_FALSE(dispatcher.recoverFromLostStep());
    EXPECT_EQ(store->count(), 1u);
    const std::vector<Report> ping = pagesOfPing(4);
    sendAll(ping);
    EXPECT_EQ(store->count(), 2u);
    EXPECT_TRUE(std::equal(ping[0].begin(), ping[0].end(), store->recordBytes(1)));

    // A new capture forgets a pending lost step: there is nothing to recover.
    send(vendor[2]);
    dispatcher.resetForCapture();
    EXPECT_FALSE(dispatcher.recoverFromLostStep());
}

TEST_F(DispatchTest, UnknownReplyKindIsACapturePage) {
    send(instrument::statusReply(instrument::kStatusListening));
    Report odd{};
    odd[0] = 0x55;
    odd[1] = 0x12;
    odd[2] = 0x44;
    store->setCount(5);
    send(odd);
    EXPECT_EQ(listener.lostSteps, 1);
    EXPECT_EQ(store->count(), 5u);
}

TEST_F(DispatchTest, LiveValuesAndCalibrationReplies) {
    instrument::LiveValues values{9012, 2345, 900, 300, 3};
    send(instrument::liveValuesReply(values));
    send(instrument::calibrationReply(2001, 4));
    ASSERT_EQ(listener.live.size(), 1u);
    EXPECT_EQ(listener.live[0].busMillivolts, 9012);
    EXPECT_EQ(listener.live[0].busMilliamps, 2345);
    EXPECT_EQ(listener.live[0].requestedVoltage10mV, 900);
    EXPECT_EQ(listener.live[0].requestedCurrent10mA, 300);
    EXPECT_EQ(listener.live[0].modeNumber, 3);
    ASSERT_EQ(listener.calibrations.size(), 1u);
    EXPECT_EQ(listener.calibrations[0].value, 2001);
    EXPECT_EQ(listener.calibrations[0].index, 4);
    EXPECT_TRUE(listener.statuses.empty());
}

TEST_F(DispatchTest, FullStoreStopsTheCaptureOnce) {
    send(instrument::statusReply(instrument::kStatusListening));
    store->setCount(analyzer::kStoreFullCount);
    sendAll(pagesOfPing());
    EXPECT_EQ(store->count(), analyzer::kStoreFullCount + 1);
    sendAll(pagesOfPing());
    sendAll(pagesOfPing());
    EXPECT_EQ(store->count(), analyzer::kStoreFullCount + 1);  // no record added once full
    EXPECT_EQ(listener.storeFull, (std::vector<std::string>{"数据已爆表！"}));
    EXPECT_FALSE(dispatcher.capturing());
}

}  // namespace
