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
    // Analog lines for the records' bus voltage and current, each with the factor that
    // makes its reading volts or amperes (a divider, a shunt's amplifier).
    std::optional<std::size_t> vbus{}, ibus{};
    double vbusScale = 1, ibusScale = 1;
};

// The lines named D+ and D- (also DP/DM, D_P, "USB D+", ...), else the first two; a
// line given by number (0-based) wins. Analog lines named VBUS or IBUS (V, I, Voltage,
// Current) carry the bus. Nothing when there are not two lines to use.
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

// What a user may say of a file's lines: D+ and D- by number (0-based), the analog
// lines of the bus voltage and current by name, with their scales.
struct LineRequest {
    std::optional<std::size_t> dplus{}, dminus{};
    std::string vbus{}, ibus{};
    double vbusScale = 1, ibusScale = 1;
};

struct LineNames {
    std::vector<std::string> digital, analog;
};
// Asked, when the names of a file's lines do not say which are D+ and D- (or which
// analog line is the bus), which to use: the names of all lines, and the choice made
// without asking. Nothing: cancelled.
using LineChooser =
    std::function<std::optional<LineRoles>(const LineNames& names, const LineRoles& proposed)>;

// A read recording's lines chosen (by name unless `request` gives them, `choose` asked
// if set and needed) and imported into `store`; one message naming `fileName` for
// whatever stopped it. Cancelling leaves `store` alone and gives no message.
CaptureImport importLoaded(const LogicRecording& recording, const std::string& fileName,
                           ufcs::CaptureStore& store, const LineRequest& request = {},
                           const LineChooser& choose = {});
// The same for a file, read first.
CaptureImport importLogicFile(const std::filesystem::path& path, ufcs::CaptureStore& store,
                              const LineRequest& request = {}, const LineChooser& choose = {});

// Whether `path` names a file this folder reads (.vcd, .csv, .sr), by its extension.
bool isLogicFile(const std::filesystem::path& path);
// Reads a logic file by its extension, telling `progress` how far it has come.
LogicLoad readLogicFile(const std::filesystem::path& path, const ReadProgress& progress = {});

}  // namespace logic
