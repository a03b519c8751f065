#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "common/byte_order.h"
#include "common/format.h"
#include "common/profile.h"
#include "support/comma_locale.h"

namespace {

TEST(Format, FormatsShortAndLongTexts) {
    EXPECT_EQ(common::format("%d:%02d:%02d", 7, 5, 9), "7:05:09");
    const std::string longText(500, 'x');
    EXPECT_EQ(common::format("[%s]", longText.c_str()), "[" + longText + "]");
    std::string out = "序号：";
    common::appendFormat(out, "%d \r\n", 12);
    EXPECT_EQ(out, "序号：12 \r\n");
}

// Numbers go into files, queries and replies: a point, whatever the user's locale.
TEST(Format, NumbersKeepTheirPointUnderACommaLocale) {
    const testing_support::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << testing_support::CommaLocale::kMissing;
    EXPECT_EQ(common::format("%.2f|%g|%.3f V|%e", 1.0, 10.5, 10.002, 1500.0),
              "1.00|10.5|10.002 V|1.500000e+03");
    const struct {
        const char* text;
        std::optional<double> whole;  // parseNumber
        double value;                 // readNumber's, from the start
        std::size_t used;
    } cases[] = {
        {"0.5", 0.5, 0.5, 3},
        {"1.06,\"fwUrl\"", std::nullopt, 1.06, 4},
        {"-2.5e3", -2500, -2500, 6},
        {"+7", 7, 7, 2},
        {"0x10", 16, 16, 4},
        {"0x", std::nullopt, 0, 1},
        {"1,5", std::nullopt, 1, 1},
        {"inf", INFINITY, INFINITY, 3},
        {"1e999", INFINITY, INFINITY, 5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(common::parseNumber(c.text), c.whole) << c.text;
        std::size_t used = 0;
        EXPECT_EQ(common::readNumber(c.text, &used), c.value) << c.text;
        EXPECT_EQ(used, c.used) << c.text;
    }
    for (const char* bad : {"", ",5", "+-1", " 1", "x", "."})
        EXPECT_FALSE(common::readNumber(bad)) << bad;
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
