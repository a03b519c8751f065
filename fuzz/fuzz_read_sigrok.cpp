// Any bytes offered as a sigrok session (.sr, a zip archive): a clear refusal or
// a recording, never a crash or a hang, and no more edges than samples read;
// then its lines decoded and imported as UFCS, its analog lines as the bus.
#include <cstdint>
#include <cstdlib>

#include "logic/capture_import.h"
#include "logic/line_decoder.h"
#include "logic/session_archives.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const logic::LogicLoad load = logic::readSigrokSession(data, size, "fuzz.sr");
    if (!load.recording) {
        if (load.message.empty()) std::abort();
        return 0;
    }
    for (const logic::DigitalChannel& line : load.recording->channels) {
        if (line.changes.size() > load.recording->sampleCount) std::abort();
        for (const logic::LinePacket& packet : logic::decodeLine(line, load.recording->sampleRate))
            if (packet.bytes.empty()) std::abort();
    }
    for (const logic::AnalogChannel& analog : load.recording->analog)
        if (analog.points.empty() || analog.points.size() > logic::kMostAnalogPoints) std::abort();
    if (load.recording->channels.size() < 2) return 0;
    // On through import, with the analog lines (if any) as the bus.
    static const auto store = ufcs::CaptureStore::create();
    logic::LineRoles roles;
    if (!load.recording->analog.empty()) roles.vbus = roles.ibus = 0;
    const logic::CaptureImport imported = logic::importRecording(*load.recording, roles, *store);
    for (const ufcs::SequenceNote& finding : imported.findings)
        if (finding.index == 0 || finding.index >= store->count()) std::abort();
    return 0;
}
