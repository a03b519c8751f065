#include <gtest/gtest.h>

#include <vector>

#include "common/byte_order.h"
#include "store_fixture.h"
#include "ufcs/capture_intake.h"
#include "ufcs/capture_list.h"
#include "ufcs/wire_format.h"

namespace {

using ufcs::DeviceAddress;

struct CountingListener : ufcs::IntakeListener {
    void onRecordTaken(uint32_t count) override { counts.push_back(count); }
    std::vector<uint32_t> counts;
};

class CaptureIntakeTest : public testing_support::StoreTest {
  protected:
    // Puts a captured message into slot `count`, as the assembler would.
    void arrive(const std::vector<uint8_t>& wire, uint8_t kind = 2, uint16_t milliamps = 1500) {
        uint8_t* bytes = store->recordBytes(store->count());
        bytes[0] = ufcs::kFirstPageMarker;
        bytes[1] = 1;
        bytes[2] = kind;
        common::writeLe16(bytes + 8, static_cast<uint16_t>(wire.size()));
        common::writeLe16(bytes + 12, milliamps);
        std::copy(wire.begin(), wire.end(), bytes + ufcs::kWireOffset);
    }
    std::vector<uint8_t> control(uint8_t command) {
        return ufcs::encodeControlMessage(DeviceAddress::Source, 1, command);
    }

    CountingListener listener;
    ufcs::CaptureIntake intake{*store, listener};
};

TEST_F(CaptureIntakeTest, KeepsRecordsStampsIndexAndTellsTheNewCount) {
    arrive(control(0x00));
    EXPECT_TRUE(intake.AddCapturedRecord());
    arrive(control(0x01));
    EXPECT_TRUE(intake.AddCapturedRecord());
    EXPECT_EQ(store->count(), 3u);
    EXPECT_EQ(store->record(1).index(), 1u);
    EXPECT_EQ(store->record(2).index(), 2u);
    EXPECT_EQ(listener.counts, (std::vector<uint32_t>{2, 3}));
    EXPECT_EQ(store->record(2).current(), 1500);
}

TEST_F(CaptureIntakeTest, RefusedAckAndPingTakeNoSlot) {
    intake.setRefuseAck(true);
    intake.setRefusePing(true);
    arrive(control(0x01));
    EXPECT_FALSE(intake.AddCapturedRecord());
    arrive(control(0x00));
    EXPECT_FALSE(intake.AddCapturedRecord());
    EXPECT_EQ(store->count(), 1u);
    EXPECT_TRUE(listener.counts.empty());

    // The next message overwrites the slot and takes the next sequence number.
    arrive(control(0x03));
    EXPECT_TRUE(intake.AddCapturedRecord());
    EXPECT_EQ(store->count(), 2u);
    EXPECT_EQ(store->record(1).command(), 0x03);
    EXPECT_EQ(store->record(1).index(), 1u);
}

TEST_F(CaptureIntakeTest, RefusalLooksOnlyAtTypeAndCommand) {
    intake.setRefuseAck(true);
    // A data message whose command is 1 (Output_Capabilities) is no ACK.
    arrive(ufcs::encodeDataMessage(DeviceAddress::Sink, 0, 0x01, std::vector<uint8_t>(8, 0x10)));
    EXPECT_TRUE(intake.AddCapturedRecord());
    // Ping is kept while only ACK is refused.
    arrive(control(0x00));
    EXPECT_TRUE(intake.AddCapturedRecord());
    // Whatever the line or receiver of a message: two header bytes decide.
    arrive(ufcs::encodeControlMessage(DeviceAddress::Cable, 9, 0x01), 3);
    EXPECT_FALSE(intake.AddCapturedRecord());
    EXPECT_EQ(store->count(), 3u);
}

TEST_F(CaptureIntakeTest, LineEventsAreNeverRefused) {
    intake.setRefuseAck(true);
    intake.setRefusePing(true);
    // Events carry no message bytes: zeros where a Ping has its type and command.
    for (const uint8_t kind : {0xF0, 0xF3, 0xF4, 0x16}) {
        arrive({}, kind);
        EXPECT_TRUE(intake.AddCapturedRecord()) << "kind " << int(kind);
    }
    EXPECT_EQ(store->count(), 5u);
}

TEST_F(CaptureIntakeTest, UncalibratedCurrentIsStoredAsZero) {
    intake.setCurrentCalibrated(false);
    arrive(control(0x05), 1, 2345);
    ASSERT_TRUE(intake.AddCapturedRecord());
    EXPECT_EQ(store->record(1).current(), 0);
}

TEST_F(CaptureIntakeTest, FullStoreTakesNothing) {
    store->setCount(ufcs::CaptureStore::kCapacity);
    EXPECT_FALSE(intake.AddCapturedRecord());
    EXPECT_EQ(store->count(), ufcs::CaptureStore::kCapacity);
}

class CaptureListTest : public CaptureIntakeTest {
  protected:
    CaptureListTest() {
        ufcs::CaptureHeaderRecord header;
        header.currentRangeMa = 5000;
        header.secondValue = 77;
        header.writeTo(store->record(0));
    }
    void take(const std::vector<uint8_t>& wire, uint8_t kind = 2) {
        arrive(wire, kind);
        ASSERT_TRUE(intake.AddCapturedRecord());
    }

