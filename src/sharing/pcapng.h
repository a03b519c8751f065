#pragma once
// A capture as a pcapng file that Wireshark opens with no setup: two
// interfaces (D+ and D-) of the Exported PDU link type, each packet tagged
// for the dissector named "ufcs" (ufcs.lua), one packet per record after the
// capture's header, so that frame N is record N.
//
// Each packet's data after the Exported PDU tags, big-endian:
//   0  format (1)        1  event kind (byte 2 of the record)
//   2  baud code         3  status bits (byte 0 of the record)
//   4  bus mV (u16)      6  bus mA (u16)
//   8  record index (u32)
//   12 the captured bus bytes from the Training byte (none for an event)

#include <cstdint>
#include <filesystem>
#include <vector>

#include "common/file_save.h"
#include "ufcs/capture_store.h"

namespace sharing {

inline constexpr uint16_t kLinkTypeExportedPdu = 252;
inline constexpr uint8_t kPcapngPayloadFormat = 1;
inline constexpr std::size_t kPcapngPayloadHeader = 12;

// 0 for D+, 1 for D-: the interface a record's event belongs to.
uint32_t pcapngInterfaceOf(uint8_t kind);

std::vector<uint8_t> pcapngBytes(const ufcs::CaptureStore& store);

// Written atomically; the message names the file.
common::FileResult writePcapng(const ufcs::CaptureStore& store, const std::filesystem::path& path);

}  // namespace sharing
