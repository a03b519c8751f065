#pragma once
// A logic recording as a capture: D+ and D- chosen among its lines, each
// packet on them one message record, as the instrument makes it (its line,
// the nominal baud rate nearest the measured one, the time of its first edge
// in the record's 0.2 ms ticks, the bytes from the training byte on), and
// each handshake, answer and hardware reset the event record the instrument
// makes for it, in time order after the capture's header record.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "logic/logic_recording.h"
#include "ufcs/capture_store.h"
#include "ufcs/sequence_check.h"

namespace logic {

struct LineRoles {
    std::size_t dplus = 0;   // source to sink
    std::size_t dminus = 1;  // sink to source
};

// The lines named D+ and D- (also DP/DM, D_P, "USB D+", ...), else the first two; a
// line given by number (0-based) wins. Nothing when there are not two lines to use.
std::optional<LineRoles> chooseLineRoles(const LogicRecording& recording,
                                         std::optional<std::size_t> dplus = std::nullopt,
                                         std::optional<std::size_t> dminus = std::nullopt);

struct CaptureImport {
    bool ok = false;
    uint32_t packets = 0;
    std::string message;       // why nothing was imported, or that the store filled up
    bool noLines = false;      // the file read, but has no two lines for D+ and D-
    uint32_t lineSignals = 0;  // handshakes, answers and resets
    // What the lines showed about the records (baud, framing, idle, handshake widths).
    std::vector<ufcs::SequenceNote> findings;
};
// Replaces the store's records with the recording's packets.
CaptureImport importRecording(const LogicRecording& recording, const LineRoles& roles,
                              ufcs::CaptureStore& store);

// A logic file read, its lines chosen (by name unless given) and imported into `store`:
// one message naming the file for whatever stopped it.
CaptureImport importLogicFile(const std::filesystem::path& path, ufcs::CaptureStore& store,
                              std::optional<std::size_t> dplus = std::nullopt,
                              std::optional<std::size_t> dminus = std::nullopt);

// Asked, when the names of a file's lines do not say which are D+ and D-, which two to
// use: the names of all lines, and the choice made without asking. Nothing: cancelled.
using LineChooser = std::function<std::optional<LineRoles>(const std::vector<std::string>& names,
                                                           const LineRoles& proposed)>;
// As above, with the user asked; cancelling leaves `store` alone and gives no message.
CaptureImport importLogicFile(const std::filesystem::path& path, ufcs::CaptureStore& store,
                              const LineChooser& choose);

// Whether `path` names a file this folder reads (.vcd, .csv, .sr), by its extension.
bool isLogicFile(const std::filesystem::path& path);
// Reads a logic file by its extension.
LogicLoad readLogicFile(const std::filesystem::path& path);

}  // namespace logic