    ufcs::CaptureList list{*store};
};

TEST_F(CaptureListTest, ListsNewRecordsFromTheHeaderOnAndMarksThem) {
    take(control(0x00));
    EXPECT_EQ(list.appendNew(), 2u);  // header row and the first record
    take(control(0x01));
    take(control(0x02));
    EXPECT_EQ(list.appendNew(), 2u);
    EXPECT_EQ(list.rows(), (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(list.rowTexts(2).columns[3], "ACK");
    EXPECT_EQ(store->record(3).rowColour(), ufcs::kColourRefusal);  // NCK, written back
    EXPECT_EQ(store->record(1).computedCrc(), store->record(1).at(19));
    ASSERT_TRUE(list.deviceRanges().has_value());
    EXPECT_EQ(list.deviceRanges()->currentRangeMa, 5000);
    EXPECT_EQ(list.deviceRanges()->secondValue, 77);
}

TEST_F(CaptureListTest, FrozenListWaitsForTheRebuild) {
    take(control(0x00));
    list.appendNew();
    ufcs::ListFilter filter;
    filter.controlCommands[0x00] = false;  // hide Ping
    EXPECT_TRUE(list.setFilter(filter));
    EXPECT_FALSE(list.setFilter(filter));
    list.freeze();
    take(control(0x00));
    take(control(0x03));
    EXPECT_EQ(list.appendNew(), 0u);
    EXPECT_EQ(list.rowCount(), 2u);

    list.rebuild();
    EXPECT_FALSE(list.frozen());
    EXPECT_EQ(list.rows(), (std::vector<uint32_t>{0, 3}));
    EXPECT_EQ(list.nextRecord(), 4u);
    take(control(0x00));
    take(control(0x05));
    EXPECT_EQ(list.appendNew(), 1u);
    EXPECT_EQ(list.rows().back(), 5u);
}

TEST_F(CaptureListTest, CableBoxGovernsHigherReceiversOnlyWhenRebuilding) {
    ufcs::ListFilter filter;
    filter.receivers[2] = false;
    list.setFilter(filter);
    std::vector<uint8_t> odd = control(0x03);
    odd[1] = static_cast<uint8_t>((5 << 5) | (odd[1] & 0x1F));  // receiver 0xA0: no device
    take(odd);
    take(ufcs::encodeControlMessage(DeviceAddress::Cable, 0, 0x03));
    list.appendNew();
    EXPECT_EQ(list.rows(), (std::vector<uint32_t>{0, 1}));
    list.rebuild();
    EXPECT_EQ(list.rows(), (std::vector<uint32_t>{0}));
}

TEST_F(CaptureListTest, ClearedListStartsAgainFromTheHeader) {
    take(control(0x00));
    take(control(0x01));
    list.appendNew();
    // A capture cut back to its header: rows must reappear for the records that follow.
    store->setCount(1);
    list.clear();
    take(control(0x03));
    EXPECT_EQ(list.appendNew(), 2u);
    EXPECT_EQ(list.rows(), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(list.rowTexts(1).columns[3], "Accept");
}

}  // namespace
