// Decoding data messages: the field items under the data item, the detail
// lines in the pane and the warnings of each command.

#include "ufcs/decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ufcs/decode_expect.h"
#include "ufcs/list_row.h"
#include "ufcs/record_builder.h"
#include "ufcs/wire_format.h"

namespace ufcs {
namespace {

using namespace test;

// A data message (message number 3) captured on no particular line, decoded as record 42.
struct Decoded {
    std::vector<uint8_t> wire;
    DecodeResult result;
    Lines afterHeader;  // outline of the roots after the sequence and header items
};
Decoded decodeData(uint8_t command, const std::vector<uint8_t>& body, uint8_t address = 2,
                   uint8_t kind = kPlain) {
    Decoded decoded;
    decoded.wire = encodeDataMessage(static_cast<DeviceAddress>(address), 3, command, body);
    TestRecord record = makeRecord(kind, decoded.wire);
    decoded.result = decodeRecord(record.view(), kIndex);
    if (decoded.result.roots.size() >= 2) {
        decoded.afterHeader =
            outline({decoded.result.roots.begin() + 2, decoded.result.roots.end()});
    }
    return decoded;
}

// The roots after the header when the fields hang under the data item.
Lines dataFrame(const Decoded& decoded, const std::string& command, const std::string& length,
                const Lines& fields) {
    const std::vector<uint8_t> body(decoded.wire.begin() + 5, decoded.wire.end() - 1);
    Lines lines = {command + " <v>", length + " <v>", "数据: " + hexBytes(body)};
    for (const std::string& field : fields)
        lines.push_back("  " + field);
    lines.push_back("CRC: " + hex2(decoded.wire.back()) + " <v>");
    return lines;
}

// --- Output_Capabilities ----------------------------------------------------

TEST(DecoderDataOutputCapabilities, TwoModesListTheirFieldsAndSummaries) {
    const Decoded d = decodeData(0x01, {0x15, 0x08, 0x34, 0x01, 0xF4, 0x01, 0x2C, 0x0A, 0x20, 0x03,
                                        0x84, 0x01, 0x90, 0x00, 0xC8, 0x05});
    Lines expected = {kSeq,
                      "消息头：46 09",
                      "  接收设备: 02 充电设备",
                      "  消息编号: 03 ",
                      "  协议版本: 01  V1.0",
                      "  消息类型: 01 数据 <v>"};
    for (const std::string& line : dataFrame(
             d, "命令: 0x01  Output_Capabilities", "数据长度: 0x10 (16)",
             {"输出模式1: 15 08 34 01 F4 01 2C 0A ", "  输出模式编号:01 (1)",
              "  电流调节步进:02 30mA", "  电压调节最小步进:01 20mV", "  最大输出电压:0834 21000mV",
              "  最小输出电压:01F4 5000mV", "  最大输出电流:012C 3000mA",
              "  最小输出电流:0A 100mA <v>", "输出模式2: 20 03 84 01 90 00 C8 05 ",
              "  输出模式编号:02 (2)", "  电流调节步进:00 10mA", "  电压调节最小步进:00 10mV",
              "  最大输出电压:0384 9000mV", "  最小输出电压:0190 4000mV",
              "  最大输出电流:00C8 2000mA", "  最小输出电流:05 50mA <v>"})) {
        expected.push_back(line);
    }
    EXPECT_EQ(outline(d.result.roots), expected);
    EXPECT_TRUE(d.result.warnings.empty());
    EXPECT_EQ(pane(d.result),
              (Segments{{kNormal, dump(d.wire) + "\r\n 输出模式1: 5-21V   0.1-3A"
                                                 "\r\n 输出模式2: 4-9V   0.05-2A"}}));
}

TEST(DecoderDataOutputCapabilities, CurrentStepCodesFiveToSevenAreReserved) {
    const char* steps[8] = {"00 10mA", "01 20mA", "02 30mA", "03 40mA",
                            "04 50mA", "05 保留", "06 保留", "07 保留"};
    for (uint8_t code = 0; code < 8; ++code) {
        SCOPED_TRACE(static_cast<int>(code));
        const auto first = static_cast<uint8_t>(0x10 | (code << 1));
        const Decoded d = decodeData(0x01, {first, 0x01, 0xF4, 0x01, 0xF4, 0x00, 0x64, 0x0A});
        ASSERT_EQ(d.result.roots.size(), 6u);
        const TreeItem& mode = d.result.roots[4].children.at(0);
        EXPECT_EQ(mode.children.at(1).text, std::string("电流调节步进:") + steps[code]);
        EXPECT_EQ(
            warnings(d.result),
            (code <= 4 ? Warnings{}
                       : Warnings{{kError, "注意：输出模式1 电流调节步进不在规定范围!\r\n"}}));
    }
}

TEST(DecoderDataOutputCapabilities, ModeNumbersMustCountUpFromOne) {
    const std::vector<uint8_t> record = {0x01, 0xF4, 0x01, 0xF4, 0x00, 0x64, 0x0A};
    auto body = [&](std::vector<uint8_t> firsts) {
        std::vector<uint8_t> bytes;
        for (uint8_t first : firsts) {
            bytes.push_back(first);
            bytes.insert(bytes.end(), record.begin(), record.end());
        }
        return bytes;
    };
    const std::string mismatch = "注意：输出模式编号不符!\r\n";
    {  // A first mode numbered 0 is out of order; the second, numbered 2, is not.
        const Decoded d = decodeData(0x01, body({0x00, 0x20}));
        EXPECT_EQ(warnings(d.result), (Warnings{{kError, mismatch}}));
        ASSERT_EQ(d.result.roots.size(), 6u);
        EXPECT_EQ(d.result.roots[4].children.at(0).text, "输出模式0: 00 01 F4 01 F4 00 64 0A ");
        EXPECT_EQ(d.result.roots[4].children.at(0).children.at(0).text, "输出模式编号:00 (0)");
    }
    {  // Warnings follow the records: step of mode 1, numbering of mode 2, step of mode 3.
        const Decoded d = decodeData(0x01, body({0x1A, 0x30, 0x3C}));
        EXPECT_EQ(warnings(d.result),
                  (Warnings{{kError, "注意：输出模式1 电流调节步进不在规定范围!\r\n"},
                            {kError, mismatch},
                            {kError, "注意：输出模式3 电流调节步进不在规定范围!\r\n"}}));
        EXPECT_EQ(paneText(d.result),
                  dump(d.wire) + "\r\n 输出模式1: 5-5V   0.1-1A" + "\r\n 输出模式3: 5-5V   0.1-1A" +
                      "\r\n 输出模式3: 5-5V   0.1-1A" +
                      "\r\n注意：输出模式1 电流调节步进不在规定范围!\r\n" + mismatch +
                      "注意：输出模式3 电流调节步进不在规定范围!\r\n");
    }
}

TEST(DecoderDataOutputCapabilities, SevenModesFillTheLargestBody) {
    std::vector<uint8_t> body;
    for (uint8_t i = 1; i <= 7; ++i)
        body.insert(body.end(), {static_cast<uint8_t>(i << 4), 0, 0, 0, 0, 0, 0, 0});
    const Decoded d = decodeData(0x01, body);
    EXPECT_TRUE(d.result.warnings.empty());
    ASSERT_EQ(d.result.roots.size(), 6u);
    const TreeItem& data = d.result.roots[4];
    ASSERT_EQ(data.children.size(), 7u);
    EXPECT_EQ(data.children[6].text, "输出模式7: 70 00 00 00 00 00 00 00 ");
    EXPECT_TRUE(data.children[6].children.at(6).visible);
    EXPECT_EQ(paneText(d.result).substr(dump(d.wire).size()),
              "\r\n 输出模式1: 0-0V   0-0A\r\n 输出模式2: 0-0V   0-0A\r\n 输出模式3: 0-0V   0-0A"
              "\r\n 输出模式4: 0-0V   0-0A\r\n 输出模式5: 0-0V   0-0A\r\n 输出模式6: 0-0V   0-0A"
              "\r\n 输出模式7: 0-0V   0-0A");
}

// --- Request ----------------------------------------------------------------

TEST(DecoderDataRequest, FieldsAndDetailLines) {
    // Low nibble of byte 0 and bytes 1-3 are not interpreted.
    const Decoded d = decodeData(0x02, {0x1F, 0xAA, 0xBB, 0xCC, 0x08, 0x34, 0x01, 0x2C});
    EXPECT_EQ(d.afterHeader, dataFrame(d, "命令: 0x02  Request", "数据长度: 0x08 (8)",
                                       {"输出模式编号:0x01 (1)", "请求输出电压:0x0834 21000mV",
                                        "请求输出电流:0x012C 3000mA <v>"}));
    EXPECT_TRUE(d.result.warnings.empty());
    EXPECT_EQ(pane(d.result),
              (Segments{{kNormal, dump(d.wire) + "\r\n请求输出模式编号:0x01 (1)"
                                                 "\r\n请求输出电压:0x0834 21000mV"
                                                 "\r\n请求输出电流:0x012C 3000mA"}}));
}

TEST(DecoderDataRequest, ModeNumberAboveSevenWarns) {
    const std::string warning = "\r\n注意：请求输出模式编号超过7\r\n";
    for (uint8_t mode : {0, 7, 8, 15}) {
        SCOPED_TRACE(static_cast<int>(mode));
        const Decoded d = decodeData(0x02, {static_cast<uint8_t>(mode << 4), 0, 0, 0, 0, 0, 0, 0});
        ASSERT_EQ(d.result.roots.size(), 6u);
        EXPECT_EQ(d.result.roots[4].children.at(0).text,
                  "输出模式编号:0x" + hex2(mode) + " (" + std::to_string(mode) + ")");
        if (mode <= 7) {
            EXPECT_TRUE(d.result.warnings.empty());
        } else {
            EXPECT_EQ(warnings(d.result), (Warnings{{kError, warning}}));
            EXPECT_EQ(pane(d.result).back(),
                      (std::pair<int, std::string>{kError, "\r\n" + warning}));
        }
    }
}

// --- Source_Information and Sink_Information --------------------------------

TEST(DecoderDataSourceInformation, TemperaturesVoltageAndCurrent) {
    const Decoded d = decodeData(0x03, {0xFF, 0xFF, 0x4B, 0x00, 0x01, 0xF4, 0x00, 0x64});
    EXPECT_EQ(d.afterHeader,
              dataFrame(d, "命令: 0x03  Source_Information", "数据长度: 0x08 (8)",
                        {"当前供电设备内部温度:4B 25度", "当前供电设备USB接口温度:00 -50度",
                         "当前输出电压:01F4 5000mV", "当前输出电流:0064 1000mA <v>"}));
    EXPECT_TRUE(d.result.warnings.empty());
    EXPECT_EQ(paneText(d.result), dump(d.wire) +
                                      "\r\n当前供电设备内部温度:4B 25度"
                                      "\r\n当前供电设备USB接口温度:00 -50度"
                                      "\r\n当前输出电压:01F4 5000mV\r\n当前输出电流:0064 1000mA");
}

TEST(DecoderDataSourceInformation, SentToTheSourceWarnsAfterHeaderWarnings) {
    const std::string warning = "注意：此消息只能充电设备接收\r\n";
    const std::vector<uint8_t> body(8, 0x32);
    EXPECT_EQ(warnings(decodeData(0x03, body, 1).result), (Warnings{{kError, warning}}));
    EXPECT_EQ(warnings(decodeData(0x03, body, 1, kDPlus).result),
              (Warnings{{kError, "注意：D+线发出供电设备接收命令!\r\n"}, {kError, warning}}));
    EXPECT_TRUE(decodeData(0x03, body, 3).result.warnings.empty());
}

TEST(DecoderDataSinkInformation, TemperaturesVoltageAndCurrent) {
    const Decoded d = decodeData(0x04, {0x00, 0x00, 0x5A, 0x32, 0x0F, 0xA0, 0x01, 0x90}, 1);
    EXPECT_EQ(d.afterHeader,
              dataFrame(d, "命令: 0x04  Sink_Information", "数据长度: 0x08 (8)",
                        {"当前充电设备电池温度:5A 40度", "当前充电设备USB接口温度:32 0度",
                         "当前电池电压:0FA0 40000mV", "当前充电电流:0190 4000mA <v>"}));
    EXPECT_TRUE(d.result.warnings.empty());
    EXPECT_EQ(paneText(d.result), dump(d.wire) +
                                      "\r\n当前充电设备电池温度:5A 40度"
                                      "\r\n当前充电设备USB接口温度:32 0度"
                                      "\r\n当前电池电压:0FA0 40000mV\r\n当前充电电流:0190 4000mA");
}

TEST(DecoderDataSinkInformation, SentToTheSinkWarns) {
    const std::vector<uint8_t> body(8, 0x00);
    EXPECT_EQ(warnings(decodeData(0x04, body, 2).result),
              (Warnings{{kError, "注意：此消息只能由供电设备接收\r\n"}}));
    EXPECT_TRUE(decodeData(0x04, body, 3).result.warnings.empty());
}

// --- Cable_Information, Device_Information, Config_Watchdog -----------------

TEST(DecoderDataCableInformation, ImpedanceAndRatings) {
    const Decoded d = decodeData(0x05, {0x01, 0x02, 0x03, 0x04, 0x01, 0x23, 0x14, 0x05}, 3);
    EXPECT_EQ(d.afterHeader, dataFrame(d, "命令: 0x05  Cable_Information", "数据长度: 0x08 (8)",
                                       {"线缆阻抗:0123 291毫欧", "最大承载电压:14 20V",
                                        "最大承载电流:05 5A <v>"}));
    EXPECT_EQ(paneText(d.result), dump(d.wire) +
                                      "\r\n线缆阻抗:0123 291毫欧\r\n最大承载电压:14 20V"
                                      "\r\n最大承载电流:05 5A");
}

TEST(DecoderDataDeviceInformation, HardwareAndSoftwareVersions) {
    const Decoded d = decodeData(0x06, {0x09, 0x09, 0x09, 0x09, 0x01, 0x02, 0xAB, 0xCD});
    EXPECT_EQ(d.afterHeader,
              dataFrame(d, "命令: 0x06  Device_Information", "数据长度: 0x08 (8)",
                        {"设备硬件版本号:0102 (258)", "设备软件版本号:ABCD (43981) <v>"}));
    EXPECT_EQ(paneText(d.result),
              dump(d.wire) + "\r\n设备硬件版本号:0102 (258)\r\n设备软件版本号:ABCD (43981)");
}

TEST(DecoderDataConfigWatchdog, OverflowTime) {
    const Decoded d = decodeData(0x08, {0x03, 0xE8});
    EXPECT_EQ(d.afterHeader, dataFrame(d, "命令: 0x08  Config_Watchdog", "数据长度: 0x02 (2)",
                                       {"看门狗定时器溢出时间:03E8 1000mS <v>"}));
    EXPECT_EQ(pane(d.result),
              (Segments{{kNormal, dump(d.wire) + "\r\n配置看门狗定时器溢出时间:03E8 1000mS"}}));
}

// --- Error_Information ------------------------------------------------------

TEST(DecoderDataErrorInformation, EveryFlagIsListedOnlySetOnesAreDetailed) {
    // Bytes 0-1 and bit 7 of byte 2 carry no flag.
    const Decoded d = decodeData(0x07, {0xFF, 0xFF, 0xC1, 0x81});
    EXPECT_EQ(d.afterHeader,
              dataFrame(d, "命令: 0x07  Error_Information", "数据长度: 0x04 (4)",
                        {"看门狗:1  溢出", "CRC:0", "输入掉电:0", "漏电流:0", "输入UVP欠压保护:0",
                         "输入OVP过压保护:0", "D+OVP过压保护:1  触发", "D-OVP过压保护:1  触发",
                         "CCOVP过压保护:0", "设备内部/电池OTP过温保护:0", "USB接口OTP过温保护:0",
                         "输出SCP短路保护:0", "输出OCP过流保护:0", "输出UVP欠压保护:0",
                         "输出OVP过压保护:1  触发 <v>"}));
    EXPECT_EQ(pane(d.result),
              (Segments{{kNormal, dump(d.wire) + "\r\n看门狗:1  溢出\r\nD+OVP过压保护:1  触发"
                                                 "\r\nD-OVP过压保护:1  触发"
                                                 "\r\n输出OVP过压保护:1  触发"}}));
}

TEST(DecoderDataErrorInformation, WordsForTheOtherSetFlags) {
    const Decoded d = decodeData(0x07, {0x00, 0x00, 0x3E, 0x7E});
    EXPECT_EQ(paneText(d.result).substr(dump(d.wire).size()),
              "\r\nCRC:1  错误\r\n输入掉电:1  报错\r\n漏电流:1  超标\r\n输入UVP欠压保护:1  触发"
              "\r\n输入OVP过压保护:1  触发\r\nCCOVP过压保护:1  触发"
              "\r\n设备内部/电池OTP过温保护:1  触发\r\nUSB接口OTP过温保护:1  触发"
              "\r\n输出SCP短路保护:1  触发\r\n输出OCP过流保护:1  触发\r\n输出UVP欠压保护:1  触发");
    ASSERT_EQ(d.result.roots.size(), 6u);
    EXPECT_EQ(d.result.roots[4].children.size(), 15u);

    const Decoded clear = decodeData(0x07, {0xFF, 0xFF, 0x80, 0x00});
    EXPECT_EQ(paneText(clear.result), dump(clear.wire));
}

// --- Refuse -----------------------------------------------------------------

TEST(DecoderDataRefuse, RefusedDataCommandTestRequest) {
    // Only bits 3-0 of byte 0 and bits 2-0 of byte 1 are read.
    const Decoded d = decodeData(0x09, {0xF5, 0xF9, 0xFF, 0x05});
    EXPECT_EQ(d.afterHeader,
              dataFrame(d, "命令: 0x09  Refuse", "数据长度: 0x04 (4)",
                        {"消息编号:05 (5) ", "消息类型:01 (1) 数据",
                         "命令编号:FF (255) Test_Request", "拒绝原因:05 (5) 其它原因 <v>"}));
    EXPECT_TRUE(d.result.warnings.empty());
    EXPECT_EQ(pane(d.result),
              (Segments{{kNormal, dump(d.wire) + "\r\n拒绝消息编号:05 (5) "
                                                 "\r\n拒绝消息类型:01 (1) 数据"
                                                 "\r\n拒绝命令编号:FF (255) Test_Request"
                                                 "\r\n其它原因"}}));
}

TEST(DecoderDataRefuse, RefusedCommandIsNamedByItsType) {
    const std::string unknown = "注意：拒绝命令编号无法识别！\r\n";
    struct Case {
        uint8_t type, command;
        const char* typeItem;
        const char* commandItem;
        bool warns;
    };
    for (const Case& c :
         {Case{0, 0x00, "消息类型:00 (0) 控制", "命令编号:00 (0) Ping", false},
          Case{0, 0x0F, "消息类型:00 (0) 控制", "命令编号:0F (15) Exit_UFCS_Mode", false},
          Case{0, 0x10, "消息类型:00 (0) 控制", "命令编号:10 (16) ", true},
          Case{1, 0x01, "消息类型:01 (1) 数据", "命令编号:01 (1) Output_Capabilities", false},
          Case{1, 0x0C, "消息类型:01 (1) 数据", "命令编号:0C (12) Power_Change", false},
          Case{1, 0x00, "消息类型:01 (1) 数据", "命令编号:00 (0) ", true},
          Case{1, 0x0D, "消息类型:01 (1) 数据", "命令编号:0D (13) ", true},
          Case{1, 0xFE, "消息类型:01 (1) 数据", "命令编号:FE (254) ", true},
          Case{2, 0x33, "消息类型:02 (2) 自定义", "命令编号:33 (51) ", false},
          Case{2, 0xFF, "消息类型:02 (2) 自定义", "命令编号:FF (255) ", false}}) {
        SCOPED_TRACE(c.commandItem);
        const Decoded d = decodeData(0x09, {0x01, c.type, c.command, 0x02});
        ASSERT_EQ(d.result.roots.size(), 6u);
        const auto& fields = d.result.roots[4].children;
        ASSERT_EQ(fields.size(), 4u);
        EXPECT_EQ(fields[1].text, c.typeItem);
        EXPECT_EQ(fields[2].text, c.commandItem);
        EXPECT_EQ(fields[3].text, "拒绝原因:02 (2) 不支持的命令或数据");
        EXPECT_EQ(warnings(d.result), (c.warns ? Warnings{{kError, unknown}} : Warnings{}));
    }
}

TEST(DecoderDataRefuse, ReasonNamesEndAtFive) {
    const char* names[6] = {"",
                            "无法识别的命令或数据",
                            "不支持的命令或数据",
                            "设备忙，暂无法响应",
                            "请求的输出电压、电流或功率超出范围",
                            "其它原因"};
    for (unsigned reason : {0u, 1u, 3u, 4u, 5u, 6u, 0xFFu}) {
        SCOPED_TRACE(reason);
        const Decoded d = decodeData(0x09, {0x01, 0x00, 0x01, static_cast<uint8_t>(reason)});
        ASSERT_EQ(d.result.roots.size(), 6u);
        const std::string name = reason <= 5 ? names[reason] : "";
        EXPECT_EQ(d.result.roots[4].children.at(3).text,
                  "拒绝原因:" + hex2(reason) + " (" + std::to_string(reason) + ") " + name);
        EXPECT_EQ(warnings(d.result),
                  (reason <= 5 ? Warnings{} : Warnings{{kError, "注意：拒绝原因无法识别！\r\n"}}));
    }
}

TEST(DecoderDataRefuse, UnknownRefusedTypeWarnsBeforeTheReason) {
    const Decoded d = decodeData(0x09, {0x02, 0x07, 0x01, 0x09});
    ASSERT_EQ(d.result.roots.size(), 6u);
    EXPECT_EQ(d.result.roots[4].children.at(1).text, "消息类型:07 (7) ");
    ASSERT_GE(d.result.warnings.size(), 2u);
    EXPECT_EQ(warnings(d.result).front(),
              (std::pair<int, std::string>{kError, "注意：拒绝消息类型无法识别！\r\n"}));
    EXPECT_EQ(warnings(d.result).back(),
              (std::pair<int, std::string>{kError, "注意：拒绝原因无法识别！\r\n"}));
}

// --- Verify_Request and Verify_Response -------------------------------------

TEST(DecoderDataVerifyRequest, KeyIndexAndRandomData) {
    std::vector<uint8_t> body = {0x03};
    for (uint8_t i = 0; i < 16; ++i)
        body.push_back(static_cast<uint8_t>(0xF0 + i));
    const Decoded d = decodeData(0x0A, body);
    const std::string random = "随机数据:F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF ";
    EXPECT_EQ(d.afterHeader, dataFrame(d, "命令: 0x0A  Verify_Request", "数据长度: 0x11 (17)",
                                       {"密钥编号:03 (3) ", random + " <v>"}));
    EXPECT_EQ(paneText(d.result), dump(d.wire) + "\r\n密钥编号:03 (3) \r\n" + random);
}

TEST(DecoderDataVerifyResponse, EncryptedAndRandomData) {
    std::vector<uint8_t> body;
    for (uint8_t i = 0; i < 48; ++i)
        body.push_back(i);
    const Decoded d = decodeData(0x0B, body);
    const std::string encrypted =
        "加密数据:00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F "
        "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F ";
    const std::string random = "随机数据:20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F ";
    EXPECT_EQ(d.afterHeader, dataFrame(d, "命令: 0x0B  Verify_Response", "数据长度: 0x30 (48)",
                                       {encrypted, random + " <v>"}));
    EXPECT_EQ(paneText(d.result), dump(d.wire) + "\r\n" + encrypted + "\r\n" + random);
}

// --- Power_Change -----------------------------------------------------------

TEST(DecoderDataPowerChange, ModesWithMaximumCurrents) {
    const Decoded d = decodeData(0x0C, {0x10, 0x01, 0x2C, 0x2F, 0x00, 0xC8});
    EXPECT_EQ(d.afterHeader,
              dataFrame(d, "命令: 0x0C  Power_Change", "数据长度: 0x06 (6)",
                        {"输出模式1: 10 01 2C  <v>", "  输出模式编号:01 1",
                         "  最大输出电流:012C 3000mA <v>", "输出模式2: 2F 00 C8  <v>",
                         "  输出模式编号:02 2", "  最大输出电流:00C8 2000mA <v>"}));
    EXPECT_TRUE(d.result.warnings.empty());
    EXPECT_EQ(pane(d.result),
              (Segments{{kNormal, dump(d.wire) + "\r\n功率改变:\r\n"
                                                 "输出模式1: 最大输出电流 3000mA\r\n"
                                                 "输出模式2: 最大输出电流 2000mA\r\n"}}));
}

TEST(DecoderDataPowerChange, ModeNumbersMustCountUpFromOne) {
    const Decoded repeated =
        decodeData(0x0C, {0x10, 0x00, 0x64, 0x10, 0x00, 0x64, 0x30, 0x00, 0x64});
    EXPECT_EQ(warnings(repeated.result), (Warnings{{kError, "注意：输出模式编号不符!\r\n"}}));

    std::vector<uint8_t> seven;
    for (uint8_t i = 1; i <= 7; ++i)
        seven.insert(seven.end(), {static_cast<uint8_t>(i << 4), 0x00, 0x0A});
    const Decoded d = decodeData(0x0C, seven);
    EXPECT_TRUE(d.result.warnings.empty());
    ASSERT_EQ(d.result.roots.size(), 6u);
    ASSERT_EQ(d.result.roots[4].children.size(), 7u);
    EXPECT_EQ(d.result.roots[4].children[6].text, "输出模式7: 70 00 0A ");
    EXPECT_EQ(d.result.roots[4].children[6].children.at(1).text, "最大输出电流:000A 100mA");
}

// --- Test_Request -----------------------------------------------------------

TEST(DecoderDataTestRequest, FlagsAddressTypeAndCommand) {
    const Decoded d = decodeData(0xFF, {0xD9, 0x05});
    EXPECT_EQ(d.afterHeader,
              dataFrame(d, "命令: 0xFF  Test_Request", "数据长度: 0x02 (2)",
                        {"测试模式:1 使能", "电压精度测试模式:1 使能", "设备地址:03 (3) ",
                         "消息类型:数据", "命令编号:05 (5)  <v>"}));
    EXPECT_TRUE(d.result.warnings.empty());
    EXPECT_EQ(paneText(d.result), dump(d.wire) +
                                      "\r\n测试模式:1 使能\r\n电压精度测试模式:1 使能"
                                      "\r\n设备地址:03 (3) \r\n消息类型:数据\r\n命令编号:05 (5) ");
}

TEST(DecoderDataTestRequest, AnyLengthIsAcceptedAndUnknownTypesHaveNoName) {
    const Decoded d = decodeData(0xFF, {0x3B, 0xFF, 0x77});
    EXPECT_TRUE(d.result.warnings.empty());
    ASSERT_EQ(d.result.roots.size(), 6u);
    EXPECT_EQ(outline(d.result.roots[4].children),
              (Lines{"测试模式:0 关闭", "电压精度测试模式:0 关闭", "设备地址:07 (7) ",
                     "消息类型:", "命令编号:FF (255)  <v>"}));

    // With no data bytes the fields hang under the data-length item.
    const Decoded empty = decodeData(0xFF, {});
    EXPECT_TRUE(empty.result.warnings.empty());
    ASSERT_EQ(empty.result.roots.size(), 5u);
    EXPECT_EQ(empty.result.roots[3].text, "数据长度: 0x00 (0)");
    EXPECT_EQ(empty.result.roots[3].children.size(), 5u);
    EXPECT_EQ(empty.result.roots[3].children.back().text, "命令编号:00 (0) ");
    EXPECT_TRUE(empty.result.roots[3].children.back().visible);
}

// --- Commands without a name or layout --------------------------------------

TEST(DecoderDataUnknownCommand, UnknownCommandsWarnAndShowOnlyTheRawData) {
    for (uint8_t command : {0x00, 0x0D, 0x80, 0xFE}) {
        SCOPED_TRACE(hex2(command));
        const Decoded d = decodeData(command, {0x01, 0x02, 0x03});
        EXPECT_EQ(d.afterHeader,
                  dataFrame(d, "命令: 0x" + hex2(command) + "  ", "数据长度: 0x03 (3)", {}));
        EXPECT_EQ(warnings(d.result), (Warnings{{kError, "注意：数据命令无法识别!\r\n"}}));
        EXPECT_EQ(pane(d.result),
                  (Segments{{kNormal, dump(d.wire)}, {kError, "\r\n注意：数据命令无法识别!\r\n"}}));
    }
}

// As a clicked row: the row builder compares the CRC, the decoder reports it.
TEST(DecoderDataCrc, ComparedWheneverCapturedWhateverElseIsWrong) {
    struct Case {
        const char* what;
        std::vector<uint8_t> wire;
        bool crcWarning;
    };
    auto wire = [](uint8_t command, const std::vector<uint8_t>& body) {
        return encodeDataMessage(DeviceAddress::Sink, 3, command, body);
    };
    auto corrupt = [](std::vector<uint8_t> w) {
        w.back() ^= 0x5A;
        return w;
    };
    auto longer = [](std::vector<uint8_t> w) {
        w.push_back(0x00);
        return w;
    };
    const std::vector<Case> cases = {
        {"command 0, right CRC", wire(0x00, {}), false},
        {"command 0, bad CRC", corrupt(wire(0x00, {})), true},
        {"Request too short, bad CRC", corrupt(wire(0x02, {0x10, 0, 0, 0})), true},
        {"Request with a trailing byte, bad CRC",
         longer(corrupt(wire(0x02, {0x10, 0, 0, 0, 0x08, 0x34, 0x01, 0x2C}))), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestRecord record = makeRecord(kPlain, c.wire);
        BuildListRow(record.view(), kIndex);
        const DecodeResult result = decodeRecord(record.view(), kIndex);
        char expected[64];
        std::snprintf(expected, sizeof expected, "注意：校验码错误！应为：0x%.2x\r\n",
                      record.view().computedCrc());
        bool shown = false;
        for (const Warning& w : result.warnings)
            shown = shown || (w.severity == Severity::Error && w.text == expected);
        EXPECT_EQ(shown, c.crcWarning);
    }
}

}  // namespace
}  // namespace ufcs
