#include "device/frames.h"

#include <gtest/gtest.h>

namespace {

using device::CommandCode;
using device::Report;

TEST(CommandFrame, CarriesConstantBytesCodeAndParameter) {
    const device::CommandFrame frame = device::commandFrame(CommandCode::StartListening, 2);
    const uint8_t head[] = {0x00, 0x01, 0x11, 0x11, 0x04, 0x01, 0x01, 0x64, 0x01, 0x02};
    for (std::size_t i = 0; i < sizeof head; ++i)
        EXPECT_EQ(frame[i], head[i]) << i;
    for (std::size_t i = sizeof head; i < frame.size(); ++i)
        ASSERT_EQ(frame[i], 0) << i;

    EXPECT_EQ(device::commandFrame(CommandCode::StopListening, 0)[8], 2);
    EXPECT_EQ(device::commandFrame(CommandCode::StatusPoll, 1)[9], 1);
    EXPECT_EQ(device::commandFrame(CommandCode::Connect, 0)[8], 4);
    EXPECT_EQ(device::commandFrame(CommandCode::StartChargingDevice, 2)[8], 7);
    EXPECT_EQ(device::commandFrame(CommandCode::StartChargingDeviceTypeC, 2)[8], 8);
}

TEST(ConnectReply, ReadsBigEndianValues) {
    Report reply{};
    reply[20] = 0x03;
    reply[21] = 0xE8;
    reply[22] = 0x12;
    reply[23] = 0x34;
    reply[24] = 0x17;
    reply[25] = 0x70;
    const device::ConnectReply parsed = device::parseConnectReply(reply.data());
    EXPECT_EQ(parsed.calibrationValue, 1000);
    EXPECT_EQ(parsed.secondValue, 0x1234);
    EXPECT_EQ(parsed.currentRangeMa, 6000);
}

TEST(SendFrame, SingleReportHead) {
    const device::CommandFrame frame = device::sendFrame(device::send_code::kRequest, 8);
    EXPECT_EQ(frame[0], 0x00);
    EXPECT_EQ(frame[1], 0xFE);
    EXPECT_EQ(frame[2], 0x21);
    EXPECT_EQ(frame[3], 0x48);
    EXPECT_EQ(frame[4], 8);
}

TEST(ConnectReply, WritesWhatItReads) {
    Report reply = device::replyHead(device::ReplyKind::Connect);
    device::writeConnectReply({0xFFFF, 0x0064, 6000}, reply.data());
    EXPECT_TRUE(device::isReply(reply.data(), device::ReplyKind::Connect));
    EXPECT_FALSE(device::isReply(reply.data(), device::ReplyKind::Status));
    const device::ConnectReply parsed = device::parseConnectReply(reply.data());
    EXPECT_EQ(parsed.calibrationValue, 0xFFFF);
    EXPECT_EQ(parsed.secondValue, 0x0064);
    EXPECT_EQ(parsed.currentRangeMa, 6000);
}

}  // namespace
