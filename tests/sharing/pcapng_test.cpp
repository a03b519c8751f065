// A capture as Wireshark reads it: the pcapng blocks read back field by
// field against the records they came from.
#include "sharing/pcapng.h"

#include <gtest/gtest.h>

#include "analyzer/capture_feed.h"
#include "common/byte_order.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "support/test_folder.h"

namespace {

using common::readBe16;
uint32_t be32(const uint8_t* p) {
    return static_cast<uint32_t>(readBe16(p)) << 16 | readBe16(p + 2);
}

struct Block {
    uint32_t type = 0;
    const uint8_t* body = nullptr;  // after type and length
    uint32_t length = 0;            // the whole block
};

// The blocks of a pcapng file; fails the test when the framing is broken.
std::vector<Block> blocksOf(const std::vector<uint8_t>& bytes) {
    std::vector<Block> blocks;
    std::size_t at = 0;
    while (at + 12 <= bytes.size()) {
        const uint32_t length = common::readLe32(bytes.data() + at + 4);
        EXPECT_EQ(length % 4, 0u);
        EXPECT_LE(at + length, bytes.size());
        EXPECT_EQ(common::readLe32(bytes.data() + at + length - 4), length);
        blocks.push_back({common::readLe32(bytes.data() + at), bytes.data() + at + 8, length});
        at += length;
    }
    EXPECT_EQ(at, bytes.size());
    return blocks;
}

std::unique_ptr<ufcs::CaptureStore> simulatedCapture() {
    auto store = ufcs::CaptureStore::create();
    analyzer::CaptureFeed feed(*store, {});
    simulator::BusTraffic traffic(simulator::BusTraffic::Options(4, 0.02));
    for (int i = 0; i < 300; ++i)
        feed.feedReports(simulator::capturePages(traffic.next()));
    return store;
}

TEST(Pcapng, EveryRecordIsAPacketWithItsTimeLineBusAndWireBytes) {
    const auto store = simulatedCapture();
    ASSERT_GT(store->count(), 100u);
    const std::vector<uint8_t> bytes = sharing::pcapngBytes(*store);
    const std::vector<Block> blocks = blocksOf(bytes);
    ASSERT_EQ(blocks.size(), 3u + store->count() - 1);
    EXPECT_EQ(blocks[0].type, 0x0A0D0D0Au);
    EXPECT_EQ(common::readLe32(blocks[0].body), 0x1A2B3C4Du);
    for (int i : {1, 2}) {
        EXPECT_EQ(blocks[i].type, 1u);
        EXPECT_EQ(common::readLe16(blocks[i].body), sharing::kLinkTypeExportedPdu);
        // if_name is the first option: code 2, then "D+" or "D-".
        EXPECT_EQ(common::readLe16(blocks[i].body + 8), 2);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(blocks[i].body + 12), 2),
                  i == 1 ? "D+" : "D-");
    }
    std::size_t messages = 0, lines[2] = {0, 0};
    for (uint32_t index = 1; index < store->count(); ++index) {
        const Block& packet = blocks[2 + index];
        const ufcs::ConstCaptureRecord record = store->record(index);
        ASSERT_EQ(packet.type, 6u);
        const uint32_t interface = common::readLe32(packet.body);
        EXPECT_EQ(interface, sharing::pcapngInterfaceOf(record.kind()));
        ++lines[interface];
        const uint64_t time =
            uint64_t{common::readLe32(packet.body + 4)} << 32 | common::readLe32(packet.body + 8);
        EXPECT_EQ(time, static_cast<uint64_t>(record.timeUs())) << index;
        const uint32_t captured = common::readLe32(packet.body + 12);
        const uint8_t* data = packet.body + 20;
        // The Exported PDU tags: the dissector's name, then the end.
        EXPECT_EQ(readBe16(data), 12);
        EXPECT_EQ(readBe16(data + 2), 4);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(data + 4), 4), "ufcs");
        EXPECT_EQ(be32(data + 8), 0u);
        const uint8_t* payload = data + 12;
        EXPECT_EQ(payload[0], sharing::kPcapngPayloadFormat);
        EXPECT_EQ(payload[1], record.kind());
        EXPECT_EQ(payload[2], record.baudCode());
        EXPECT_EQ(payload[3], record.at(0));
        EXPECT_EQ(readBe16(payload + 4), record.voltage());
        EXPECT_EQ(readBe16(payload + 6), record.current());
        EXPECT_EQ(be32(payload + 8), record.index());
        const std::size_t wire = captured - 12 - sharing::kPcapngPayloadHeader;
        if (ufcs::isMessageKind(record.kind())) {
            ++messages;
            ASSERT_EQ(wire, record.byteCount()) << index;
            EXPECT_TRUE(std::equal(payload + 12, payload + 12 + wire, record.wire())) << index;
        } else {
            EXPECT_EQ(wire, 0u) << index;
        }
    }
    EXPECT_GT(messages, 100u);
    EXPECT_GT(lines[0], 20u);  // both lines carry packets
    EXPECT_GT(lines[1], 20u);
}

TEST(Pcapng, TheFileIsWrittenWholeOrTold) {
    const auto store = simulatedCapture();
    testing_support::TestFolder folder("pcapng_test");
    const std::filesystem::path path = folder.path() / "bus.pcapng";
    ASSERT_TRUE(sharing::writePcapng(*store, path).ok);
    EXPECT_EQ(std::filesystem::file_size(path), sharing::pcapngBytes(*store).size());
    const common::FileResult refused = sharing::writePcapng(*store, folder.path() / "no" / "x");
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("无法写入"), std::string::npos) << refused.message;
}

}  // namespace
