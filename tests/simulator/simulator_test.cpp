#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>

#include "analyzer/capture_feed.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "ufcs/capture_list.h"
#include "ufcs/names.h"
#include "ufcs/sequence_check.h"
#include "ufcs/wire_format.h"

namespace {

TEST(CapturePages, LaysTheRecordOutAcrossPages) {
    simulator::BusEvent event;
    event.kind = 1;
    event.baudCode = ufcs::kBaud38400;
    event.ticks = 3 * simulator::kTicksPerPeriod + 1234;
    event.millivolts = 9000;
    event.milliamps = 2000;
    event.wire = ufcs::encodeVendorMessage(ufcs::DeviceAddress::Sink, 1, 0x0102,
                                           std::vector<uint8_t>(100, 0x5C));  // 107 wire bytes
    const auto pages = simulator::capturePages(event);
    ASSERT_EQ(pages.size(), 2u);  // 15 + 107 = 122 record bytes
    EXPECT_EQ(pages[0][0], 1);
    EXPECT_EQ(pages[0][1], 2);
    EXPECT_EQ(pages[0][2], 1);
    EXPECT_EQ(pages[0][3], 0x26);
    EXPECT_EQ(pages[0][4], 3);
    EXPECT_EQ(pages[0][6] | (pages[0][7] << 8), 1234);
    EXPECT_EQ(pages[0][8], 107);
    EXPECT_EQ(pages[0][10] | (pages[0][11] << 8), 9000);
    EXPECT_EQ(pages[0][15], 0xAA);
    EXPECT_EQ(pages[1][121 - 64], event.wire.back());

    event.wire.assign(400, 0x11);  // more than a record holds: cut at 305 bytes, five pages
    const auto longest = simulator::capturePages(event);
    EXPECT_EQ(longest.size(), 5u);
    EXPECT_EQ(longest[0][8] | (longest[0][9] << 8), 305);

    event.wire.clear();
    EXPECT_EQ(simulator::capturePages(event).size(), 1u);
}

class TrafficTest : public ::testing::Test {
  protected:
    TrafficTest() : store(ufcs::CaptureStore::create()) {
        if (!store) throw std::bad_alloc();
    }
    std::unique_ptr<ufcs::CaptureStore> store;
};

TEST_F(TrafficTest, CleanTrafficListsWithoutFaults) {
    analyzer::CaptureFeed feed(*store, {});
    simulator::BusTraffic traffic({11, 0.0});
    for (int i = 0; i < 3000; ++i)
        feed.feedReports(simulator::capturePages(traffic.next()));
    ASSERT_EQ(store->count(), 3001u);
    EXPECT_EQ(feed.lostSteps(), 0u);

    ufcs::CaptureList list(*store);
    list.appendNew();
    std::set<std::string> messages;
    for (uint32_t index = 1; index < store->count(); ++index) {
        const ufcs::ConstCaptureRecord record = store->record(index);
        ASSERT_EQ(record.status() & (ufcs::kCrcError | ufcs::kLengthError), 0) << index;
        ASSERT_NE(record.rowColour(), ufcs::kColourFault) << index;
        ASSERT_NE(record.rowColour(), ufcs::kColourTooLong) << index;
        messages.insert(list.rowTexts(index).columns[3]);
    }
    for (const char* expected : {"握手", "Ping", "ACK", "Request", "Accept", "Power_Ready",
                                 "Output_Capabilities", "Source_Information", "Config_Watchdog",
                                 "厂商自定", "Verify_Response", "Power_Change", "复位信号"}) {
        EXPECT_TRUE(messages.count(expected)) << expected;
    }
}

TEST_F(TrafficTest, FaultsShowAndTheSeedRepeatsTheTraffic) {
    simulator::BusTraffic first({5, 0.5});
    simulator::BusTraffic second({5, 0.5});
    int faulty = 0;
    analyzer::CaptureFeed feed(*store, {});
    for (int i = 0; i < 500; ++i) {
        const simulator::BusEvent a = first.next();
        const simulator::BusEvent b = second.next();
        ASSERT_EQ(a.wire, b.wire);
        ASSERT_EQ(a.ticks, b.ticks);
        feed.feedReports(simulator::capturePages(a));
    }
    ufcs::CaptureList list(*store);
    list.appendNew();
    for (uint32_t index = 1; index < store->count(); ++index) {
        if (store->record(index).rowColour() == ufcs::kColourFault) ++faulty;
    }
    EXPECT_GT(faulty, 10);
}

// The sequence checks see a well-behaved pair in the clean traffic and each
// slip the simulator is asked for.
TEST_F(TrafficTest, SequenceChecksFindExactlyTheInjectedSlips) {
    struct Case {
        const char* name;
        simulator::SequenceFaults faults;
        std::optional<ufcs::FindingKind> expected;
    };
    const Case cases[] = {
        {"clean", {}, std::nullopt},
        {"drop-ack", {true, false, false, {}}, ufcs::FindingKind::NoAck},
        {"repeat-number", {false, true, false, {}}, ufcs::FindingKind::Retransmission},
        {"slow-power-ready", {false, false, true, {}}, ufcs::FindingKind::Late},
    };
    for (const Case& c : cases) {
        simulator::BusTraffic::Options options(31, 0.0);
        options.sequenceFaults = c.faults;
        simulator::BusTraffic traffic(options);
        analyzer::CaptureFeed feed(*store, {});
        for (int i = 0; i < 2000; ++i)
            feed.feedReports(simulator::capturePages(traffic.next()));
        const ufcs::SequenceReport report = ufcs::checkCapture(*store, {});
        std::set<ufcs::FindingKind> kinds;
        for (const ufcs::SequenceNote& note : report.notes())
            if (note.isFinding()) kinds.insert(*note.kind);
        if (c.expected) {
            EXPECT_EQ(kinds, std::set<ufcs::FindingKind>{*c.expected}) << c.name;
            EXPECT_GE(report.findingCount(), 5u) << c.name;
        } else {
            EXPECT_TRUE(kinds.empty()) << report.notes().front().text;
        }
    }
}

// Time stamps keep the asked rate, and the bus voltage moves with Power_Ready, not before.
TEST_F(TrafficTest, TimeFollowsTheRateAndVoltageSettlesAtPowerReady) {
    simulator::BusTraffic traffic({3, 0.0});
    analyzer::CaptureFeed feed(*store, {});
    uint64_t lastTicks = 0;
    for (int i = 0; i < 2500; ++i) {
        const simulator::BusEvent event = traffic.next();
        ASSERT_GE(event.ticks, lastTicks);
        lastTicks = event.ticks;
        feed.feedReports(simulator::capturePages(event));
    }
    const double seconds = static_cast<double>(lastTicks) / 5000.0;
    EXPECT_NEAR(seconds, 100.0, 10.0);  // 2500 events at 25 a second

    int powerReadies = 0;
    for (uint32_t index = 2; index < store->count(); ++index) {
        const ufcs::ConstCaptureRecord record = store->record(index);
        if (record.messageType() != ufcs::kTypeControl ||
            record.command() != ufcs::control_command::kPowerReady)
            continue;
        const ufcs::ConstCaptureRecord accept = store->record(index - 2);
        ASSERT_EQ(accept.command(), ufcs::control_command::kAccept);
        const ufcs::ConstCaptureRecord request = store->record(index - 4);
        const uint16_t asked = static_cast<uint16_t>(request.at(24) << 8 | request.at(25)) * 10;
        EXPECT_NEAR(record.voltage(), asked, 25) << index;
        EXPECT_NEAR(accept.voltage(), request.voltage(), 45) << index;
        ++powerReadies;
    }
    EXPECT_GT(powerReadies, 20);
}

}  // namespace
