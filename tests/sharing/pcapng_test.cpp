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

// Reads the payload's counted texts and numbers in turn.
struct PayloadReader {
    const uint8_t* at;
    uint8_t u8() { return *at++; }
    uint32_t u32() {
        const uint32_t value = be32(at);
        at += 4;
        return value;
    }
    uint64_t u64() {
        const uint64_t high = u32();
        return high << 32 | u32();
    }
    std::string text() {
        const uint16_t size = readBe16(at);
        std::string value(reinterpret_cast<const char*>(at + 2), size);
        at += 2 + size;
        return value;
    }
};

// The notes after the wire bytes, against the report's notes on the record.
void expectNotes(PayloadReader notes, const ufcs::SequenceReport& report, uint32_t index,
                 const uint8_t* end) {
    const std::vector<const ufcs::SequenceNote*> expected = report.notesFor(index);
    ASSERT_EQ(notes.u8(), expected.size()) << index;
    for (const ufcs::SequenceNote* note : expected) {
        const uint8_t flags = notes.u8();
        EXPECT_EQ(flags & 1, note->delayUs ? 1 : 0);
        EXPECT_EQ(flags & 2, 0) << "a capture without lines measures nothing";
        EXPECT_EQ(notes.text(), note->kind ? ufcs::findingKindName(*note->kind) : "") << index;
        if (flags & 1) {
            EXPECT_EQ(static_cast<int64_t>(notes.u64()), *note->delayUs);
        }
        EXPECT_EQ(notes.u32(), note->limitUs);
        EXPECT_EQ(notes.text(), note->text);
        EXPECT_EQ(notes.text(), note->limit);
        EXPECT_EQ(notes.text(), note->clause);
    }
    EXPECT_EQ(notes.at, end) << index;
}

TEST(Pcapng, EveryRecordIsAPacketWithItsTimeLineBusWireBytesAndNotes) {
    const auto store = simulatedCapture();
    ASSERT_GT(store->count(), 100u);
    const ufcs::SequenceReport report = ufcs::checkCapture(*store, {}, {});
    const std::vector<uint8_t> bytes = sharing::pcapngBytes(*store, report);
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
    std::size_t messages = 0, noted = 0, lines[2] = {0, 0};
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
        EXPECT_EQ(be32(payload + 8), index);
        const std::size_t wire = readBe16(payload + 12);
        if (ufcs::isMessageKind(record.kind())) {
            ++messages;
            ASSERT_EQ(wire, record.byteCount()) << index;
            EXPECT_TRUE(std::equal(payload + 14, payload + 14 + wire, record.wire())) << index;
        } else {
            EXPECT_EQ(wire, 0u) << index;
        }
        ASSERT_LE(12 + sharing::kPcapngPayloadHeader + wire, captured);
        expectNotes({payload + 14 + wire}, report, index, data + captured);
        noted += report.notesFor(index).empty() ? 0 : 1;
    }
    EXPECT_GT(messages, 100u);
    EXPECT_GT(noted, 20u);
    EXPECT_GT(lines[0], 20u);  // both lines carry packets
    EXPECT_GT(lines[1], 20u);
}

TEST(Pcapng, TheFileIsWrittenWholeOrTold) {
    const auto store = simulatedCapture();
    testing_support::TestFolder folder("pcapng_test");
    const std::filesystem::path path = folder.path() / "bus.pcapng";
    const ufcs::SequenceReport report = ufcs::checkCapture(*store, {}, {});
    ASSERT_TRUE(sharing::writePcapng(*store, report, path).ok);
    EXPECT_EQ(std::filesystem::file_size(path), sharing::pcapngBytes(*store, report).size());
    const common::FileResult refused =
        sharing::writePcapng(*store, report, folder.path() / "no" / "x");
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("无法写入"), std::string::npos) << refused.message;
}

}  // namespace
