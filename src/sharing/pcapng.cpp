#include "sharing/pcapng.h"

#include <algorithm>
#include <bit>
#include <string>
#include <string_view>

#include "common/byte_order.h"
#include "common/version.h"
#include "ufcs/capture_record.h"

namespace sharing {
namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint16_t kExportedPduDissectorName = 12;

class Writer {
  public:
    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
    void le16(uint16_t value) { common::writeLe16(grow(2), value); }
    void le32(uint32_t value) { common::writeLe32(grow(4), value); }
    void be16(uint16_t value) { common::writeBe16(grow(2), value); }
    void be32(uint32_t value) {
        be16(static_cast<uint16_t>(value >> 16));
        be16(static_cast<uint16_t>(value));
    }
    void be64(uint64_t value) {
        be32(static_cast<uint32_t>(value >> 32));
        be32(static_cast<uint32_t>(value));
    }
    void u8(uint8_t value) { out_.push_back(value); }
    void beDouble(double value) { be64(std::bit_cast<uint64_t>(value)); }
    // A text of the payload: its length (u16), then its bytes.
    void counted(std::string_view value) {
        const std::size_t size = std::min<std::size_t>(value.size(), 0xFFFF);
        be16(static_cast<uint16_t>(size));
        text(value.substr(0, size));
    }
    void bytes(const uint8_t* data, std::size_t size) {
        out_.insert(out_.end(), data, data + size);
    }
    void text(std::string_view value) {
        bytes(reinterpret_cast<const uint8_t*>(value.data()), value.size());
    }
    void pad() {
        while (out_.size() % 4 != 0)
            out_.push_back(0);
    }
    // A pcapng option: code, length, the value padded to 32 bits.
    void option(uint16_t code, std::string_view value) {
        le16(code);
        le16(static_cast<uint16_t>(value.size()));
        text(value);
        pad();
    }
    std::size_t size() const { return out_.size(); }
    void patchLe32(std::size_t at, uint32_t value) { common::writeLe32(out_.data() + at, value); }

  private:
    uint8_t* grow(std::size_t size) {
        out_.resize(out_.size() + size);
        return out_.data() + out_.size() - size;
    }
    std::vector<uint8_t>& out_;
};

// A block: its type, then what `body` writes, framed by the total length twice.
template <typename Body>
void block(Writer& out, uint32_t type, Body body) {
    const std::size_t start = out.size();
    out.le32(type);
    out.le32(0);  // patched below
    body();
    out.pad();
    const auto total = static_cast<uint32_t>(out.size() - start + 4);
    out.le32(total);
    out.patchLe32(start + 4, total);
}

std::size_t wireCount(ufcs::ConstCaptureRecord record) {
    return ufcs::isMessageKind(record.kind())
               ? std::min<std::size_t>(record.byteCount(), ufcs::kMaxCapturedBytes)
               : 0;
}

void sequenceNote(Writer& out, const ufcs::SequenceNote& note) {
    const std::optional<ufcs::Measurement>& measured = note.measurement;
    out.u8(static_cast<uint8_t>((note.delayUs ? 1 : 0) | (measured ? 2 : 0) |
                                (measured && measured->low ? 4 : 0) |
                                (measured && measured->high ? 8 : 0)));
    out.counted(note.kind ? ufcs::findingKindName(*note.kind) : std::string_view());
    if (note.delayUs) out.be64(static_cast<uint64_t>(*note.delayUs));
    out.be32(note.limitUs);
    out.counted(note.text);
    out.counted(note.limit);
    out.counted(note.clause);
    if (!measured) return;
    out.beDouble(measured->value);
    if (measured->low) out.beDouble(*measured->low);
    if (measured->high) out.beDouble(*measured->high);
    out.counted(measured->unit);
}

void packetData(Writer& out, ufcs::ConstCaptureRecord record, uint32_t index,
                const ufcs::SequenceReport& report) {
    // The Exported PDU tags (big-endian, values padded to 32 bits), then our payload.
    out.be16(kExportedPduDissectorName);
    out.be16(4);
    out.text("ufcs");
    out.be16(0);  // end of the tags
    out.be16(0);
    out.bytes(&kPcapngPayloadFormat, 1);
    const uint8_t kind = record.kind(), baud = record.baudCode(), status = record.at(0);
    out.bytes(&kind, 1);
    out.bytes(&baud, 1);
    out.bytes(&status, 1);
    out.be16(record.voltage());
    out.be16(record.current());
    out.be32(index);
    const std::size_t count = wireCount(record);
    out.be16(static_cast<uint16_t>(count));
    out.bytes(record.wire(), count);
    std::vector<const ufcs::SequenceNote*> notes = report.notesFor(index);
    notes.resize(std::min<std::size_t>(notes.size(), 0xFF));
    out.u8(static_cast<uint8_t>(notes.size()));
    for (const ufcs::SequenceNote* note : notes)
        sequenceNote(out, *note);
}

}  // namespace

