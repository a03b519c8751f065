#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "analyzer/capture_feed.h"
#include "cli/cli.h"
#include "cli/cli_run.h"
#include "cli/json.h"
#include "common/byte_order.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "support/test_folder.h"
#include "ufcs/capture_file.h"
#include "ufcs/capture_list.h"
#include "ufcs/decoder.h"
#include "ufcs/wire_format.h"

namespace {

namespace fs = std::filesystem;

using testing_support::CliRun;
CliRun run(const std::vector<std::string>& args) {
    return testing_support::runUfcs(args);
}

// A capture holding a handshake, a Ping with a broken CRC and a Request, saved before any row was
// built.
class DecodeCommandTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder = new testing_support::TestFolder("decode_command_test");
        path = new fs::path(folder->path() / "capture.ufcs_stream");
        auto store = ufcs::CaptureStore::create();
        analyzer::CaptureFeed feed(*store, {});
        simulator::BusEvent handshake;
        handshake.kind = 0xF0;
        handshake.wire = {0x12, 0x34};  // bytes the row builder and the decoder zero out
        feed.feedReports(simulator::capturePages(handshake));
        simulator::BusEvent ping;
        ping.kind = 2;
        ping.wire = ufcs::encodeControlMessage(ufcs::DeviceAddress::Source, 1, 0x00);
        ping.wire.back() ^= 0xFF;
        feed.feedReports(simulator::capturePages(ping));
        simulator::BusEvent request;
        request.kind = 2;
        request.wire =
            ufcs::encodeDataMessage(ufcs::DeviceAddress::Source, 2, 0x02,
                                    std::vector<uint8_t>{0x30, 0, 0, 0, 0x03, 0x84, 0x00, 0xC8});
        feed.feedReports(simulator::capturePages(request));
        ASSERT_TRUE(ufcs::SaveCapture(*store, *path).ok);
    }
    static void TearDownTestSuite() {
        delete path;
        delete folder;
    }
    static inline testing_support::TestFolder* folder = nullptr;
    static inline fs::path* path = nullptr;
};

TEST_F(DecodeCommandTest, TextShowsPaneThenIndentedTree) {
    const CliRun result = run({"decode", path->string(), "3"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string expected =
        "序号：3 \n"
        "数据信息(包括Training(0xAA)字符,消息头，消息主体及CRC)\n"
        "AA 24 09 02 08 30 00 00 00 03 84 00 C8 " +
        [] {
            const auto wire = ufcs::encodeDataMessage(
                ufcs::DeviceAddress::Source, 2, 0x02,
                std::vector<uint8_t>{0x30, 0, 0, 0, 0x03, 0x84, 0x00, 0xC8});
            char crc[4];
            std::snprintf(crc, sizeof crc, "%.2X ", wire.back());
            return std::string(crc);
        }() +
        "\n\n请求输出模式编号:0x03 (3)\n请求输出电压:0x0384 9000mV\n请求输出电流:0x00C8 2000mA\n"
        "--\n"
        "序号：3 \n"
        "消息头：24 09\n"
        "  接收设备: 01 供电设备\n"
        "  消息编号: 02 \n"
        "  协议版本: 01  V1.0\n"
        "  消息类型: 01 数据\n"
        "命令: 0x02  Request\n"
        "数据长度: 0x08 (8)\n"
        "数据: 30 00 00 00 03 84 00 C8 \n"
        "  输出模式编号:0x03 (3)\n"
        "  请求输出电压:0x0384 9000mV\n"
        "  请求输出电流:0x00C8 2000mA\n";
    EXPECT_EQ(result.out.substr(0, result.out.rfind("CRC: ")), expected);
}

TEST_F(DecodeCommandTest, JsonMatchesTheDecodeOfTheListedRecord) {
    const CliRun result = run({"decode", "--json", path->string(), "2"});
    ASSERT_EQ(result.status, 0) << result.err;
    // What the window decodes when the row is clicked after opening the file.
    auto store = ufcs::CaptureStore::create();
    ASSERT_TRUE(ufcs::OpenCapture(*store, *path).ok);
    ufcs::CaptureList(*store).rebuild();
    const ufcs::DecodeResult direct = ufcs::decodeRecord(store->record(2), 2);
    ASSERT_FALSE(direct.warnings.empty());
    for (const ufcs::Warning& warning : direct.warnings) {
        EXPECT_NE(result.out.find(cli::jsonString(warning.text)), std::string::npos)
            << warning.text;
    }
    EXPECT_NE(result.out.find("{\"severity\":1,\"text\":\"注意：校验码错误！应为：0x"),
              std::string::npos);
    EXPECT_NE(result.out.find("\"pane\":[{\"type\":0,\"text\":\"序号：2 \\r\\n"),
              std::string::npos);
    EXPECT_NE(result.out.find("{\"type\":1,\"text\":\"\\r\\n注意："), std::string::npos);
    EXPECT_NE(result.out.find("{\"text\":\"消息类型: 00 控制\",\"visible\":true,\"children\":[]}"),
              std::string::npos);
    EXPECT_EQ(result.out.back(), '\n');
}

TEST_F(DecodeCommandTest, EventShowsItsTextAndAnEmptyTree) {
    const CliRun result = run({"decode", path->string(), "1"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "序号：1 \n\n D+ 握手信号\n--\n");
}

TEST_F(DecodeCommandTest, IndexOutsideTheStoreOrMalformed) {
    const CliRun outside = run({"decode", path->string(), "4"});
    EXPECT_EQ(outside.status, 1);
    EXPECT_TRUE(outside.out.empty());
    EXPECT_NE(outside.err.find("4"), std::string::npos);
    EXPECT_EQ(run({"decode", path->string(), "-1"}).status, 2);
    EXPECT_EQ(run({"decode", path->string(), "x"}).status, 2);
    EXPECT_EQ(run({"decode", path->string()}).status, 2);
    const CliRun missing =
        run({"decode", (path->parent_path() / "none.ufcs_stream").string(), "0"});
    EXPECT_EQ(missing.status, 1);
}

}  // namespace
