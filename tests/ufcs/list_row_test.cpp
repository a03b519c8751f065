// Message-list rows: fault bits, computed CRC, colour and column texts of every record kind.

#include "ufcs/list_row.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "ufcs/record_builder.h"
#include "ufcs/wire_format.h"

namespace ufcs {
namespace {

using test::fillRecord;
using test::makeRecord;
using test::TestRecord;

constexpr uint8_t kPlain = 0;  // message kind without a line check
constexpr uint8_t kDPlus = 1;
constexpr uint8_t kDMinus = 2;
constexpr uint8_t kClean = kFirstPageMarker;  // status byte of a record without faults

constexpr DataCheck kOk = DataCheck::WellFormed;
constexpr DataCheck kBad = DataCheck::Malformed;

constexpr uint32_t kControlSource = rgb(220, 220, 0);
constexpr uint32_t kGreen = rgb(50, 200, 50);
constexpr uint32_t kCable = rgb(0, 250, 200);
constexpr uint32_t kDataSource = rgb(180, 220, 180);

constexpr DeviceAddress kSource = DeviceAddress::Source;
constexpr DeviceAddress kSink = DeviceAddress::Sink;
constexpr DeviceAddress kNoAddress = static_cast<DeviceAddress>(0);
constexpr DeviceAddress kAddress4 = static_cast<DeviceAddress>(4);

std::vector<uint8_t> control(DeviceAddress to, uint8_t command) {
    return encodeControlMessage(to, 3, command);
}
std::vector<uint8_t> data(DeviceAddress to, uint8_t command, const std::vector<uint8_t>& body) {
    return encodeDataMessage(to, 3, command, body);
}
std::vector<uint8_t> corruptCrc(std::vector<uint8_t> wire) {
    if (!wire.empty()) wire.back() ^= 0x5A;
    return wire;
}
std::vector<uint8_t> withTrailingByte(std::vector<uint8_t> wire) {
    wire.push_back(0x00);
    return wire;
}

ListRow build(TestRecord& record) {
    return BuildListRow(record.view(), 7);
}

// A Request for mode 1 at 21.00 V (0x0834) and 3.00 A (0x012C).
const std::vector<uint8_t> kRequestBody = {0x10, 0, 0, 0, 0x08, 0x34, 0x01, 0x2C};

TEST(ListRowControl, ReceiverChoosesColourAndNames) {
    struct Case {
        DeviceAddress to;
        uint32_t colour;
        const char* receiver;
    };
    for (const Case& c :
         {Case{kSource, kControlSource, "供电设备"}, Case{kSink, kGreen, "充电设备"},
          Case{DeviceAddress::Cable, kCable, "线缆"}}) {
        SCOPED_TRACE(c.receiver);
        const auto wire = control(c.to, 0x05);
        TestRecord record = makeRecord(kPlain, wire);
        const ListRow row = build(record);
        EXPECT_EQ(row.colour, c.colour);
        EXPECT_EQ(record.view().rowColour(), c.colour);
        EXPECT_EQ(record.bytes[0], kClean);
        EXPECT_EQ(record.bytes[1], wire.back());
        EXPECT_EQ(row.columns[0], " 7");
        EXPECT_EQ(row.columns[1], "控制");
        EXPECT_EQ(row.columns[2], c.receiver);
        EXPECT_EQ(row.columns[3], "Power_Ready");
        EXPECT_EQ(row.columns[4], "电压调整完毕");
    }
    TestRecord nck = makeRecord(kPlain, control(kSource, 0x02));
    EXPECT_EQ(build(nck).columns[4], "接收错误");
    // Command 0x10 has no names; receiver 4 has none either.
    TestRecord unnamed = makeRecord(kPlain, control(kAddress4, 0x10));
    const ListRow row = build(unnamed);
    EXPECT_EQ(row.columns[1], "控制");
    EXPECT_EQ(row.columns[2], "");
    EXPECT_EQ(row.columns[3], "");
    EXPECT_EQ(row.columns[4], "");
}

TEST(ListRowControl, CrcIsComputedOverTheHeaderAndCommand) {
    // Ping to the source, message number 0: CRC-8 of 20 08 00 is 0x63.
    TestRecord good = makeRecord(kPlain, {0xAA, 0x20, 0x08, 0x00, 0x63});
    EXPECT_EQ(build(good).colour, kControlSource);
    EXPECT_EQ(good.bytes[0], kClean);
    EXPECT_EQ(good.bytes[1], 0x63);

    TestRecord bad = makeRecord(kPlain, {0xAA, 0x20, 0x08, 0x00, 0x64});
    EXPECT_EQ(build(bad).colour, kColourFault);
    EXPECT_EQ(bad.bytes[0], kClean | kCrcError);
    EXPECT_EQ(bad.bytes[1], 0x63);
}

// One case per fault check of the row builder: the bits it sets and the colour that wins.
struct FaultCase {
    const char* what;
    uint8_t kind;
    std::vector<uint8_t> wire;
    uint8_t status;
    uint32_t colour;
    uint16_t shortBy = 0;  // bytes left out of the captured length; they stay in the slot
};

void expectFaults(const std::vector<FaultCase>& cases) {
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        TestRecord record = makeRecord(c.kind, c.wire);
        record.setByteCount(static_cast<uint16_t>(c.wire.size() - c.shortBy));
        EXPECT_EQ(build(record).colour, c.colour);
        EXPECT_EQ(record.bytes[0], c.status);
    }
}

TEST(ListRowControl, FaultsSetStatusBitsAndColour) {
    const auto ack = control(kSink, 0x01);
    const auto ackToSource = control(kSource, 0x01);
    expectFaults({
        {"four bytes", kPlain, ack, kClean | kLengthError, kColourFault, 1},
        {"six bytes", kPlain, withTrailingByte(ack), kClean | kLengthError, kColourTooLong},
        {"six bytes, bad CRC", kPlain, withTrailingByte(corruptCrc(ack)), kClean | kCrcError,
         kColourFault},
        {"NCK", kPlain, control(kSource, 0x02), kClean, kColourRefusal},
        {"NCK, bad CRC", kPlain, corruptCrc(control(kSource, 0x02)), kClean | kCrcError,
         kColourFault},
        {"command 0x10", kPlain, control(kSink, 0x10), kClean, kColourFault},
        {"command 0x10, six bytes", kPlain, withTrailingByte(control(kSink, 0x10)), kClean,
         kColourFault},
        {"D- to the sink", kDMinus, ack, kClean, kColourFault},
        {"D+ to the source", kDPlus, ackToSource, kClean, kColourFault},
        {"D+ to the sink", kDPlus, ack, kClean, kGreen},
        {"D- to the source", kDMinus, ackToSource, kClean, kControlSource},
        {"kind 3 to the sink", 3, ack, kClean, kGreen},
        {"receiver 0", kPlain, control(kNoAddress, 0x01), kClean, kColourFault},
        {"receiver 4, six bytes", kPlain, withTrailingByte(control(kAddress4, 0x01)), kClean,
         kColourFault},
    });
}

TEST(ListRowData, RowTexts) {
    const auto request = data(kSource, 0x02, kRequestBody);
    TestRecord record = makeRecord(kDMinus, request);
    ListRow row = build(record);
    EXPECT_EQ(record.bytes[1], request.back());
    EXPECT_EQ(row.columns[1], "数据");
    EXPECT_EQ(row.columns[2], "供电设备");
    EXPECT_EQ(row.columns[3], "Request");
    EXPECT_EQ(row.columns[4], "请求 电压：21.000V 电流：3.000A");

    struct Case {
        uint8_t command;
        std::vector<uint8_t> body;
        const char* message;
        const char* summary;
    };
    for (const Case& c : {Case{0x09, {0x03, 0x00, 0x01, 0x02}, "Refuse", "拒绝"},
                          Case{0x05, std::vector<uint8_t>(8, 1), "Cable_Information", "电缆信息"},
                          Case{0xFF, {0x80, 0x01}, "Test_Request", "测试请求"},
                          Case{0x00, {}, "无法解析", ""}, Case{0x0D, {0x01}, "无法解析", ""}}) {
        TestRecord other = makeRecord(kPlain, data(kSink, c.command, c.body));
        row = build(other);
        EXPECT_EQ(row.columns[1], "数据");
        EXPECT_EQ(row.columns[3], c.message);
        EXPECT_EQ(row.columns[4], c.summary);
    }
}

TEST(ListRowData, FaultsSetStatusBitsAndColour) {
    const std::vector<uint8_t> cable(8, 1);
    const auto request = data(kSink, 0x02, kRequestBody);
    expectFaults({
        {"to the source", kPlain, data(kSource, 0x05, cable), kClean, kDataSource},
        {"to the sink", kPlain, data(kSink, 0x05, cable), kClean, kGreen},
        {"to the cable", kPlain, data(DeviceAddress::Cable, 0x05, cable), kClean, kCable},
        {"to receiver 0", kPlain, data(kNoAddress, 0x05, cable), kClean, kColourFault},
        {"to receiver 4", kPlain, data(kAddress4, 0x05, cable), kClean, kColourFault},
        // Data messages have no line check of their own.
        {"D+ to the source", kDPlus, data(kSource, 0x05, cable), kClean, kDataSource},
        {"bad CRC", kPlain, corruptCrc(request), kClean | kCrcError, kColourFault},
        // Command 0 is undefined: an unknown command whose CRC is compared as any other.
        {"command 0", kPlain, data(kSink, 0x00, {}), kClean, kColourFault},
        {"command 0, bad CRC", kPlain, corruptCrc(data(kSink, 0x00, {})), kClean | kCrcError,
         kColourFault},
        {"unknown command", kPlain, data(kSink, 0x0D, {0x01}), kClean, kColourFault},
        {"unknown command, bad CRC", kPlain, corruptCrc(data(kSink, 0x0D, {0x01})),
         kClean | kCrcError, kColourFault},
        // The CRC is compared whenever it was captured, whatever else is wrong.
        {"bad field and bad CRC", kPlain, corruptCrc(data(kSink, 0x02, {0x10, 0, 0, 0})),
         kClean | kCrcError, kColourFault},
        {"one byte long, bad CRC", kPlain, withTrailingByte(corruptCrc(request)),
         kClean | kCrcError, kColourFault},
        {"one byte short: no CRC captured", kPlain, corruptCrc(request), kClean, kColourFault, 1},
        {"one byte long", kPlain, withTrailingByte(request), kClean, kColourTooLong},
        {"Request with four data bytes", kPlain, data(kSink, 0x02, {0x10, 0, 0, 0}), kClean,
         kColourFault},
        {"Refuse", kPlain, data(kSink, 0x09, {0x03, 0x00, 0x01, 0x02}), kClean, kColourRefusal},
        {"Refuse, reason 6", kPlain, data(kSink, 0x09, {0x03, 0x00, 0x01, 0x06}), kClean,
         kColourFault},
        {"Refuse, bad CRC", kPlain, corruptCrc(data(kSink, 0x09, {0x03, 0x00, 0x01, 0x02})),
         kClean | kCrcError, kColourFault},
        {"Refuse, one byte long", kPlain,
         withTrailingByte(data(kSink, 0x09, {0x03, 0x00, 0x01, 0x02})), kClean, kColourTooLong},
    });
}

// Builds a data-message record and runs the structural check on it.
DataCheckResult check(uint8_t command, const std::vector<uint8_t>& body, uint8_t kind = kPlain,
                      DeviceAddress to = kSource) {
    const TestRecord record = makeRecord(kind, data(to, command, body));
    return DataMessageCheck(record.view());
}

// `count` mode records of `stride` bytes, numbered from `first`.
std::vector<uint8_t> modes(unsigned count, unsigned stride, unsigned first = 1) {
    std::vector<uint8_t> body;
    for (unsigned i = 0; i < count; ++i) {
        body.push_back(static_cast<uint8_t>((first + i) << 4));
        body.insert(body.end(), stride - 1, 0x01);
    }
    return body;
}

TEST(ListRowDataCheck, EachCommandAcceptsItsLengthAndRejectsAnother) {
    struct Case {
        uint8_t command;
        std::vector<uint8_t> body;
    };
    const std::vector<Case> cases = {{0x01, modes(1, 8)},
                                     {0x02, kRequestBody},
                                     {0x03, std::vector<uint8_t>(8, 0x4B)},
                                     {0x04, std::vector<uint8_t>(8, 0x4B)},
                                     {0x05, std::vector<uint8_t>(8, 1)},
                                     {0x06, std::vector<uint8_t>(8, 1)},
                                     {0x07, {0, 0, 0x40, 0x01}},
                                     {0x08, {0x03, 0xE8}},
                                     {0x09, {0x03, 0x01, 0xFF, 0x05}},
                                     {0x0A, std::vector<uint8_t>(17, 2)},
                                     {0x0B, std::vector<uint8_t>(48, 3)},
                                     {0x0C, modes(1, 3)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "command " << int(c.command));
        const DataCheckResult good = check(c.command, c.body);
        EXPECT_EQ(good.verdict, kOk);

        std::vector<uint8_t> longer = c.body;
        longer.push_back(0x10);
        const DataCheckResult bad = check(c.command, longer);
        EXPECT_EQ(bad.verdict, kBad);
    }
}

TEST(ListRowDataCheck, CapturedLengthAndCommand) {
    TestRecord record = makeRecord(kPlain, data(kSource, 0x08, {0x03, 0xE8}));
    record.setByteCount(7);
    EXPECT_EQ(DataMessageCheck(record.view()).verdict, kBad);
    record.setByteCount(9);
    const DataCheckResult tooLong = DataMessageCheck(record.view());
    EXPECT_EQ(tooLong.verdict, DataCheck::TooLong);
    // An unknown command is judged before the length.
    TestRecord unknown = makeRecord(kPlain, withTrailingByte(data(kSource, 0x0D, {})));
    EXPECT_EQ(DataMessageCheck(unknown.view()).verdict, kBad);

    // Test_Request takes any length; command 0 is unknown.
    for (const std::vector<uint8_t>& body :
         {std::vector<uint8_t>{}, std::vector<uint8_t>{0x80, 0x01, 0x02}}) {
        EXPECT_EQ(check(0xFF, body).verdict, kOk);
    }
    EXPECT_EQ(check(0x00, {0x01, 0x02}).verdict, kBad);
}

TEST(ListRowDataCheck, CommandRules) {
    std::vector<uint8_t> step4 = modes(1, 8), step5 = modes(1, 8), swapped = modes(2, 3);
    step4[0] = 0x19;  // current step code 4, 20 mV voltage step
    step5[0] = 0x1A;  // current step code 5 is reserved
    std::swap(swapped[0], swapped[3]);
    std::vector<uint8_t> mode7 = kRequestBody, mode8 = kRequestBody;
    mode7[0] = 0x70;
    mode8[0] = 0x80;
    const std::vector<uint8_t> info(8, 0x4B);
    auto refuse = [](uint8_t type, uint8_t command, uint8_t reason) {
        return std::vector<uint8_t>{0x03, type, command, reason};
    };
    struct Case {
        const char* what;
        uint8_t command;
        std::vector<uint8_t> body;
        DataCheck verdict;
        uint8_t kind = kPlain;
        DeviceAddress to = kSource;
    };
    const std::vector<Case> cases = {
        {"7 output modes", 0x01, modes(7, 8), kOk},
        {"8 output modes", 0x01, modes(8, 8), kBad},
        {"no output mode", 0x01, {}, kBad},
        {"modes from 2", 0x01, modes(2, 8, 2), kBad},
        {"step code 4", 0x01, step4, kOk},
        {"step code 5", 0x01, step5, kBad},
        {"7 power modes", 0x0C, modes(7, 3), kOk},
        {"8 power modes", 0x0C, modes(8, 3), kBad},
        {"no power mode", 0x0C, {}, kBad},
        {"power modes 2, 1", 0x0C, swapped, kBad},
        {"request mode 7", 0x02, mode7, kOk},
        {"request mode 8", 0x02, mode8, kBad},
        {"source info on D+", 0x03, info, kOk, kDPlus},
        {"source info on D-", 0x03, info, kBad, kDMinus},
        {"sink info on D-", 0x04, info, kOk, kDMinus},
        {"sink info on D+", 0x04, info, kBad, kDPlus},
        {"sink info to the sink", 0x04, info, kBad, kPlain, kSink},
        {"refuse control 15", 0x09, refuse(0, 15, 5), kOk},
        {"refuse control 16", 0x09, refuse(0, 16, 1), kBad},
        {"refuse data 12", 0x09, refuse(1, 12, 1), kOk},
        {"refuse data 0xFF", 0x09, refuse(1, 0xFF, 1), kOk},
        {"refuse data 13", 0x09, refuse(1, 13, 1), kBad},
        {"refuse vendor", 0x09, refuse(2, 0x80, 1), kOk},
        {"refuse type 3", 0x09, refuse(3, 0, 1), kBad},
        {"refuse reason 6", 0x09, refuse(0, 1, 6), kBad},
    };
    for (const Case& c : cases)
        EXPECT_EQ(check(c.command, c.body, c.kind, c.to).verdict, c.verdict) << c.what;
}

TEST(ListRowVendor, WellFormedMessageShowsItsVendorId) {
    // Vendor 0x12AB to the source, one data byte: CRC-8 of 20 0A 12 AB 01 55 is 0xD6.
    TestRecord record = makeRecord(kPlain, {0xAA, 0x20, 0x0A, 0x12, 0xAB, 0x01, 0x55, 0xD6});
    const ListRow row = build(record);
    EXPECT_EQ(row.colour, kColourVendor);
    EXPECT_EQ(record.bytes[0], kClean);
    EXPECT_EQ(record.bytes[1], 0xD6);
    EXPECT_EQ(row.columns[1], "厂商");
    EXPECT_EQ(row.columns[2], "供电设备");
    EXPECT_EQ(row.columns[3], "厂商自定");
    EXPECT_EQ(row.columns[4], "ID:0x12AB");

    // No receiver colour: an invalid address keeps the vendor colour.
    TestRecord noAddress = makeRecord(kPlain, encodeVendorMessage(kNoAddress, 1, 0x0001, {}));
    EXPECT_EQ(build(noAddress).colour, kColourVendor);
}

TEST(ListRowVendor, FaultsSetStatusBitsAndColour) {
    const auto wire = encodeVendorMessage(kSink, 2, 0x5A5A, std::vector<uint8_t>{1, 2, 3});
    TestRecord badCrc = makeRecord(kPlain, corruptCrc(wire));
    build(badCrc);
    EXPECT_EQ(badCrc.bytes[1], wire.back());
    expectFaults({
        {"bad CRC, one byte long", kPlain, withTrailingByte(corruptCrc(wire)), kClean | kCrcError,
         kColourFault},
        {"one byte short", kPlain, wire, kClean | kLengthError, kColourFault, 1},
        {"one byte long", kPlain, withTrailingByte(wire), kClean | kLengthError, kColourTooLong},
        // Addressed to the sender of its line: a fault, and the length is then not judged.
        {"D- to the sink, one byte long", kDMinus, withTrailingByte(wire), kClean, kColourFault},
        {"D+ to the sink", kDPlus, wire, kClean, kColourVendor},
    });
}

TEST(ListRowOtherTypes, TypesThreeToSevenCannotBeParsed) {
    for (uint8_t type = 3; type <= 7; ++type) {
        TestRecord record = makeRecord(
            kPlain, {0xAA, 0x40, static_cast<uint8_t>(0x08 | type), 0x01, 0x00}, kBaud19200);
        const ListRow row = build(record);
        EXPECT_EQ(row.colour, kColourFault) << int(type);
        EXPECT_EQ(row.columns[1], "");
        EXPECT_EQ(row.columns[2], "充电设备");
        EXPECT_EQ(row.columns[3], "无法解析");
        EXPECT_EQ(row.columns[4], "");
        EXPECT_EQ(row.columns[7], "19200");
    }
}

TEST(ListRowEvents, EventKindsTakeTextsAndColourFromTheirKind) {
    struct Case {
        uint8_t kind;
        const char* message;
        const char* summary;
        uint32_t colour;
    };
    const uint32_t yellow = rgb(220, 220, 0);
    for (const Case& c : {Case{0xF0, "握手", "D+ 握手信号", kGreen},
                          Case{0xF1, "握手应答", "供电设备应答握手信号", kGreen},
                          Case{0xF2, "握手", "D- 握手信号", yellow},
                          Case{0xF3, "握手应答", "充电设备回复握手信号", yellow},
                          Case{0xF4, "复位信号", "D+发出充电设备硬件复位命令", yellow},
                          Case{0xF5, "复位信号", "D-发出供电设备硬件复位命令", yellow},
                          Case{0xF6, "复位信号", "D+发出线缆硬件复位命令", yellow},
                          Case{0xF7, "复位信号", "D-发出线缆硬件复位命令", yellow},
                          Case{0x16, "解码错误", "D+线 解码错误", kColourFault},
                          Case{0x17, "解码错误", "D-线 解码错误", kColourFault},
                          Case{0x40, "", "", kColourUnknown}, Case{0xFF, "", "", kColourUnknown}}) {
        SCOPED_TRACE(testing::Message() << "kind " << int(c.kind));
        // Leftover message bytes in the slot must not leak into the event row.
        TestRecord record = makeRecord(c.kind, data(kSink, 0x02, kRequestBody), kBaud115200, 12340);
        record.setTime(360, 0);
        const ListRow row = build(record);
        EXPECT_EQ(row.colour, c.colour);
        EXPECT_EQ(record.view().rowColour(), c.colour);
        EXPECT_EQ(record.view().byteCount(), 0);
        EXPECT_EQ(record.bytes[0], kClean);
        EXPECT_EQ(row.columns[1], "");
        EXPECT_EQ(row.columns[3], c.message);
        EXPECT_EQ(row.columns[4], c.summary);
        EXPECT_EQ(row.columns[5], "12.34");
        EXPECT_EQ(row.columns[6], "1:00:00.000");
        EXPECT_EQ(row.columns[7], "");
    }
}

// A capture header record as listening writes it: mode, uncalibrated flag, ranges, refusals.
TestRecord header(uint8_t mode, uint8_t uncalibrated, bool refusePing, bool refuseAck) {
    TestRecord record;
    record.bytes[0] = mode;
    record.bytes[1] = uncalibrated;
    record.bytes[2] = 0xF8;
    record.setByteCount(0x1234);
    record.setVoltage(0x0BB8);
    common::writeLe16(record.bytes.data() + 12, 5000);
    record.bytes[14] = refusePing ? 1 : 0;
    record.bytes[15] = refuseAck ? 1 : 0;
    record.setTime(360, 0);
    return record;
}

TEST(ListRowHeader, SummaryNamesModeRefusalsAndCalibration) {
    struct Case {
        TestRecord record;
        const char* summary;
    };
    for (Case& c :
         std::vector<Case>{{header(1, 1, false, false), "说明：本次测试 监听模式 未校准电流 "},
                           {header(2, 0, true, true), "说明：本次测试 充电模式 拒收ACK 拒收Ping "},
                           {header(1, 0, true, false), "说明：本次测试 监听模式 拒收Ping "},
                           {header(3, 2, false, true), "说明：本次测试 拒收ACK "}}) {
        const TestRecord before = c.record;
        const ListRow row = build(c.record);
        EXPECT_EQ(row.columns[4], c.summary);
        EXPECT_EQ(row.colour, kColourHeader);
        EXPECT_EQ(row.columns[3], "");
        EXPECT_EQ(row.columns[5], "");
        EXPECT_EQ(row.columns[6], "");
        EXPECT_EQ(row.columns[7], "");
        EXPECT_EQ(c.record.view().byteCount(), 0);
        // Mode and calibration flag live in bytes 0 and 1; building the row keeps them.
        EXPECT_EQ(c.record.bytes[0], before.bytes[0]);
        EXPECT_EQ(c.record.bytes[1], before.bytes[1]);
    }
}

TEST(ListRowHeader, DeviceRangesComeOnlyFromTheHeader) {
    const TestRecord record = header(1, 0, false, false);
    EXPECT_EQ(headerDeviceRanges(record.view()), (DeviceRanges{0x0BB8, 5000}));
    EXPECT_EQ(headerDeviceRanges(makeRecord(0xF0, {}).view()), std::nullopt);
    EXPECT_EQ(headerDeviceRanges(makeRecord(kPlain, control(kSink, 0)).view()), std::nullopt);
}

TEST(ListRowText, TimeVoltageAndBaudColumns) {
    EXPECT_EQ(timeText(360, 0), "1:00:00.000");
    EXPECT_EQ(timeText(0, 5), "0:00:00.001");
    EXPECT_EQ(timeText(0, 4), "0:00:00.000");
    EXPECT_EQ(timeText(6, 0), "0:01:00.000");
    EXPECT_EQ(timeText(0, 49999), "0:00:09.999");
    EXPECT_EQ(timeText(65535, 49999), "182:02:39.999");  // beyond 32 bits of 0.1 ms

    EXPECT_EQ(voltageText(0), "0.00");
    EXPECT_EQ(voltageText(5000), "5.00");
    EXPECT_EQ(voltageText(20123), "20.12");
    EXPECT_EQ(voltageText(9), "0.01");

    EXPECT_EQ(baudText(0x73), "115200");
    EXPECT_EQ(baudText(0x39), "57600");
    EXPECT_EQ(baudText(0x26), "38400");
    EXPECT_EQ(baudText(0x13), "19200");
    EXPECT_EQ(baudText(0x00), "");
    EXPECT_EQ(baudText(0x74), "");

    TestRecord record = makeRecord(kPlain, control(kSink, 0x01), kBaud57600, 9000);
    record.setTime(0, 5);
    const ListRow row = build(record);
    EXPECT_EQ(row.columns[5], "9.00");
    EXPECT_EQ(row.columns[6], "0:00:00.001");
    EXPECT_EQ(row.columns[7], "57600");
    TestRecord oddBaud = makeRecord(kPlain, control(kSink, 0x01), 0x20);
    EXPECT_EQ(build(oddBaud).columns[7], "");
}

TEST(ListRowRewrites, OnlyStatusCrcEventLengthAndColourChangeAndRebuildingIsStable) {
    const std::vector<std::vector<uint8_t>> wires = {
        withTrailingByte(corruptCrc(control(kSink, 0x01))),
        data(kSource, 0x02, kRequestBody),
        encodeVendorMessage(kSink, 1, 0x1234, std::vector<uint8_t>{7, 8}),
        {0xAA, 0x40, 0x0B, 0x00, 0x00},
        control(kSink, 0x00)};
    const std::vector<uint8_t> kinds = {kPlain, kDPlus, kPlain, kPlain, 0xF4};
    for (std::size_t i = 0; i < wires.size(); ++i) {
        SCOPED_TRACE(i);
        TestRecord record;
        for (std::size_t b = 0; b < kRecordSize; ++b)
            record.bytes[b] = static_cast<uint8_t>(b * 37 + 11);
        fillRecord(record, kinds[i], wires[i]);
        const TestRecord before = record;
        const uint32_t colour = markListRecord(record.view());
        EXPECT_EQ(record.view().rowColour(), colour);
        for (std::size_t b = 0; b < kRecordSize; ++b) {
            const bool written = b <= 1 || b == 8 || b == 9 || (b >= 312 && b < 316);
            if (!written) {
                EXPECT_EQ(record.bytes[b], before.bytes[b]) << "offset " << b;
            }
        }
        const uint16_t expectedCount = isMessageKind(kinds[i]) ? before.view().byteCount() : 0;
        EXPECT_EQ(record.view().byteCount(), expectedCount);

        const TestRecord once = record;
        const ListRow first = listRowTexts(record.view(), 3);
        const ListRow again = BuildListRow(record.view(), 3);
        EXPECT_EQ(record.bytes, once.bytes);
        EXPECT_EQ(again.columns, first.columns);
        EXPECT_EQ(again.colour, colour);
    }
}

}  // namespace
}  // namespace ufcs