uint32_t pcapngInterfaceOf(uint8_t kind) {
    using K = ufcs::EventKind;
    switch (static_cast<K>(kind)) {
        case K::MessageDMinus:
        case K::DecodeErrorDMinus:
        case K::HandshakeDMinus:
        case K::HandshakeSinkReply:
        case K::ResetSourceDMinus:
        case K::ResetCableDMinus:
            return 1;
        default:
            return 0;
    }
}

std::vector<uint8_t> pcapngBytes(const ufcs::CaptureStore& store,
                                 const ufcs::SequenceReport& report) {
    std::vector<uint8_t> bytes;
    Writer out(bytes);
    block(out, kSectionHeader, [&] {
        out.le32(0x1A2B3C4D);  // byte-order magic
        out.le16(1);
        out.le16(0);
        out.le32(0xFFFFFFFF);  // section length not given
        out.le32(0xFFFFFFFF);
        out.option(4, std::string("ufcs-suite ") + common::kVersionText);  // shb_userappl
        out.le32(0);                                                       // end of options
    });
    for (const char* line : {"D+", "D-"}) {
        block(out, kInterfaceDescription, [&] {
            out.le16(kLinkTypeExportedPdu);
            out.le16(0);
            out.le32(0);                                 // no snap length
            out.option(2, line);                         // if_name
            out.option(9, std::string_view("\x06", 1));  // if_tsresol: microseconds
            out.le32(0);
        });
    }
    // The records there are now: a capture still running adds more while this writes.
    const uint32_t count = store.count();
    for (uint32_t index = 1; index < count; ++index) {
        const ufcs::ConstCaptureRecord record = store.record(index);
        const auto time = static_cast<uint64_t>(std::max<int64_t>(0, record.timeUs()));
        block(out, kEnhancedPacket, [&] {
            out.le32(pcapngInterfaceOf(record.kind()));
            out.le32(static_cast<uint32_t>(time >> 32));
            out.le32(static_cast<uint32_t>(time));
            const std::size_t lengths = out.size();
            out.le32(0);  // both lengths patched once the packet is written
            out.le32(0);
            packetData(out, record, index, report);
            const auto length = static_cast<uint32_t>(out.size() - lengths - 8);
            out.patchLe32(lengths, length);
            out.patchLe32(lengths + 4, length);
            out.pad();
        });
    }
    return bytes;
}

common::FileResult writePcapng(const ufcs::CaptureStore& store, const ufcs::SequenceReport& report,
                               const std::filesystem::path& path) {
    const std::vector<uint8_t> bytes = pcapngBytes(store, report);
    const common::SaveOutcome saved = common::saveFile(
        path, [&](common::ByteSink& sink) { return sink.write(bytes.data(), bytes.size()); });
    if (saved.ok) return {};
    return {false, "无法写入 " + common::displayPath(path) + "：" + saved.reason};
}

}  // namespace sharing
