// Decoding one selected record: the header, control and vendor-defined
// messages, line events, header faults and length faults. The data commands
// are covered in decoder_data_test.cpp.

#include "ufcs/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ufcs/crc8.h"
#include "ufcs/decode_expect.h"
#include "ufcs/list_row.h"
#include "ufcs/record_builder.h"
#include "ufcs/wire_format.h"

namespace ufcs {
namespace {

using namespace test;

std::vector<uint8_t> controlMessage(uint8_t address, uint8_t command) {
    return encodeControlMessage(static_cast<DeviceAddress>(address), 3, command);
}
std::vector<uint8_t> dataMessage(uint8_t command, const std::vector<uint8_t>& body,
                                 uint8_t address = 2) {
    return encodeDataMessage(static_cast<DeviceAddress>(address), 3, command, body);
}
std::vector<uint8_t> vendorMessage(uint16_t vendorId, const std::vector<uint8_t>& body) {
    return encodeVendorMessage(DeviceAddress::Sink, 3, vendorId, body);
}
// Appends the CRC to hand-made header and body bytes (Training byte first).
std::vector<uint8_t> withCrc(std::vector<uint8_t> wire) {
    wire.push_back(Crc8(wire.data() + 1, static_cast<unsigned>(wire.size() - 1)));
    return wire;
}

DecodeResult decode(TestRecord& record) {
    return decodeRecord(record.view(), kIndex);
}

// The roots from `first` on (2 skips the sequence and header items).
Lines outlineFrom(const DecodeResult& result, std::size_t first) {
    if (result.roots.size() < first) return {"<too few roots>"};
    return outline({result.roots.begin() + static_cast<long>(first), result.roots.end()});
}

// Header items of a message with message number 3 and protocol version 1.
std::vector<std::string> headerLines(const std::string& h0h1, const std::string& receiver,
                                     const std::string& type) {
    return {kSeq,
            "消息头：" + h0h1,
            "  接收设备: " + receiver,
            "  消息编号: 03 ",
            "  协议版本: 01  V1.0",
            "  消息类型: " + type + " <v>"};
}

// --- Control messages -------------------------------------------------------

TEST(DecoderControl, WellFormedMessageShowsDumpHeaderCommandAndCrc) {
    const auto wire = controlMessage(2, 0x03);  // AA 46 08 03 48
    TestRecord record = makeRecord(kPlain, wire);
    const DecodeResult result = decode(record);

    auto expected = headerLines("46 08", "02 充电设备", "00 控制");
    expected.push_back("命令: 0x03  Accept <v>");
    expected.push_back("CRC: 48 <v>");
    EXPECT_EQ(outline(result.roots), expected);
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_EQ(pane(result), (Segments{{kNormal, dump(wire)}}));
    EXPECT_EQ(dump(wire),
              "序号：42 \r\n数据信息(包括Training(0xAA)字符,消息头，消息主体及CRC)\r\n"
              "AA 46 08 03 48 \r\n");
    EXPECT_EQ(paneText(result), dump(wire));
}

TEST(DecoderControl, CommandNamesEndAtExitUfcsMode) {
    struct Case {
        uint8_t command;
        const char* item;
        bool warns;
    };
    for (const Case& c :
         {Case{0x00, "命令: 0x00  Ping", false}, Case{0x01, "命令: 0x01  ACK", false},
          Case{0x0D, "命令: 0x0D  Start_Cable_Detect", false},
          Case{0x0F, "命令: 0x0F  Exit_UFCS_Mode", false}, Case{0x10, "命令: 0x10  ", true},
          Case{0xFF, "命令: 0xFF  ", true}}) {
        SCOPED_TRACE(c.item);
        const auto wire = controlMessage(2, c.command);
        TestRecord record = makeRecord(kPlain, wire);
        const DecodeResult result = decode(record);
        ASSERT_EQ(result.roots.size(), 4u);
        EXPECT_EQ(result.roots[2].text, c.item);
        EXPECT_TRUE(result.roots[2].visible);
        EXPECT_EQ(result.roots[3].text, "CRC: " + hex2(wire.back()));
        if (c.warns) {
            EXPECT_EQ(warnings(result), (Warnings{{kError, "注意：控制命令错误！\r\n"}}));
            EXPECT_EQ(pane(result),
                      (Segments{{kNormal, dump(wire)}, {kError, "\r\n注意：控制命令错误！\r\n"}}));
        } else {
            EXPECT_TRUE(result.warnings.empty());
        }
    }
}

TEST(DecoderControl, MessageKindsZeroToThreeAllDecodeAsMessages) {
    for (uint8_t kind : {0, 1, 2, 3}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const auto wire = controlMessage(3, 0x09);
        TestRecord record = makeRecord(kind, wire);
        const DecodeResult result = decode(record);
        EXPECT_EQ(paneText(result), dump(wire));
        ASSERT_EQ(result.roots.size(), 4u);
        EXPECT_EQ(result.roots[1].children.at(0).text, "接收设备: 03 线缆");
        EXPECT_EQ(result.roots[2].text, "命令: 0x09  Get_Cable_Info");
    }
}

// --- Header faults ----------------------------------------------------------

TEST(DecoderHeaderFaults, ReceiverAddressNamesAndInvalidAddresses) {
    const char* names[8] = {"", "供电设备", "充电设备", "线缆", "", "", "", ""};
    for (uint8_t address = 0; address < 8; ++address) {
        SCOPED_TRACE(static_cast<int>(address));
        TestRecord record = makeRecord(kPlain, controlMessage(address, 0x01));
        const DecodeResult result = decode(record);
        ASSERT_EQ(result.roots.size(), 4u);
        EXPECT_EQ(result.roots[1].children.at(0).text,
                  "接收设备: " + hex2(address) + " " + names[address]);
        const bool valid = address >= 1 && address <= 3;
        EXPECT_EQ(warnings(result),
                  (valid ? Warnings{} : Warnings{{kError, "注意：接收设备地址错误！\r\n"}}));
    }
}

TEST(DecoderHeaderFaults, NumberVersionAndUninterpretedBit) {
    struct Case {
        uint8_t h0, h1;
        const char* number;
        const char* version;
    };
    for (const Case& c : {Case{0x5F, 0x10, "消息编号: 0F ", "协议版本: 02 "},
                          Case{0x41, 0x08, "消息编号: 00 ", "协议版本: 01  V1.0"},
                          Case{0x5E, 0xF8, "消息编号: 0F ", "协议版本: 1F "},
                          Case{0x40, 0x00, "消息编号: 00 ", "协议版本: 00 "}}) {
        SCOPED_TRACE(c.version);
        TestRecord record = makeRecord(kPlain, withCrc({0xAA, c.h0, c.h1, 0x01}));
        const DecodeResult result = decode(record);
        ASSERT_EQ(result.roots.size(), 4u);
        const TreeItem& header = result.roots[1];
        EXPECT_EQ(header.text, "消息头：" + hex2(c.h0) + " " + hex2(c.h1));
        EXPECT_EQ(outline(header.children),
                  (Lines{"接收设备: 02 充电设备", c.number, c.version, "消息类型: 00 控制 <v>"}));
        EXPECT_TRUE(result.warnings.empty());
    }
}

TEST(DecoderHeaderFaults, LineChecksFlagMessagesSentToTheSendingSide) {
    const std::string dMinus = "注意：D-线发出充电设备接收命令!\r\n";
    const std::string dPlus = "注意：D+线发出供电设备接收命令!\r\n";
    struct Case {
        uint8_t kind, address;
        std::string warning;
    };
    for (const Case& c :
         {Case{2, 2, dMinus}, Case{1, 1, dPlus}, Case{1, 2, ""}, Case{2, 1, ""}, Case{0, 1, ""},
          Case{0, 2, ""}, Case{3, 1, ""}, Case{3, 2, ""}, Case{1, 3, ""}, Case{2, 3, ""}}) {
        SCOPED_TRACE(std::to_string(c.kind) + "/" + std::to_string(c.address));
        TestRecord record = makeRecord(c.kind, controlMessage(c.address, 0x00));
        const DecodeResult result = decode(record);
        EXPECT_EQ(warnings(result),
                  (c.warning.empty() ? Warnings{} : Warnings{{kError, c.warning}}));
    }
}

TEST(DecoderHeaderFaults, CrcErrorNamesTheComputedCrcInLowerCase) {
    auto wire = controlMessage(2, 0x05);  // Power_Ready to the sink, CRC 0xBE
    ASSERT_EQ(wire.back(), 0xBE);
    wire.back() = 0x00;
    TestRecord record = makeRecord(kPlain, wire);
    markListRecord(record.view());
    ASSERT_EQ(record.bytes[0] & kCrcError, kCrcError);
    ASSERT_EQ(record.bytes[1], 0xBE);

    const DecodeResult result = decode(record);
    EXPECT_EQ(warnings(result), (Warnings{{kError, "注意：校验码错误！应为：0xbe\r\n"}}));
    ASSERT_EQ(result.roots.size(), 4u);
    EXPECT_EQ(result.roots[3].text, "CRC: 00");  // the captured byte, not the computed one
    EXPECT_EQ(pane(result),
              (Segments{{kNormal, dump(wire)}, {kError, "\r\n注意：校验码错误！应为：0xbe\r\n"}}));
}

TEST(DecoderHeaderFaults, CrcWarningFollowsTheStatusBitNotTheWire) {
    auto wire = controlMessage(2, 0x05);
    wire.back() ^= 0xFF;
    TestRecord unmarked = makeRecord(kPlain, wire);
    EXPECT_TRUE(decode(unmarked).warnings.empty());

    TestRecord flagged = makeRecord(kPlain, controlMessage(2, 0x05));
    flagged.bytes[0] |= kCrcError;
    flagged.bytes[1] = 0x3C;
    EXPECT_EQ(warnings(decode(flagged)), (Warnings{{kError, "注意：校验码错误！应为：0x3c\r\n"}}));
}

TEST(DecoderHeaderFaults, MessageTypeAboveTwoStopsAfterTheHeader) {
    for (uint8_t type : {3, 5, 7}) {
        SCOPED_TRACE(static_cast<int>(type));
        const uint8_t h1 = static_cast<uint8_t>(0x08 | type);
        const auto wire = withCrc({0xAA, 0x46, h1, 0x01, 0x02, 0x03});
        TestRecord record = makeRecord(kPlain, wire);
        const DecodeResult result = decode(record);
        EXPECT_EQ(outline(result.roots),
                  headerLines("46 " + hex2(h1), "02 充电设备", hex2(type) + " "));
        EXPECT_EQ(warnings(result), (Warnings{{kError, "注意：消息类型错误！\r\n"}}));
        EXPECT_EQ(pane(result),
                  (Segments{{kNormal, dump(wire)}, {kError, "\r\n注意：消息类型错误！\r\n"}}));
    }
}

TEST(DecoderHeaderFaults, HeaderWarningsComeInFixedOrderAndShareOneRedSegment) {
    {  // D+ line to the source, CRC fault, type 4.
        const auto wire = withCrc({0xAA, 0x26, 0x0C, 0x00});
        TestRecord record = makeRecord(kDPlus, wire);
        record.bytes[0] |= kCrcError;
        record.bytes[1] = 0x0A;
        const DecodeResult result = decode(record);
        EXPECT_EQ(warnings(result), (Warnings{{kError, "注意：D+线发出供电设备接收命令!\r\n"},
                                              {kError, "注意：校验码错误！应为：0x0a\r\n"},
                                              {kError, "注意：消息类型错误！\r\n"}}));
        EXPECT_EQ(pane(result), (Segments{{kNormal, dump(wire)},
                                          {kError,
                                           "\r\n注意：D+线发出供电设备接收命令!\r\n"
                                           "注意：校验码错误！应为：0x0a\r\n"
                                           "注意：消息类型错误！\r\n"}}));
    }
    {  // D- line to the sink, CRC fault, then the control body decodes on.
        TestRecord record = makeRecord(kDMinus, controlMessage(2, 0x01));
        record.bytes[0] |= kCrcError;
        record.bytes[1] = 0x61;
        const DecodeResult result = decode(record);
        EXPECT_EQ(warnings(result), (Warnings{{kError, "注意：D-线发出充电设备接收命令!\r\n"},
                                              {kError, "注意：校验码错误！应为：0x61\r\n"}}));
        EXPECT_EQ(result.roots.size(), 4u);
    }
    {  // Address 5, CRC fault, type 6.
        TestRecord record = makeRecord(kPlain, withCrc({0xAA, 0xA6, 0x0E, 0x00}));
        record.bytes[0] |= kCrcError;
        record.bytes[1] = 0xF0;
        EXPECT_EQ(warnings(decode(record)), (Warnings{{kError, "注意：校验码错误！应为：0xf0\r\n"},
                                                      {kError, "注意：接收设备地址错误！\r\n"},
                                                      {kError, "注意：消息类型错误！\r\n"}}));
    }
}

// --- Length faults ----------------------------------------------------------

const std::string kLengthWarning = "注意：数据长度不符!\r\n";
const Lines kLengthErrorTree = {kSeq, "数据长度不符!\r\n <v>"};

TEST(DecoderLengthFaults, ControlMessageByteCounts) {
    const auto exact = controlMessage(1, 0x04);
    {
        TestRecord record = makeRecord(kPlain, exact);
        EXPECT_TRUE(decode(record).warnings.empty());
    }
    {  // One byte more: decoded as usual, with a yellow note.
        auto wire = exact;
        wire.push_back(0x77);
        TestRecord record = makeRecord(kPlain, wire);
        const DecodeResult result = decode(record);
        auto expected = headerLines("26 08", "01 供电设备", "00 控制");
        expected.push_back("命令: 0x04  Soft_Reset <v>");
        expected.push_back("CRC: " + hex2(exact.back()) + " <v>");
        EXPECT_EQ(outline(result.roots), expected);
        EXPECT_EQ(warnings(result), (Warnings{{kNote, kLengthWarning}}));
        EXPECT_EQ(pane(result),
                  (Segments{{kNormal, dump(wire)}, {kNote, "\r\n" + kLengthWarning}}));
    }
    {  // One byte short: only the sequence line and the length line remain.
        const std::vector<uint8_t> wire(exact.begin(), exact.end() - 1);
        TestRecord record = makeRecord(kPlain, wire);
        const DecodeResult result = decode(record);
        EXPECT_EQ(outline(result.roots), kLengthErrorTree);
        EXPECT_EQ(warnings(result), (Warnings{{kError, kLengthWarning}}));
        EXPECT_EQ(pane(result),
                  (Segments{{kNormal, dump(wire)}, {kError, "\r\n" + kLengthWarning}}));
    }
}

TEST(DecoderLengthFaults, EarlierWarningsPrecedeTheLengthError) {
    {
        const auto wire = controlMessage(2, 0x20);
        TestRecord record = makeRecord(kPlain, {wire.begin(), wire.end() - 1});
        const DecodeResult result = decode(record);
        EXPECT_EQ(warnings(result),
                  (Warnings{{kError, "注意：控制命令错误！\r\n"}, {kError, kLengthWarning}}));
        ASSERT_EQ(result.pane.size(), 2u);
        EXPECT_EQ(result.pane[1].text, "\r\n注意：控制命令错误！\r\n" + kLengthWarning);
    }
    {
        const auto wire = dataMessage(0x0D, {1, 2, 3}, 0);
        TestRecord record = makeRecord(kPlain, {wire.begin(), wire.end() - 2});
        const DecodeResult result = decode(record);
        EXPECT_EQ(outline(result.roots), kLengthErrorTree);
        EXPECT_EQ(warnings(result), (Warnings{{kError, "注意：接收设备地址错误！\r\n"},
                                              {kError, "注意：数据命令无法识别!\r\n"},
                                              {kError, kLengthWarning}}));
    }
}

TEST(DecoderLengthFaults, ShortDataCaptureIsBodyLengthError) {
    const auto wire = dataMessage(0x02, {0x10, 0, 0, 0, 0x08, 0x34, 0x01, 0x2C});
    for (std::size_t cut : {1u, 5u, 10u}) {
        SCOPED_TRACE(cut);
        const std::vector<uint8_t> shortWire(wire.begin(), wire.end() - static_cast<long>(cut));
        TestRecord record = makeRecord(kPlain, shortWire);
        const DecodeResult result = decode(record);
        EXPECT_EQ(outline(result.roots), kLengthErrorTree);
        EXPECT_EQ(warnings(result), (Warnings{{kError, kLengthWarning}}));
        EXPECT_EQ(pane(result),
                  (Segments{{kNormal, dump(shortWire)}, {kError, "\r\n" + kLengthWarning}}));
    }
}

TEST(DecoderLengthFaults, OverlongDataCaptureDecodesWithNoteBeforeFieldWarnings) {
    auto wire = dataMessage(0x02, {0x80, 0, 0, 0, 0x01, 0xF4, 0x00, 0x64});
    const uint8_t crc = wire.back();
    wire.push_back(0x00);
    TestRecord record = makeRecord(kPlain, wire);
    const DecodeResult result = decode(record);
    const std::string modeWarning = "\r\n注意：请求输出模式编号超过7\r\n";
    EXPECT_EQ(warnings(result), (Warnings{{kNote, kLengthWarning}, {kError, modeWarning}}));
    ASSERT_EQ(result.roots.size(), 6u);
    EXPECT_EQ(result.roots[4].children.size(), 3u);
    EXPECT_EQ(result.roots[5].text, "CRC: " + hex2(crc));
    ASSERT_EQ(result.pane.size(), 3u);
    EXPECT_EQ(result.pane[1].type, PaneType::Note);
    EXPECT_EQ(result.pane[1].text, "\r\n" + kLengthWarning);
    EXPECT_EQ(result.pane[2].type, PaneType::Error);
    EXPECT_EQ(result.pane[2].text, modeWarning);
}

TEST(DecoderLengthFaults, DataLengthsTheCommandDoesNotAllow) {
    struct Case {
        uint8_t command;
        std::size_t length;
    };
    for (const Case& c :
         {Case{0x01, 0}, Case{0x01, 12}, Case{0x01, 64}, Case{0x02, 7}, Case{0x03, 9},
          Case{0x04, 4}, Case{0x05, 10}, Case{0x06, 7}, Case{0x07, 8}, Case{0x08, 1}, Case{0x09, 5},
          Case{0x0A, 16}, Case{0x0B, 47}, Case{0x0C, 0}, Case{0x0C, 4}, Case{0x0C, 24}}) {
        SCOPED_TRACE(hex2(c.command) + " length " + std::to_string(c.length));
        const auto wire = dataMessage(c.command, std::vector<uint8_t>(c.length, 0));
        TestRecord record = makeRecord(kPlain, wire);
        const DecodeResult result = decode(record);
        EXPECT_EQ(outline(result.roots), kLengthErrorTree);
        EXPECT_EQ(warnings(result), (Warnings{{kError, kLengthWarning}}));
        EXPECT_EQ(pane(result),
                  (Segments{{kNormal, dump(wire)}, {kError, "\r\n" + kLengthWarning}}));
    }
}

TEST(DecoderLengthFaults, VendorMessageByteCounts) {
    const auto wire = vendorMessage(0x1234, {0xA1, 0xB2});
    {
        TestRecord record = makeRecord(kPlain, {wire.begin(), wire.end() - 1});
        const DecodeResult result = decode(record);
        EXPECT_EQ(outline(result.roots), kLengthErrorTree);
        EXPECT_EQ(warnings(result), (Warnings{{kError, kLengthWarning}}));
        // The dump stays; the detail text is not shown.
        EXPECT_EQ(paneText(result), dump({wire.begin(), wire.end() - 1}) + "\r\n" + kLengthWarning);
    }
    {
        auto longer = wire;
        longer.push_back(0x00);
        TestRecord record = makeRecord(kPlain, longer);
        const DecodeResult result = decode(record);
        EXPECT_EQ(warnings(result), (Warnings{{kNote, kLengthWarning}}));
        ASSERT_EQ(result.roots.size(), 6u);
        EXPECT_EQ(result.roots[4].text, "数据: A1 B2 ");
        EXPECT_EQ(result.roots[5].text, "CRC: " + hex2(wire.back()));
    }
}

TEST(DecoderLengthFaults, OversizedByteCountStaysInsideTheRecord) {
    // The record sits at the front of a larger buffer; the bytes after it
    // must never show up in the dump.
    std::array<uint8_t, 400> buffer{};
    buffer.fill(0xEE);
    TestRecord record = makeRecord(kPlain, controlMessage(2, 0x01));
    for (std::size_t i = kWireOffset + 5; i < kRecordSize; ++i)
        record.bytes[i] = 0x5A;
    record.setByteCount(400);
    std::copy(record.bytes.begin(), record.bytes.end(), buffer.begin());

    const DecodeResult result = decodeRecord(CaptureRecord(buffer.data()), kIndex);
    std::vector<uint8_t> held(record.bytes.begin() + kWireOffset, record.bytes.end());
    ASSERT_EQ(held.size(), 305u);
    EXPECT_EQ(pane(result), (Segments{{kNormal, dump(held)}, {kNote, "\r\n" + kLengthWarning}}));
    EXPECT_EQ(paneText(result).find("EE"), std::string::npos);
    for (std::size_t i = kRecordSize; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], 0xEE);
}

// --- Vendor-defined messages ------------------------------------------------

TEST(DecoderVendor, WellFormedMessageShowsIdLengthDataAndCrc) {
    const auto wire = vendorMessage(0x12AB, {0x01, 0x02, 0x03});
    TestRecord record = makeRecord(kPlain, wire);
    const DecodeResult result = decode(record);
    auto expected = headerLines("46 0A", "02 充电设备", "02 自定义");
    expected.insert(expected.end(), {"厂商ID: 0x12AB  <v>", "数据长度: 0x03 (3) <v>",
                                     "数据: 01 02 03  <v>", "CRC: " + hex2(wire.back()) + " <v>"});
    EXPECT_EQ(outline(result.roots), expected);
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_EQ(pane(result),
              (Segments{{kNormal, dump(wire) + "\r\n数据长度: 0x03 (3)\r\n数据: 01 02 03 \r\n"}}));
}

TEST(DecoderVendor, VendorIdKeepsLeadingZerosAndLongDataIsListed) {
    std::vector<uint8_t> body(20);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<uint8_t>(0xE0 + i);
    const auto wire = vendorMessage(0x00FE, body);
    TestRecord record = makeRecord(kPlain, wire);
    const DecodeResult result = decode(record);
    ASSERT_EQ(result.roots.size(), 6u);
    EXPECT_EQ(result.roots[2].text, "厂商ID: 0x00FE ");
    EXPECT_EQ(result.roots[3].text, "数据长度: 0x14 (20)");
    EXPECT_EQ(result.roots[4].text, "数据: " + hexBytes(body));
    EXPECT_EQ(result.roots[5].text, "CRC: " + hex2(wire.back()));
}

TEST(DecoderVendor, EmptyDataShowsNoDataItemUnlessBytesFollow) {
    const auto wire = vendorMessage(0xBEEF, {});
    {
        TestRecord record = makeRecord(kPlain, wire);
        const DecodeResult result = decode(record);
        EXPECT_EQ(outlineFrom(result, 2), (Lines{"厂商ID: 0xBEEF  <v>", "数据长度: 0x00 (0) <v>",
                                                 "CRC: " + hex2(wire.back()) + " <v>"}));
        EXPECT_EQ(pane(result), (Segments{{kNormal, dump(wire)}}));
    }
    {
        auto longer = wire;
        longer.push_back(0x99);
        TestRecord record = makeRecord(kPlain, longer);
        const DecodeResult result = decode(record);
        EXPECT_EQ(outlineFrom(result, 2),
                  (Lines{"厂商ID: 0xBEEF  <v>", "数据长度: 0x00 (0) <v>", "数据:  <v>",
                         "CRC: " + hex2(wire.back()) + " <v>"}));
        EXPECT_EQ(pane(result),
                  (Segments{{kNormal, dump(longer) + "\r\n数据长度: 0x00 (0)\r\n数据: \r\n"},
                            {kNote, "\r\n" + kLengthWarning}}));
    }
}

// --- Events -----------------------------------------------------------------

TEST(DecoderEvents, LineSignalsShowTheirText) {
    const char* texts[8] = {"\r\n D+ 握手信号",
                            "\r\n 供电设备应答握手信号",
                            "\r\n D- 握手信号",
                            "\r\n 充电设备回复握手信号",
                            "\r\n D+发出充电设备硬件复位命令",
                            "\r\n D-发出供电设备硬件复位命令",
                            "\r\n D+发出线缆硬件复位命令",
                            "\r\n D-发出线缆硬件复位命令"};
    for (unsigned i = 0; i < 8; ++i) {
        const auto kind = static_cast<uint8_t>(0xF0 + i);
        SCOPED_TRACE(hex2(kind));
        const TestRecord record = makeRecord(kind, controlMessage(2, 0x01));
        const DecodeResult result = decodeRecord(record.view(), 65530);

        EXPECT_TRUE(result.roots.empty());
        EXPECT_TRUE(result.warnings.empty());
        EXPECT_EQ(pane(result), (Segments{{kNormal, std::string("序号：65530 \r\n") + texts[i]}}));
    }
}

TEST(DecoderEvents, OtherEventKindsShowNothingAndWriteNothing) {
    for (uint8_t kind : {0x04, 0x16, 0x17, 0x80, 0xEF, 0xF8, 0xF9, 0xFF}) {
        SCOPED_TRACE(hex2(kind));
        TestRecord record = makeRecord(kind, controlMessage(2, 0x01));
        const auto before = record.bytes;
        const DecodeResult result = decode(record);
        EXPECT_TRUE(result.roots.empty());
        EXPECT_TRUE(result.pane.empty());
        EXPECT_TRUE(result.warnings.empty());
        EXPECT_EQ(record.bytes, before);
    }
}

TEST(DecoderEvents, MessageRecordsAreLeftUntouched) {
    std::vector<std::vector<uint8_t>> wires = {
        controlMessage(2, 0x01), dataMessage(0x02, {0x90, 0, 0, 0, 0x08, 0x34, 0x01, 0x2C}),
        vendorMessage(0x1234, {1, 2}), withCrc({0xAA, 0x46, 0x0B, 0x01})};
    wires[0].back() ^= 0x11;  // a CRC fault the row builder marks
    for (uint8_t kind : {0, 1, 2, 3}) {
        for (const auto& wire : wires) {
            SCOPED_TRACE(hexBytes(wire));
            TestRecord record = makeRecord(kind, wire);
            BuildListRow(record.view(), kIndex);
            const auto before = record.bytes;
            const DecodeResult result = decode(record);
            EXPECT_FALSE(result.pane.empty());
            EXPECT_EQ(record.bytes, before);
        }
    }
    TestRecord oversized = makeRecord(kPlain, controlMessage(2, 0x01));
    oversized.setByteCount(0xFFFF);
    const auto before = oversized.bytes;
    decode(oversized);
    EXPECT_EQ(oversized.bytes, before);
}

}  // namespace
}  // namespace ufcs
