#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/byte_order.h"
#include "store_fixture.h"
#include "support/test_folder.h"
#include "ufcs/capture_file.h"

namespace {

namespace fs = std::filesystem;

class CaptureFileTest : public testing_support::StoreTest {
  protected:
    static std::vector<uint8_t> readAll(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void writeAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<uint8_t> fileHeader(uint32_t count, uint32_t version) {
        std::vector<uint8_t> bytes(8);
        common::writeLe32(bytes.data(), count);
        common::writeLe32(bytes.data() + 4, version);
        return bytes;
    }
    // A store that holds a recognisable earlier capture.
    void holdEarlierCapture() {
        fillSlot(0, 0x11);
        fillSlot(1, 0x22);
        store->setCount(2);
    }
    void expectEarlierCapture() {
        EXPECT_EQ(store->count(), 2u);
        EXPECT_EQ(slot(0)[100], 0x11);
        EXPECT_EQ(slot(1)[319], 0x22);
    }

    testing_support::TestFolder folder{"capture_file_test"};
    const fs::path dir = folder.path();
};

TEST_F(CaptureFileTest, SaveWritesCountVersionAndRecordsVerbatim) {
    fillSlot(0, 0xA0);
    fillSlot(1, 0xA1);
    fillSlot(2, 0xA2);
    store->setCount(3);
    const fs::path path = dir / "my.ufcs_stream";
    ASSERT_TRUE(ufcs::SaveCapture(*store, path).ok);

    const std::vector<uint8_t> bytes = readAll(path);
    ASSERT_EQ(bytes.size(), 8u + 3 * 320);
    EXPECT_EQ(common::readLe32(bytes.data()), 3u);
    EXPECT_EQ(common::readLe32(bytes.data() + 4), 100u);
    EXPECT_EQ(bytes[8], 0xA0);
    EXPECT_EQ(bytes[8 + 320], 0xA1);
    EXPECT_EQ(bytes.back(), 0xA2);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);  // no temporary file left

    fillSlot(1, 0x00);
    store->setCount(9);
    ASSERT_TRUE(ufcs::OpenCapture(*store, path).ok);
    EXPECT_EQ(store->count(), 3u);
    EXPECT_EQ(slot(1)[160], 0xA1);
}

TEST_F(CaptureFileTest, HeaderOnlyAndEmptyCapturesRoundTrip) {
    store->setCount(1);
    ASSERT_TRUE(ufcs::SaveCapture(*store, dir / "one.ufcs_stream").ok);
    EXPECT_EQ(fs::file_size(dir / "one.ufcs_stream"), 328u);

    writeAll(dir / "empty.ufcs_stream", fileHeader(0, 100));
    ASSERT_TRUE(ufcs::OpenCapture(*store, dir / "empty.ufcs_stream").ok);
    EXPECT_EQ(store->count(), 0u);
}

TEST_F(CaptureFileTest, RefusedFilesLeaveTheStoreAsItWas) {
    std::vector<uint8_t> tooNew = fileHeader(1, 101);
    tooNew.resize(8 + 320, 0x55);
    writeAll(dir / "new.ufcs_stream", tooNew);

    std::vector<uint8_t> longer = fileHeader(1, 100);
    longer.resize(8 + 320 + 1, 0x55);
    writeAll(dir / "long.ufcs_stream", longer);

    // 0x0CCCCCCD records of 320 bytes wrap to 16 bytes in 32 bits.
    std::vector<uint8_t> wrapping = fileHeader(0x0CCCCCCDu, 100);
    wrapping.resize(8 + 16, 0x55);
    writeAll(dir / "wrap.ufcs_stream", wrapping);

    writeAll(dir / "short.ufcs_stream", {0x01, 0x00});
    const std::string text = "count,version\n1,100\n";
    writeAll(dir / "text.ufcs_stream", std::vector<uint8_t>(text.begin(), text.end()));
    std::vector<uint8_t> zeros(8 + 320, 0);
    zeros[0] = 1;
    writeAll(dir / "zeros.ufcs_stream", zeros);
    fs::create_directory(dir / "folder.ufcs_stream");

    std::vector<uint8_t> oversized = fileHeader(ufcs::CaptureStore::kCapacity + 1, 100);
    oversized.resize(8 + static_cast<std::size_t>(ufcs::CaptureStore::kCapacity + 1) * 320, 0x55);
    writeAll(dir / "big.ufcs_stream", oversized);

    const struct {
        const char* name;
        std::string message;
    } cases[] = {
        {"new.ufcs_stream", "文件版本过高，无法打开!"},
        {"long.ufcs_stream", "文件长度不对!"},
        {"wrap.ufcs_stream", "文件长度不对!"},
        {"short.ufcs_stream",
         (dir / "short.ufcs_stream").string() + " 不是捕获文件(.ufcs_stream)!"},
        {"text.ufcs_stream", (dir / "text.ufcs_stream").string() + " 不是捕获文件(.ufcs_stream)!"},
        {"zeros.ufcs_stream",
         (dir / "zeros.ufcs_stream").string() + " 不是捕获文件(.ufcs_stream)!"},
        {"folder.ufcs_stream",
         (dir / "folder.ufcs_stream").string() + " 是一个文件夹，不是捕获文件!"},
        {"big.ufcs_stream", "文件有65537条记录，超过了65536条的上限，无法打开!"},
    };
    for (const auto& c : cases) {
        holdEarlierCapture();
        const ufcs::FileResult result = ufcs::OpenCapture(*store, dir / c.name);
        EXPECT_FALSE(result.ok) << c.name;
        EXPECT_EQ(result.message, c.message) << c.name;
        expectEarlierCapture();
    }
}

TEST_F(CaptureFileTest, FullStoreFileOpens) {
    std::vector<uint8_t> full = fileHeader(ufcs::CaptureStore::kCapacity, 100);
    full.resize(8 + static_cast<std::size_t>(ufcs::CaptureStore::kCapacity) * 320, 0x66);
    writeAll(dir / "full.ufcs_stream", full);
    ASSERT_TRUE(ufcs::OpenCapture(*store, dir / "full.ufcs_stream").ok);
    EXPECT_EQ(store->count(), ufcs::CaptureStore::kCapacity);
    EXPECT_EQ(slot(ufcs::CaptureStore::kCapacity - 1)[319], 0x66);
}

TEST_F(CaptureFileTest, MissingFileIsReported) {
    holdEarlierCapture();
    const ufcs::FileResult result = ufcs::OpenCapture(*store, dir / "nothing.ufcs_stream");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("nothing.ufcs_stream"), std::string::npos);
    expectEarlierCapture();
}

// The file size limit that stands in for a full disk is POSIX.
#ifndef _WIN32
TEST_F(CaptureFileTest, FailedSaveKeepsTheEarlierFileAndGivesTheReason) {
    const fs::path path = dir / "kept.ufcs_stream";
    writeAll(path, {1, 2, 3});
    store->setCount(100);
    // A file size limit makes the write fail part way, as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const ufcs::FileResult result = ufcs::SaveCapture(*store, path);
    setrlimit(RLIMIT_FSIZE, &previous);

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "无法保存文件 " + path.string() + " ! (" +
                                  std::generic_category().message(EFBIG) + ")");
    EXPECT_EQ(readAll(path), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);

    const ufcs::FileResult noFolder = ufcs::SaveCapture(*store, dir / "absent" / "x.ufcs_stream");
    EXPECT_FALSE(noFolder.ok);
    EXPECT_NE(noFolder.message.find(std::generic_category().message(ENOENT)), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "absent"));
}
#endif

}  // namespace
