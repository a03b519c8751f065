#include <gtest/gtest.h>

#include <string>

#include "common/byte_order.h"
#include "common/format.h"
#include "common/profile.h"

namespace {

TEST(Format, FormatsShortAndLongTexts) {
    EXPECT_EQ(common::format("%d:%02d:%02d", 7, 5, 9), "7:05:09");
    const std::string longText(500, 'x');
    EXPECT_EQ(common::format("[%s]", longText.c_str()), "[" + longText + "]");
    std::string out = "序号：";
    common::appendFormat(out, "%d \r\n", 12);
    EXPECT_EQ(out, "序号：12 \r\n");
}

TEST(ByteOrder, ReadsAndWritesBothOrders) {
    uint8_t bytes[4] = {};
    common::writeLe16(bytes, 0x1234);
    EXPECT_EQ(bytes[0], 0x34);
    EXPECT_EQ(bytes[1], 0x12);
    EXPECT_EQ(common::readLe16(bytes), 0x1234);
    EXPECT_EQ(common::readBe16(bytes), 0x3412);
    common::writeBe16(bytes, 0xABCD);
    EXPECT_EQ(bytes[0], 0xAB);
    common::writeLe32(bytes, 0xDEADBEEF);
    EXPECT_EQ(bytes[0], 0xEF);
    EXPECT_EQ(bytes[3], 0xDE);
    EXPECT_EQ(common::readLe32(bytes), 0xDEADBEEFu);
}

TEST(MemoryProfile, KeepsValuesPerSectionAndKey) {
    common::MemoryProfile profile;
    EXPECT_EQ(profile.readInt("Select", "rRefuseAck", 0), 0);
    profile.writeInt("Select", "rRefuseAck", 1);
    profile.writeInt("Curve", "rRefuseAck", 5);
    EXPECT_EQ(profile.readInt("Select", "rRefuseAck", 0), 1);
    EXPECT_EQ(profile.readInt("Curve", "rRefuseAck", 0), 5);
    EXPECT_EQ(profile.readString("Save", "Path", "none"), "none");
    profile.writeString("Save", "Path", "/tmp");
    EXPECT_EQ(profile.readString("Save", "Path", "none"), "/tmp");
}

}  // namespace
