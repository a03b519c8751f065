#pragma once
// A capture as a pcapng file that Wireshark opens with no setup: two
// interfaces (D+ and D-) of the Exported PDU link type, each packet tagged
// for the dissector named "ufcs" (ufcs.lua), one packet per record after the
// capture's header, so that frame N is record N.
//
// Each packet's data after the Exported PDU tags, big-endian:
//   0  format (2)        1  event kind (byte 2 of the record)
//   2  baud code         3  status bits (byte 0 of the record)
//   4  bus mV (u16)      6  bus mA (u16)
//   8  record index (u32)
//   12 N, the number of captured bus bytes (u16; 0 for an event)
//   14 the N bytes from the Training byte
//   then the sequence check's notes on this record (findings first): a count
//   (u8), then for each
//     flags (u8): 1 delay, 2 measurement, 4 its low bound, 8 its high bound
//     kind (text; empty for a timing that is in order), delay µs (i64, when
//     flagged), limit µs (u32), text, limit name, clause (texts), and when
//     flagged the measurement: value, low, high (doubles), unit (text)
//   a text being its UTF-8 length (u16) and bytes.
// The analysis travels with the file because the check needs the whole
// capture and the limits the user judged it by; the dissector shows it.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "common/file_save.h"
#include "ufcs/capture_store.h"
#include "ufcs/sequence_check.h"

namespace sharing {

inline constexpr uint16_t kLinkTypeExportedPdu = 252;
inline constexpr uint8_t kPcapngPayloadFormat = 2;
inline constexpr std::size_t kPcapngPayloadHeader = 14;

// 0 for D+, 1 for D-: the interface a record's event belongs to.
uint32_t pcapngInterfaceOf(uint8_t kind);

// `report` is the sequence check of `store`, as the user judged it.
std::vector<uint8_t> pcapngBytes(const ufcs::CaptureStore& store,
                                 const ufcs::SequenceReport& report);

// Written atomically; the message names the file.
common::FileResult writePcapng(const ufcs::CaptureStore& store, const ufcs::SequenceReport& report,
                               const std::filesystem::path& path);

}  // namespace sharing
