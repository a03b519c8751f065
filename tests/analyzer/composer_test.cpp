#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "analyzer/composer.h"
#include "common/integer_field.h"

namespace {

using analyzer::Frame;
using analyzer::PageField;
using analyzer::SendPages;

const instrument::OutputCapabilityTable kEmptyTable{};
const analyzer::PendingOutputRequest kNoPending{};

Frame sendFrame(uint8_t code, uint8_t length) {
    Frame frame{};
    frame[1] = 0xFE;
    frame[2] = 0x21;
    frame[3] = code;
    frame[4] = length;
    return frame;
}

std::vector<Frame> compose(int position, const SendPages& pages, int mode = 2) {
    return analyzer::composeSend(position, mode, pages, kEmptyTable, kNoPending);
}

std::vector<uint8_t> counting(std::size_t count, uint8_t first) {
    std::vector<uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

std::string hexText(const std::vector<uint8_t>& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
        text += ' ';
    }
    return text;
}

// ---- frames --------------------------------------------------------------

TEST(ComposeSend, MessagesWithoutPayloadCarryOnlyTheirCode) {
    const std::vector<std::pair<int, uint8_t>> codes = {
        {0, 0x45}, {1, 0x46}, {2, 0x47}, {3, 0x49},  {4, 0x00},  {5, 0x4B},  {6, 0x4C},
        {7, 0x4F}, {8, 0x50}, {9, 0x4E}, {18, 0x4A}, {19, 0x56}, {35, 0x00}, {999, 0x00}};
    for (const auto& [position, code] : codes) {
        const auto frames = compose(position, SendPages{});
        ASSERT_EQ(frames.size(), 1u) << position;
        EXPECT_EQ(frames[0], sendFrame(code, 0)) << position;
    }
}

TEST(ComposeSend, RequestPageSendsTenthsOfTheTypedValues) {
    SendPages pages;
    pages.requestMode = 3;
    pages.requestMillivolts = 9005;
    pages.requestMilliamps = 2999;
    Frame expected = sendFrame(0x48, 8);
    expected[5] = 0x2B;  // 299
    expected[6] = 0x01;
    expected[7] = 0x84;  // 900
    expected[8] = 0x03;
    expected[9] = 3;
    EXPECT_EQ(compose(10, pages), std::vector<Frame>{expected});
}

TEST(ComposeSend, ConfigWatchdogAndBaudRateAreLittleEndian) {
    Frame watchdog = sendFrame(0x4D, 2);
    watchdog[5] = 0xE8;  // the untouched page's 1000 ms
    watchdog[6] = 0x03;
    EXPECT_EQ(compose(11, SendPages{}), std::vector<Frame>{watchdog});

    const std::vector<std::tuple<int, uint8_t, uint8_t>> rates = {
        {115200, 0x00, 0xC2}, {57600, 0x00, 0xE1}, {38400, 0x00, 0x96}, {19200, 0x00, 0x4B}};
    for (const auto& [rate, low, high] : rates) {
        SendPages pages;
        pages.baudRate = rate;
        Frame expected = sendFrame(0x43, 2);
        expected[5] = low;
        expected[6] = high;
        EXPECT_EQ(compose(16, pages), std::vector<Frame>{expected}) << rate;
    }
}

TEST(ComposeSend, VerifyMessagesCarryKeyEncryptedAndRandomData) {
    SendPages pages;
    pages.keyIndex = 0x5A;
    for (std::size_t i = 0; i < 16; ++i)
        pages.verifyRandom[i] = static_cast<uint8_t>(0x10 + i);
    for (std::size_t i = 0; i < 32; ++i)
        pages.encrypted[i] = static_cast<uint8_t>(0x80 + i);
    for (std::size_t i = 0; i < 16; ++i)
        pages.responseRandom[i] = static_cast<uint8_t>(0xE0 + i);

    Frame request = sendFrame(0x51, 17);
    request[5] = 0x5A;
    for (std::size_t i = 0; i < 16; ++i)
        request[6 + i] = static_cast<uint8_t>(0x10 + i);
    EXPECT_EQ(compose(12, pages), std::vector<Frame>{request});

    Frame response = sendFrame(0x52, 48);
    for (std::size_t i = 0; i < 32; ++i)
        response[5 + i] = static_cast<uint8_t>(0x80 + i);
    for (std::size_t i = 0; i < 16; ++i)
        response[37 + i] = static_cast<uint8_t>(0xE0 + i);
    EXPECT_EQ(compose(13, pages), std::vector<Frame>{response});
}

TEST(ComposeSend, TestRequestOrdersItsFiveBytesAndKeepsTheCommandsLowByte) {
    SendPages pages;
    pages.testMessageType = 2;
    pages.testDevice = 1;
    pages.voltageAccuracy = 1;
    pages.testCommand = 300;
    pages.testMode = 0;
    Frame expected = sendFrame(0x53, 4);
    expected[5] = 2;
    expected[6] = 1;
    expected[7] = 1;
    expected[8] = 0x2C;
    expected[9] = 0;
    EXPECT_EQ(compose(14, pages), std::vector<Frame>{expected});
}

TEST(ComposeSend, OutputModeButtonsCopyTheEntrysMaximaVerbatim) {
    instrument::OutputCapabilityTable table;
    table.modeCount = 15;
    for (std::size_t i = 0; i < 120; ++i)
        table.bytes[i] = static_cast<uint8_t>(0x20 + i);
    for (int position = 20; position <= 34; ++position) {
        const std::size_t entry = static_cast<std::size_t>(position - 20) * 8;
        Frame expected = sendFrame(0x48, 8);
        expected[5] = table.bytes[entry + 5];  // maximum current
        expected[6] = table.bytes[entry + 6];
        expected[7] = table.bytes[entry + 1];  // maximum voltage
        expected[8] = table.bytes[entry + 2];
        expected[9] = static_cast<uint8_t>(position - 19);
        EXPECT_EQ(analyzer::composeSend(position, 2, SendPages{}, table, kNoPending),
                  std::vector<Frame>{expected})
            << position;
    }
}

TEST(ComposeSend, SetVoltageDialogRequestTruncatesToTenths) {
    const analyzer::PendingOutputRequest pending{4, 9005, 3009};
    Frame expected = sendFrame(0x48, 8);
    expected[5] = 0x2C;  // 300
    expected[6] = 0x01;
    expected[7] = 0x84;  // 900
    expected[8] = 0x03;
    expected[9] = 4;
    EXPECT_EQ(analyzer::composeSend(1000, 2, SendPages{}, kEmptyTable, pending),
              std::vector<Frame>{expected});
}

TEST(ComposeSend, NothingUnlessEmulatingAChargingDevice) {
    instrument::OutputCapabilityTable table;
    table.modeCount = 1;
    table.bytes[1] = 0xE8;
    const analyzer::PendingOutputRequest pending{1, 5000, 1000};
    for (int mode : {0, 1, 3, 4, 5}) {
        for (int position : {0, 10, 15, 17, 19, 20, 34, 1000}) {
            EXPECT_TRUE(analyzer::composeSend(position, mode, SendPages{}, table, pending).empty())
                << position << " in mode " << mode;
        }
    }
}

// ---- segmented messages --------------------------------------------------

TEST(ComposeSegmented, VendorMessageLayoutAndSplitAfter55DataBytes) {
    SendPages pages;
    pages.vendorReceiver = 1;  // sink: address 2
    pages.vendorId = {0x12, 0x34};

    pages.vendorData = counting(55, 0x80);
    Frame single = sendFrame(0x54, 55);
    single[1] = 1;
    single[5] = 1;
    single[6] = 2;
    single[7] = 0;
    single[8] = 0x12;
    single[9] = 0x34;
    for (std::size_t i = 0; i < 55; ++i)
        single[10 + i] = static_cast<uint8_t>(0x80 + i);
    EXPECT_EQ(compose(15, pages), std::vector<Frame>{single});

    pages.vendorData = counting(56, 0x80);
    Frame first = single;
    first[1] = 2;
    first[4] = 56;
    Frame second = first;
    second[5] = 2;
    second[6] = 0x80 + 55;  // the rest of the second report is what the first left
    EXPECT_EQ(compose(15, pages), (std::vector<Frame>{first, second}));

    pages.vendorReceiver = 2;
    pages.vendorData = {0xAA};
    const auto cable = compose(15, pages);
    ASSERT_EQ(cable.size(), 1u);
    EXPECT_EQ(cable[0][4], 1);
    EXPECT_EQ(cable[0][6], 3);
    EXPECT_EQ(cable[0][10], 0xAA);
    EXPECT_EQ(cable[0][11], 0);
}

TEST(ComposeSegmented, CustomMessageReportCounts) {
    SendPages pages;
    pages.customBytes = counting(59, 1);
    Frame single = sendFrame(0x55, 56);
    single[1] = 1;
    single[5] = 1;
    for (std::size_t i = 0; i < 59; ++i)
        single[6 + i] = static_cast<uint8_t>(1 + i);
    EXPECT_EQ(compose(17, pages), std::vector<Frame>{single});

    pages.customBytes = counting(60, 1);
    Frame first = single;
    first[1] = 2;
    first[4] = 57;
    Frame second = first;
    second[5] = 2;
    second[6] = 60;
    EXPECT_EQ(compose(17, pages), (std::vector<Frame>{first, second}));

    pages.customBytes = {0x41, 0x02, 0x03};
    Frame shortest = sendFrame(0x55, 0);
    shortest[1] = 1;
    shortest[5] = 1;
    shortest[6] = 0x41;
    shortest[7] = 0x02;
    shortest[8] = 0x03;
    EXPECT_EQ(compose(17, pages), std::vector<Frame>{shortest});
}

TEST(ComposeSegmented, LongestCustomMessageTakesFiveReports) {
    SendPages pages;
    pages.customBytes = counting(258, 0);
    const auto frames = compose(17, pages);
    ASSERT_EQ(frames.size(), 5u);
    for (std::size_t r = 0; r < 4; ++r) {
        Frame expected = sendFrame(0x55, 255);
        expected[1] = 5;
        expected[5] = static_cast<uint8_t>(r + 1);
        for (std::size_t i = 0; i < 59; ++i)
            expected[6 + i] = static_cast<uint8_t>(59 * r + i);
        EXPECT_EQ(frames[r], expected) << r;
    }
    // The last 22 bytes (236-257), then what report 4 left at bytes 28-64 (typed bytes 199-235).
    Frame last = sendFrame(0x55, 255);
    last[1] = 5;
    last[5] = 5;
    for (std::size_t k = 6; k <= 27; ++k)
        last[k] = static_cast<uint8_t>(236 + k - 6);
    for (std::size_t k = 28; k <= 64; ++k)
        last[k] = static_cast<uint8_t>(177 + k - 6);
    EXPECT_EQ(frames[4], last);
}

// ---- hex byte lists ------------------------------------------------------

TEST(ParseHexBytes, DigitsAndSpacing) {
    EXPECT_EQ(analyzer::parseHexBytes("5", 1, 1), (std::vector<uint8_t>{0x05}));
    EXPECT_EQ(analyzer::parseHexBytes("1 2 3", 3, 258), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(analyzer::parseHexBytes("  aB   Fe 0  ", 1, 58),
              (std::vector<uint8_t>{0xAB, 0xFE, 0x00}));
    EXPECT_EQ(analyzer::parseHexBytes("ff", 1, 1), (std::vector<uint8_t>{0xFF}));
}

TEST(ParseHexBytes, RejectsBadTokensAndWrongCounts) {
    EXPECT_FALSE(analyzer::parseHexBytes("123", 1, 258));
    EXPECT_FALSE(analyzer::parseHexBytes("0x12", 1, 258));
    EXPECT_FALSE(analyzer::parseHexBytes("12 G4", 1, 258));
    EXPECT_FALSE(analyzer::parseHexBytes("12,34", 1, 258));
    EXPECT_FALSE(analyzer::parseHexBytes("1 2 3", 1, 2));  // more than allowed
    EXPECT_FALSE(analyzer::parseHexBytes("1 2", 3, 258));  // fewer than needed
    EXPECT_FALSE(analyzer::parseHexBytes("   ", 1, 58));
    EXPECT_TRUE(analyzer::parseHexBytes("1 2", 2, 2));
}

// ---- page checks ---------------------------------------------------------

std::optional<std::string> pageMessage(int position, const std::vector<PageField>& fields,
                                       SendPages& pages) {
    const std::optional<analyzer::PageProblem> problem =
        analyzer::checkPage(position, fields, pages);
    if (!problem) return std::nullopt;
    return problem->message;
}

TEST(CheckPage, NamesTheRefusedField) {
    SendPages pages;
    struct Case {
        int position;
        std::vector<PageField> fields;
        const char* field;
    };
    const std::string random = "A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF";
    for (const Case& c :
         {Case{10, {{"mode-number", "3"}, {"voltage", "9000"}, {"current", "abc"}}, "current"},
          Case{12, {{"key-index", "5"}, {"random", "01"}}, "random"},
          Case{12, {{"key-index", ""}, {"random", random}}, "key-index"},
          Case{16, {{"baud", "20000"}}, "baud"}}) {
        const auto problem = analyzer::checkPage(c.position, c.fields, pages);
        ASSERT_TRUE(problem) << c.field;
        EXPECT_EQ(problem->field, c.field);
    }
}

TEST(CheckPage, RequestNumbersUseTheFrameworkPrompts) {
    EXPECT_EQ(common::outOfRangePrompt(1, 7), "“请填入一个在1和7之间的整数。”");
    SendPages pages;
    const auto check = [&](std::vector<PageField> fields) {
        return pageMessage(10, fields, pages);
    };
    EXPECT_EQ(check({{"mode-number", "8"}}), common::outOfRangePrompt(1, 7));
    EXPECT_EQ(check({{"mode-number", "0"}}), common::outOfRangePrompt(1, 7));
    EXPECT_EQ(check({{"mode-number", "x"}}), std::string(common::kNotAnInteger));
    EXPECT_EQ(check({{"voltage", "9"}}), common::outOfRangePrompt(10, 300000));
    EXPECT_EQ(check({{"voltage", "300001"}}), common::outOfRangePrompt(10, 300000));
    EXPECT_EQ(check({{"voltage", "5.5"}}), std::string(common::kNotAnInteger));
    EXPECT_EQ(check({{"current", "100001"}}), common::outOfRangePrompt(10, 100000));
    EXPECT_EQ(check({{"current", ""}}), std::string(common::kNotAnInteger));

    // A refused page keeps the earlier values, even of its good fields.
    EXPECT_EQ(check({{"mode-number", "3"}, {"voltage", "9000"}, {"current", "abc"}}),
              std::string(common::kNotAnInteger));
    EXPECT_EQ(pages.requestMode, 1);
    EXPECT_EQ(pages.requestMillivolts, 5000);

    EXPECT_EQ(check({{"mode-number", "7"}, {"voltage", "300000"}, {"current", "100000"}}),
              std::nullopt);
    EXPECT_EQ(pages.requestMode, 7);
    EXPECT_EQ(pages.requestMillivolts, 300000);
    EXPECT_EQ(pages.requestMilliamps, 100000);
}

TEST(CheckPage, ConfigWatchdogRange) {
    SendPages pages;
    EXPECT_EQ(pageMessage(11, {{"ms", "65536"}}, pages), common::outOfRangePrompt(0, 65535));
    EXPECT_EQ(pageMessage(11, {{"ms", "ten"}}, pages), std::string(common::kNotAnInteger));
    EXPECT_EQ(pages.watchdogMilliseconds, 1000);
    EXPECT_EQ(pageMessage(11, {{"ms", "0"}}, pages), std::nullopt);
    EXPECT_EQ(pages.watchdogMilliseconds, 0);
    EXPECT_EQ(pageMessage(11, {{"ms", "65535"}}, pages), std::nullopt);
    EXPECT_EQ(pages.watchdogMilliseconds, 65535);
}

TEST(CheckPage, VerifyPagesNeedExactByteCounts) {
    const std::string sixteen = "请输入16个十六进制数，注意数据用空格分开!";
    const std::string random = hexText(counting(16, 0xA0));
    SendPages pages;
    EXPECT_EQ(pageMessage(12, {{"key-index", ""}, {"random", random}}, pages),
              "请输入一个十六进制数!");
    EXPECT_EQ(pageMessage(12, {{"key-index", "1 2"}, {"random", random}}, pages),
              "请输入一个十六进制数!");
    EXPECT_EQ(pageMessage(12, {{"key-index", "5"}, {"random", "01 02"}}, pages), sixteen);
    EXPECT_EQ(pageMessage(12, {{"key-index", "5"}, {"random", hexText(counting(17, 0))}}, pages),
              sixteen);
    EXPECT_EQ(pages.keyIndex, 0);
    EXPECT_EQ(pageMessage(12, {{"key-index", "5"}, {"random", random}}, pages), std::nullopt);
    EXPECT_EQ(pages.keyIndex, 0x05);
    EXPECT_EQ(pages.verifyRandom[0], 0xA0);
    EXPECT_EQ(pages.verifyRandom[15], 0xAF);

    const std::string encrypted = hexText(counting(32, 0x40));
    EXPECT_EQ(pageMessage(13, {{"encrypted", hexText(counting(31, 0))}, {"random", random}}, pages),
              "请输入32个十六进制数，注意数据用空格分开!");
    EXPECT_EQ(
        pageMessage(13, {{"encrypted", encrypted}, {"random", hexText(counting(15, 0))}}, pages),
        sixteen);
    EXPECT_EQ(pages.encrypted[0], 0);
    EXPECT_EQ(pageMessage(13, {{"encrypted", encrypted}, {"random", random}}, pages), std::nullopt);
    EXPECT_EQ(pages.encrypted[31], 0x5F);
    EXPECT_EQ(pages.responseRandom[0], 0xA0);
}

TEST(CheckPage, VendorAndCustomPages) {
    const std::string idMessage = "请输入2个十六进制数，数据用空格分开!";
    const std::string dataMessage = "请输入1-58个十六进制数，数据用空格分开!";
    const std::string customMessage = "请输入3-258个十六进制数，注意数据用空格分开!";
    SendPages pages;
    const auto vendor = [&](const char* id, const std::string& data) {
        return pageMessage(15, {{"receiver", "3"}, {"vendor-id", id}, {"data", data}}, pages);
    };
    EXPECT_EQ(vendor("12", "01"), idMessage);
    EXPECT_EQ(vendor("12 34 56", "01"), idMessage);
    EXPECT_EQ(vendor("12 34", ""), dataMessage);
    EXPECT_EQ(vendor("12 34", "0g"), dataMessage);
    EXPECT_EQ(vendor("12 34", hexText(counting(59, 0))), dataMessage);
    EXPECT_EQ(pages.vendorReceiver, 0);
    EXPECT_EQ(vendor("12 ab", hexText(counting(58, 0))), std::nullopt);
    EXPECT_EQ(pages.vendorReceiver, 2);
    EXPECT_EQ(pages.vendorId, (std::array<uint8_t, 2>{0x12, 0xAB}));
    EXPECT_EQ(pages.vendorData, counting(58, 0));

    EXPECT_EQ(pageMessage(17, {{"bytes", "1 2"}}, pages), customMessage);
    EXPECT_EQ(pageMessage(17, {{"bytes", "123"}}, pages), customMessage);
    EXPECT_EQ(pageMessage(17, {{"bytes", ""}}, pages), customMessage);
    EXPECT_EQ(pageMessage(17, {{"bytes", hexText(counting(259, 0))}}, pages), customMessage);
    EXPECT_EQ(pages.customBytes, (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(pageMessage(17, {{"bytes", "1 2 3"}}, pages), std::nullopt);
    EXPECT_EQ(pages.customBytes, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(pageMessage(17, {{"bytes", hexText(counting(258, 0))}}, pages), std::nullopt);
    EXPECT_EQ(pages.customBytes.size(), 258u);
}

TEST(CheckPage, TestRequestAndBaudValuesLandInThePages) {
    SendPages pages;
    EXPECT_EQ(pageMessage(14,
                          {{"test-mode", "1"},
                           {"voltage-accuracy", "1"},
                           {"message-type", "1"},
                           {"device", "2"},
                           {"command", "17"}},
                          pages),
              std::nullopt);
    EXPECT_EQ(pages.testMode, 1);
    EXPECT_EQ(pages.voltageAccuracy, 1);
    EXPECT_EQ(pages.testMessageType, 1);
    EXPECT_EQ(pages.testDevice, 2);
    EXPECT_EQ(pages.testCommand, 17);
    EXPECT_EQ(pageMessage(14, {{"command", "1x"}}, pages), std::string(common::kNotAnInteger));

    EXPECT_EQ(pageMessage(16, {{"baud", "57600"}}, pages), std::nullopt);
    const auto frames = compose(16, pages);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][5], 0x00);
    EXPECT_EQ(frames[0][6], 0xE1);
}

// ---- send log ------------------------------------------------------------

TEST(SendLogEntry, PrefixEntryAndOutcome) {
    const SendPages pages;
    EXPECT_EQ(analyzer::sendLogEntry(0, pages, true, {9, 5, 7}), "9:05:07  \r\n Ping\r\n\r\n");
    EXPECT_EQ(analyzer::sendLogEntry(9, pages, true, {23, 59, 0}),
              "23:59:00  \r\n Exit_UFCS_Mode\r\n\r\n");
    EXPECT_EQ(analyzer::sendLogEntry(2, pages, false, {0, 0, 0}),
              "0:00:00  \r\n Get_Output_Capabilities失败!!\r\n");
    EXPECT_EQ(analyzer::sendLogEntry(15, pages, false, {1, 2, 3}),
              "1:02:03  \r\n 厂商消息失败!!\r\n");
    EXPECT_EQ(analyzer::sendLogEntry(18, pages, true, {1, 2, 3}),
              "1:02:03  \r\n Get_Cable_Info\r\n\r\n");
    EXPECT_EQ(analyzer::sendLogEntry(19, pages, true, {1, 2, 3}), "1:02:03  \r\n 硬件复位\r\n\r\n");
    for (int position : {20, 27, 34, 1000}) {
        EXPECT_EQ(analyzer::sendLogEntry(position, pages, true, {1, 2, 3}), "") << position;
        EXPECT_EQ(analyzer::sendLogEntry(position, pages, false, {1, 2, 3}), "") << position;
    }
}

TEST(SendLogEntry, DetailTextsOfParameterPages) {
    SendPages pages;
    pages.requestMode = 3;
    pages.requestMillivolts = 9005;
    pages.requestMilliamps = 2999;
    pages.keyIndex = 0x1A;
    pages.verifyRandom = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                          0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0xFF};
    pages.voltageAccuracy = 1;
    pages.testMessageType = 1;
    pages.testDevice = 2;
    pages.testCommand = 300;
    pages.vendorReceiver = 1;
    pages.vendorId = {0x12, 0xAB};
    pages.vendorData = {0x01, 0xF0};
    pages.customBytes = {0x0A, 0x0B, 0x0C};
    const common::LocalTime at{10, 11, 12};

    EXPECT_EQ(
        analyzer::sendLogEntry(10, pages, true, at),
        "10:11:12  \r\n Request\r\n请求电压：9005mV\r\n请求电流：2999mA\r\n模式编号：3\r\n\r\n");
    EXPECT_EQ(analyzer::sendLogEntry(11, pages, true, at),
              "10:11:12  \r\n Config_Watchdog\r\n溢出时间：1000ms\r\n\r\n");
    EXPECT_EQ(analyzer::sendLogEntry(12, pages, true, at),
              "10:11:12  \r\n Verify_Request\r\n密钥编号：26 \r\n随机数据："
              "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E FF \r\n\r\n");
    EXPECT_EQ(analyzer::sendLogEntry(14, pages, true, at),
              "10:11:12  \r\n Test_Request\r\n电压精度测试模式：使能\r\n消息类型：数据消息 \r\n"
              "设备地址：线缆电子标签\r\n命令编号：300\r\n\r\n\r\n");
    EXPECT_EQ(analyzer::sendLogEntry(15, pages, true, at),
              "10:11:12  \r\n 厂商消息\r\n设备地址：充电设备\r\n厂商ID：12AB\r\n随机数据：01 F0 "
              "\r\n\r\n");
    EXPECT_EQ(analyzer::sendLogEntry(16, pages, true, at),
              "10:11:12  \r\n 设置波特率\r\n115200\r\n\r\n");
    EXPECT_EQ(analyzer::sendLogEntry(17, pages, true, at),
              "10:11:12  \r\n 定制发送\r\n数据：0A 0B 0C \r\n\r\n");

    const std::string verifyResponse = analyzer::sendLogEntry(13, SendPages{}, true, at);
    std::string zeros;
    for (int i = 0; i < 32; ++i)
        zeros += "00 ";
    EXPECT_EQ(verifyResponse, "10:11:12  \r\n Verify_Response\r\n加密数据：" + zeros +
                                  "\r\n随机数据：" + zeros.substr(0, 48) + "\r\n\r\n");

    pages.voltageAccuracy = 0;
    pages.testMessageType = 0;
    pages.testDevice = 0;
    EXPECT_EQ(analyzer::sendLogEntry(14, pages, true, at),
              "10:11:12  \r\n Test_Request\r\n电压精度测试模式：关闭\r\n消息类型：控制消息 \r\n"
              "设备地址：供电设备\r\n命令编号：300\r\n\r\n\r\n");
}

// ---- output-mode rows ----------------------------------------------------

// Step bits, maximum voltage, minimum voltage, maximum current, minimum current (10 mV / 10 mA
// units).
std::array<uint8_t, 8> modeEntry(uint8_t steps, uint16_t maxV, uint16_t minV, uint16_t maxI,
                                 uint8_t minI) {
    return {steps,
            static_cast<uint8_t>(maxV & 0xFF),
            static_cast<uint8_t>(maxV >> 8),
            static_cast<uint8_t>(minV & 0xFF),
            static_cast<uint8_t>(minV >> 8),
            static_cast<uint8_t>(maxI & 0xFF),
            static_cast<uint8_t>(maxI >> 8),
            minI};
}

std::string row(const std::array<uint8_t, 8>& entry) {
    return analyzer::outputModeRowText(instrument::OutputModeEntry::parse(entry.data()));
}

std::string spaces(int n) {
    return std::string(static_cast<std::size_t>(n), ' ');
}

TEST(OutputModeRowText, PaddingKeepsColumnsAligned) {
    EXPECT_EQ(row(modeEntry(0x01, 590, 340, 500, 10)),
              "  3.40-5.90         0.10-5.00         20            10       ");
    // Maximum voltage reaching 10.00 V narrows the first gap only.
    EXPECT_EQ(row(modeEntry(0x00, 1000, 500, 300, 50)), "  5.00-10.00" + spaces(7) + "0.50-3.00" +
                                                            spaces(9) + "10" + spaces(12) + "10" +
                                                            spaces(7));
    EXPECT_EQ(
        row(modeEntry(0x00, 999, 500, 300, 50)),
        "  5.00-9.99" + spaces(9) + "0.50-3.00" + spaces(9) + "10" + spaces(12) + "10" + spaces(7));
    // A maximum current of 10.00 A narrows the second gap.
    EXPECT_EQ(row(modeEntry(0x00, 2000, 500, 1000, 100)), "  5.00-20.00" + spaces(7) +
                                                              "1.00-10.00" + spaces(7) + "10" +
                                                              spaces(12) + "10" + spaces(7));
    EXPECT_EQ(
        row(modeEntry(0x00, 900, 500, 999, 100)),
        "  5.00-9.00" + spaces(9) + "1.00-9.99" + spaces(9) + "10" + spaces(12) + "10" + spaces(7));
    // No leading spaces from a 10.00 V minimum on.
    EXPECT_EQ(
        row(modeEntry(0x00, 2000, 1000, 500, 100)),
        "10.00-20.00" + spaces(7) + "1.00-5.00" + spaces(9) + "10" + spaces(12) + "10" + spaces(7));
    EXPECT_EQ(
        row(modeEntry(0x00, 900, 1100, 500, 100)),
        "11.00-9.00" + spaces(5) + "1.00-5.00" + spaces(7) + "10" + spaces(12) + "10" + spaces(7));
}

TEST(OutputModeRowText, StepFieldsFromTheStepBits) {
    const auto steps = [](uint8_t bits) {
        const std::string text = row(modeEntry(bits, 590, 340, 500, 10));
        return text.substr(std::string("  3.40-5.90         0.10-5.00         ").size());
    };
    EXPECT_EQ(steps(0x00), "10" + spaces(12) + "10" + spaces(7));
    EXPECT_EQ(steps(0x01), "20" + spaces(12) + "10" + spaces(7));
    EXPECT_EQ(steps(0x02), "10" + spaces(12) + "20" + spaces(7));
    EXPECT_EQ(steps(0x0F), "20" + spaces(12) + "80" + spaces(7));
    EXPECT_EQ(steps(0xF4), "10" + spaces(12) + "30" + spaces(7));  // bits 4-7 ignored
}

}  // namespace
