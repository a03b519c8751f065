#pragma once
// One captured bus event: a fixed 320-byte record, multi-byte fields
// little-endian. The instrument writes bytes 0-14 and the captured bus bytes
// from offset 15; the analyzer writes the status bits, the computed CRC, the
// zeroed length of events, the row colour and the record index.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "common/byte_order.h"
#include "ufcs/wire_format.h"

namespace ufcs {

inline constexpr std::size_t kRecordSize = 320;
inline constexpr std::size_t kPageSize = 64;
inline constexpr std::size_t kMaxPages = kRecordSize / kPageSize;
inline constexpr std::size_t kWireOffset = 15;  // Training byte, then the UFCS header
inline constexpr std::size_t kMaxCapturedBytes = kRecordSize - kWireOffset;  // offsets 15-319

// Byte 0: the first-page marker on arrival; the row builder ORs in the fault bits.
inline constexpr uint8_t kFirstPageMarker = 0x01;
inline constexpr uint8_t kCrcError = 0x04;
inline constexpr uint8_t kLengthError = 0x08;

// Byte 2 of a record. The byte may hold any value; these are the ones with a meaning.
enum class EventKind : uint8_t {
    Message = 0,
    MessageDPlus = 1,
    MessageDMinus = 2,
    MessageUnchecked = 3,
    DecodeErrorDPlus = 0x16,
    DecodeErrorDMinus = 0x17,
    HandshakeDPlus = 0xF0,
    HandshakeSourceAnswer = 0xF1,
    HandshakeDMinus = 0xF2,
    HandshakeSinkReply = 0xF3,
    ResetSinkDPlus = 0xF4,
    ResetSourceDMinus = 0xF5,
    ResetCableDPlus = 0xF6,
    ResetCableDMinus = 0xF7,
    CaptureHeader = 0xF8,
};

// Kinds 0-3 carry UFCS message bytes; everything above is an event without them.
constexpr bool isMessageKind(uint8_t kind) {
    return kind <= 3;
}
// The handshakes and hardware resets, whose texts the decoder knows.
constexpr bool isLineSignalKind(uint8_t kind) {
    return kind >= 0xF0 && kind <= 0xF7;
}

// Receiver address as tested against byte 16 AND 0xE0.
inline constexpr uint8_t kReceiverMask = 0xE0;
inline constexpr uint8_t kReceiverSource = 0x20;
inline constexpr uint8_t kReceiverSink = 0x40;
inline constexpr uint8_t kReceiverCable = 0x60;

// Baud-rate codes of byte 3.
inline constexpr uint8_t kBaud115200 = 0x73;
inline constexpr uint8_t kBaud57600 = 0x39;
inline constexpr uint8_t kBaud38400 = 0x26;
inline constexpr uint8_t kBaud19200 = 0x13;
// The rate a code stands for; an unknown code is taken as the default 115200.
double baudRate(uint8_t code);
// How long `bytes` characters take on the line at that rate: 10 bits each and
// the shortest idle the standard allows (a bit) between them.
int64_t wireDurationUs(std::size_t bytes, uint8_t baudCode);

// A view of one record's bytes: BasicCaptureRecord<uint8_t> may write,
// BasicCaptureRecord<const uint8_t> only reads. Copying the view copies the
// pointer, not the record.
template <typename Byte>
class BasicCaptureRecord {
    static constexpr bool kWritable = !std::is_const_v<Byte>;

  public:
    explicit BasicCaptureRecord(Byte* bytes) : bytes_(bytes) {}
    template <typename Other>
    requires(std::is_same_v<Byte, const uint8_t>&& std::is_same_v<Other, uint8_t>)
        BasicCaptureRecord(BasicCaptureRecord<Other> other)
        : bytes_(other.bytes()) {}

    Byte* bytes() const { return bytes_; }
    uint8_t at(std::size_t offset) const { return bytes_[offset]; }

    uint8_t status() const { return bytes_[0]; }
    // Byte 1: the page count on arrival, the computed CRC once the row is built.
    uint8_t pageCount() const { return bytes_[1]; }
    uint8_t computedCrc() const { return bytes_[1]; }
    uint8_t kind() const { return bytes_[2]; }
    uint8_t baudCode() const { return bytes_[3]; }
    uint16_t timeCoarse() const { return common::readLe16(bytes_ + 4); }
    uint16_t timeFine() const { return common::readLe16(bytes_ + 6); }
    // The time stamp in microseconds (periods of 10 s, ticks of 0.2 ms).
    int64_t timeUs() const {
        return (static_cast<int64_t>(timeCoarse()) * 50'000 + timeFine()) * 200;
    }
    uint16_t byteCount() const { return common::readLe16(bytes_ + 8); }
    uint16_t voltage() const { return common::readLe16(bytes_ + 10); }
    uint16_t current() const { return common::readLe16(bytes_ + 12); }
    uint32_t rowColour() const { return common::readLe32(bytes_ + 312); }
    uint32_t index() const { return common::readLe32(bytes_ + 316); }

    // The captured bus bytes: wire()[0] is the Training byte, then H0, H1, body, CRC.
    Byte* wire() const { return bytes_ + kWireOffset; }
    uint8_t receiver() const { return bytes_[16] & kReceiverMask; }
    uint8_t messageType() const { return bytes_[17] & 0x07; }
    uint8_t command() const { return bytes_[18]; }

    void setStatus(uint8_t value) const requires kWritable { bytes_[0] = value; }
    void setComputedCrc(uint8_t value) const requires kWritable { bytes_[1] = value; }
    void setByteCount(uint16_t value) const requires kWritable {
        common::writeLe16(bytes_ + 8, value);
    }
    void setCurrent(uint16_t value) const requires kWritable {
        common::writeLe16(bytes_ + 12, value);
    }
    void setRowColour(uint32_t value) const requires kWritable {
        common::writeLe32(bytes_ + 312, value);
    }
    void setIndex(uint32_t value) const requires kWritable {
        common::writeLe32(bytes_ + 316, value);
    }

  private:
    Byte* bytes_;
};

using CaptureRecord = BasicCaptureRecord<uint8_t>;
using ConstCaptureRecord = BasicCaptureRecord<const uint8_t>;

// Record 0 of every capture (kind 0xF8): how the capture was started.
struct CaptureHeaderRecord {
    uint8_t mode = 1;                  // operating mode at the start
    bool currentUncalibrated = false;  // calibration value 0xFFFF at connect
    uint16_t secondValue = 0;          // connect reply bytes 22-23, kept with the file
    uint16_t currentRangeMa = 0;       // connect reply bytes 24-25
    bool refusePing = false;
    bool refuseAck = false;

    // Writes the header fields into a record slot; the other bytes keep what the slot held.
    void writeTo(CaptureRecord record) const;
    static CaptureHeaderRecord readFrom(ConstCaptureRecord record);
};

// The instrument's device values that the header row hands to the window.
struct DeviceRanges {
    uint16_t secondValue = 0;
    uint16_t currentRangeMa = 0;
    bool operator==(const DeviceRanges&) const = default;
};

// Colours are stored as 0x00BBGGRR.
constexpr uint32_t rgb(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint32_t>(r) | (static_cast<uint32_t>(g) << 8) |
           (static_cast<uint32_t>(b) << 16);
}
constexpr uint8_t redOf(uint32_t colour) {
    return colour & 0xFF;
}
constexpr uint8_t greenOf(uint32_t colour) {
    return (colour >> 8) & 0xFF;
}
constexpr uint8_t blueOf(uint32_t colour) {
    return (colour >> 16) & 0xFF;
}

}  // namespace ufcs
