// The list header's filter popups: which records get a row.

#include "ufcs/list_filter.h"

#include <gtest/gtest.h>

#include <vector>

#include "ufcs/record_builder.h"
#include "ufcs/wire_format.h"

namespace ufcs {
namespace {

using test::makeRecord;
using test::TestRecord;
using Pass = ListFilter::Pass;

constexpr DeviceAddress kSource = DeviceAddress::Source;
constexpr DeviceAddress kSink = DeviceAddress::Sink;
constexpr DeviceAddress kCable = DeviceAddress::Cable;

TestRecord control(uint8_t command, DeviceAddress to = kSink, uint8_t baud = kBaud115200) {
    return makeRecord(1, encodeControlMessage(to, 1, command), baud);
}
TestRecord data(uint8_t command, DeviceAddress to = kSink) {
    return makeRecord(2, encodeDataMessage(to, 1, command, std::vector<uint8_t>{1, 2}));
}
TestRecord vendor(DeviceAddress to = kSink) {
    return makeRecord(0, encodeVendorMessage(to, 1, 0x1234, std::vector<uint8_t>{}));
}
TestRecord event(uint8_t kind) {
    return makeRecord(kind, {});
}

bool passesBoth(const ListFilter& filter, const TestRecord& record) {
    const bool intake = filter.passes(record.view(), Pass::Intake);
    EXPECT_EQ(intake, filter.passes(record.view(), Pass::Rebuild));
    return intake;
}

// A filter that hides everything it can.
ListFilter nothingTicked() {
    ListFilter filter;
    filter.types.fill(false);
    filter.receivers.fill(false);
    filter.bauds.fill(false);
    filter.setAllMessages(false);
    return filter;
}

TEST(ListFilter, EverythingTickedPassesEveryRecord) {
    const ListFilter filter;
    EXPECT_TRUE(filter.allTicked());
    const std::vector<TestRecord> records = {
        control(0x01), control(0x10, kCable, 0x00),
        data(0x00),    data(0x0D),
        vendor(),      makeRecord(3, {0xAA, 0xE0, 0x0F, 0x00, 0x00}),
        event(0xF0),   event(0xF8),
        event(0x17)};
    for (const TestRecord& record : records) {
        EXPECT_TRUE(filter.passes(record.view(), Pass::Intake));
        EXPECT_TRUE(filter.passes(record.view(), Pass::Rebuild));
    }
}

TEST(ListFilter, TypeReceiverAndBaudBoxesHideMessages) {
    ListFilter types;
    types.types[kTypeData] = false;
    EXPECT_FALSE(passesBoth(types, data(0x02)));
    EXPECT_TRUE(passesBoth(types, control(0x02)));
    EXPECT_TRUE(passesBoth(types, vendor()));
    EXPECT_TRUE(
        passesBoth(types, makeRecord(0, {0xAA, 0x40, 0x0B, 0x00, 0x00})));  // type 3: no box

    ListFilter receivers;
    receivers.receivers[0] = false;
    EXPECT_FALSE(passesBoth(receivers, control(0x01, kSource)));
    EXPECT_FALSE(passesBoth(receivers, vendor(kSource)));
    EXPECT_TRUE(passesBoth(receivers, control(0x01, kSink)));
    EXPECT_TRUE(passesBoth(receivers, control(0x01, kCable)));
    EXPECT_TRUE(passesBoth(receivers, control(0x01, static_cast<DeviceAddress>(0))));

    ListFilter bauds;
    bauds.bauds[1] = false;  // 57600
    EXPECT_FALSE(passesBoth(bauds, control(0x01, kSink, kBaud57600)));
    EXPECT_TRUE(passesBoth(bauds, control(0x01, kSink, kBaud115200)));
    EXPECT_TRUE(passesBoth(bauds, control(0x01, kSink, kBaud19200)));
    EXPECT_TRUE(passesBoth(bauds, control(0x01, kSink, 0x00)));  // unknown code: no box
}

TEST(ListFilter, MessageBoxesHideTheirCommands) {
    ListFilter filter;
    filter.controlCommands[0x01] = false;  // ACK
    filter.dataCommands[2] = false;        // Request
    filter.dataCommands[13] = false;       // Test_Request
    EXPECT_FALSE(passesBoth(filter, control(0x01)));
    EXPECT_TRUE(passesBoth(filter, control(0x00)));
    EXPECT_TRUE(passesBoth(filter, control(0x10)));
    EXPECT_FALSE(passesBoth(filter, data(0x02)));
    EXPECT_FALSE(passesBoth(filter, data(0xFF)));
    EXPECT_TRUE(passesBoth(filter, data(0x01)));
    EXPECT_TRUE(passesBoth(filter, data(0x00)));
    EXPECT_TRUE(passesBoth(filter, data(0x0D)));
    EXPECT_TRUE(passesBoth(filter, vendor()));

    ListFilter noVendor;
    noVendor.vendorMessages = false;
    EXPECT_FALSE(passesBoth(noVendor, vendor()));
    EXPECT_TRUE(passesBoth(noVendor, control(0x01)));
}

TEST(ListFilter, LineSignalsFollowOnlyTheirOwnBox) {
    for (uint8_t cleared = 0; cleared < 8; ++cleared) {
        SCOPED_TRACE(testing::Message() << "cleared kind 0x" << std::hex << 0xF0 + cleared);
        ListFilter filter;
        // 0xF0-0xF3 are the handshake boxes, 0xF4-0xF7 the reset boxes, both by kind.
        if (cleared < 4)
            filter.handshakes[cleared] = false;
        else
            filter.resets[cleared - 4] = false;
        filter.types.fill(false);
        filter.receivers.fill(false);
        filter.bauds.fill(false);
        for (uint8_t kind = 0xF0; kind <= 0xF7; ++kind) {
            EXPECT_EQ(passesBoth(filter, event(kind)), kind != 0xF0 + cleared) << int(kind);
        }
    }
}

TEST(ListFilter, HeaderAndUnknownKindsAlwaysPass) {
    const ListFilter filter = nothingTicked();
    for (uint8_t kind : {0xF8, 0x16, 0x17, 0x04, 0xEF, 0xF9, 0xFF}) {
        EXPECT_TRUE(passesBoth(filter, event(kind))) << int(kind);
    }
    EXPECT_FALSE(passesBoth(filter, event(0xF3)));
    EXPECT_FALSE(passesBoth(filter, control(0x10, static_cast<DeviceAddress>(0), 0x00)));
}

TEST(ListFilter, CableBoxReachesHigherReceiversOnlyWhenRebuilding) {
    ListFilter filter;
    filter.receivers[2] = false;
    for (uint8_t address : {4, 5, 7}) {
        const TestRecord record = control(0x01, static_cast<DeviceAddress>(address));
        EXPECT_TRUE(filter.passes(record.view(), Pass::Intake)) << int(address);
        EXPECT_FALSE(filter.passes(record.view(), Pass::Rebuild)) << int(address);
    }
    EXPECT_FALSE(passesBoth(filter, control(0x01, kCable)));
    EXPECT_TRUE(passesBoth(filter, control(0x01, kSink)));

    // The source and sink boxes never reach past their own address.
    ListFilter noSource;
    noSource.receivers[0] = false;
    noSource.receivers[1] = false;
    EXPECT_TRUE(passesBoth(noSource, control(0x01, static_cast<DeviceAddress>(4))));
}

TEST(ListFilter, AllTickedHelpersTrackTheirPopup) {
    ListFilter types;
    types.types[2] = false;
    ListFilter receivers;
    receivers.receivers[1] = false;
    ListFilter bauds;
    bauds.bauds[3] = false;
    ListFilter resets;
    resets.resets[2] = false;
    ListFilter handshakes;
    handshakes.handshakes[0] = false;
    for (const ListFilter* f : {&types, &receivers, &bauds, &resets, &handshakes}) {
        EXPECT_FALSE(f->allTicked());
        EXPECT_EQ(f->typesAllTicked(), f != &types);
        EXPECT_EQ(f->receiversAllTicked(), f != &receivers);
        EXPECT_EQ(f->baudsAllTicked(), f != &bauds);
        EXPECT_EQ(f->messagesAllTicked(), f != &resets && f != &handshakes);
    }
    // Data row 0 has no box of its own.
    ListFilter rowZero;
    rowZero.dataCommands[0] = false;
    EXPECT_TRUE(rowZero.messagesAllTicked());
    EXPECT_TRUE(rowZero.allTicked());
}

TEST(ListFilter, SetAllMessagesTicksOrClearsTheWholeMessagePopup) {
    ListFilter filter;
    filter.setAllMessages(false);
    EXPECT_FALSE(filter.messagesAllTicked());
    EXPECT_TRUE(filter.typesAllTicked() && filter.receiversAllTicked() && filter.baudsAllTicked());
    EXPECT_FALSE(passesBoth(filter, control(0x00)));
    EXPECT_FALSE(passesBoth(filter, data(0x0C)));
    EXPECT_FALSE(passesBoth(filter, vendor()));
    EXPECT_FALSE(passesBoth(filter, event(0xF1)));
    EXPECT_FALSE(passesBoth(filter, event(0xF6)));
    EXPECT_TRUE(passesBoth(filter, data(0x00)));

    filter.setAllMessages(true);
    EXPECT_TRUE(filter.allTicked());
    EXPECT_EQ(filter, ListFilter{});
}

}  // namespace
}  // namespace ufcs

// The status line names what the filters hide: the popups whose boxes are not all
// ticked, and a range of records; a range keeps the capture's header row.
TEST(ListFilterStatus, NamesWhatIsHidden) {
    ufcs::ListFilter filter;
    EXPECT_EQ(ufcs::filterStatusText(filter), "");
    EXPECT_TRUE(filter.showsEverything());
    filter.bauds[1] = false;
    EXPECT_EQ(ufcs::filterStatusText(filter), "过滤：波特");
    filter.setAllMessages(false);
    filter.records = ufcs::ListFilter::RecordRange{12, 80};
    EXPECT_EQ(ufcs::filterStatusText(filter), "过滤：消息、波特、序号 12-80");
    EXPECT_FALSE(filter.showsEverything());
    const std::pair<uint32_t, bool> indices[] = {
        {0, true}, {11, false}, {12, true}, {80, true}, {81, false}};
    for (const auto& [index, listed] : indices)
        EXPECT_EQ(filter.inRange(index), listed) << index;
}
