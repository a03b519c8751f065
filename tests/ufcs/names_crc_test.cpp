#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ufcs/crc8.h"
#include "ufcs/names.h"
#include "ufcs/wire_format.h"

namespace {

// The register described bit by bit: XOR the byte in, then shift left eight
// times, XORing the polynomial after every shift that carries out a 1.
uint8_t bitwiseCrc8(const std::vector<uint8_t>& bytes) {
    uint8_t reg = 0;
    for (uint8_t byte : bytes) {
        reg ^= byte;
        for (int i = 0; i < 8; ++i) {
            const bool carry = reg & 0x80;
            reg = static_cast<uint8_t>(reg << 1);
            if (carry) reg ^= 0x29;
        }
    }
    return reg;
}

TEST(Crc8, MatchesTheBitwiseRegister) {
    const uint8_t one = 0x01;
    EXPECT_EQ(ufcs::Crc8(&one, 1), 0x29);
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> bytes(rng() % 255 + 1);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(rng());
        ASSERT_EQ(ufcs::Crc8(bytes.data(), static_cast<unsigned>(bytes.size())),
                  bitwiseCrc8(bytes));
    }
}

TEST(Crc8, TakesTheCountModulo256) {
    std::vector<uint8_t> bytes(300, 0x5A);
    EXPECT_EQ(ufcs::Crc8(bytes.data(), 0), 0);
    EXPECT_EQ(ufcs::Crc8(bytes.data(), 256), 0);
    EXPECT_EQ(ufcs::Crc8(bytes.data(), 257), ufcs::Crc8(bytes.data(), 1));
}

TEST(WireFormat, EncodesHeaderBodyAndCrc) {
    const auto ping = ufcs::encodeControlMessage(ufcs::DeviceAddress::Source, 3, 0x00);
    ASSERT_EQ(ping.size(), 5u);
    EXPECT_EQ(ping[0], 0xAA);
    EXPECT_EQ(ping[1], (1 << 5) | (3 << 1));  // source, message number 3
    EXPECT_EQ(ping[2], (1 << 3) | 0);         // version 1, control
    EXPECT_EQ(ping[4], ufcs::Crc8(ping.data() + 1, 3));

    const std::vector<uint8_t> data = {0x00, 0x10};
    const auto watchdog = ufcs::encodeDataMessage(ufcs::DeviceAddress::Sink, 15, 0x08, data);
    ASSERT_EQ(watchdog.size(), data.size() + 6);
    EXPECT_EQ(watchdog[1], (2 << 5) | (15 << 1));
    EXPECT_EQ(watchdog[2] & 7, 1);
    EXPECT_EQ(watchdog[4], 2);
    EXPECT_EQ(watchdog.back(), ufcs::Crc8(watchdog.data() + 1, 2 + 4));

    const auto vendor = ufcs::encodeVendorMessage(ufcs::DeviceAddress::Cable, 0, 0x2B1A, data);
    ASSERT_EQ(vendor.size(), data.size() + 7);
    EXPECT_EQ(vendor[3], 0x2B);
    EXPECT_EQ(vendor[4], 0x1A);
    EXPECT_EQ(vendor.back(), ufcs::Crc8(vendor.data() + 1, 2 + 5));
}

TEST(Names, LookUpByCodeWithinBounds) {
    ASSERT_EQ(ufcs::dataMessageRow(0xFF), ufcs::kTestRequestRow);
    EXPECT_EQ(ufcs::DataMessageNames[*ufcs::dataMessageRow(0xFF)].english, "Test_Request");
    EXPECT_EQ(ufcs::DataMessageNames[*ufcs::dataMessageRow(0xFF)].chinese, "测试请求");
    EXPECT_FALSE(ufcs::dataMessageRow(0x00).has_value());  // undefined by the standard
    EXPECT_FALSE(ufcs::dataMessageRow(0x0D).has_value());
    EXPECT_FALSE(ufcs::dataMessageRow(0xFE).has_value());
    EXPECT_EQ(ufcs::DataMessageNames[*ufcs::dataMessageRow(0x0C)].english, "Power_Change");

    EXPECT_EQ(ufcs::ControlMessageNames[0x0F].english, "Exit_UFCS_Mode");
    EXPECT_EQ(ufcs::ControlMessageNames.size(), 0x10u);  // 0x10 has no row

    EXPECT_EQ(ufcs::nameOrEmpty(ufcs::DeviceAddressNames, 3), "线缆");
    EXPECT_EQ(ufcs::nameOrEmpty(ufcs::DeviceAddressNames, 0), "");
    EXPECT_EQ(ufcs::nameOrEmpty(ufcs::DeviceAddressNames, 4), "");
    EXPECT_EQ(ufcs::nameOrEmpty(ufcs::RefuseReasonNames, 5), "其它原因");
    EXPECT_EQ(ufcs::nameOrEmpty(ufcs::RefuseReasonNames, 6), "");
    EXPECT_EQ(ufcs::nameOrEmpty(ufcs::MessageTypeNames, 200), "");
}

TEST(Names, SendListKeepsItsOrder) {
    EXPECT_EQ(ufcs::SendMenuEntries[10], "Request");
    EXPECT_EQ(ufcs::SendMenuEntries[15], "厂商消息");
    EXPECT_EQ(ufcs::SendMenuEntries[17], "定制发送");
    EXPECT_EQ(ufcs::SendMenuEntries[18], "Get_Cable_Info");
    EXPECT_EQ(ufcs::SendMenuEntries[19], "硬件复位");
    EXPECT_EQ(ufcs::OperatingModeNames[1], "监听模式");
    EXPECT_EQ(ufcs::OperatingModeNames[2], "充电设备");
}

}  // namespace
