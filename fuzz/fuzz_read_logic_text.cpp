// Any bytes offered as a VCD or a CSV of a logic analyzer (the first byte picks
// which): a clear refusal or a recording, never a crash or a hang, and never
// more edges than the bytes could describe; then its lines decoded as UFCS,
// and the first two imported as a capture with their signals and findings.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "logic/capture_import.h"
#include "logic/line_decoder.h"
#include "logic/text_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    const logic::LogicLoad load = data[0] % 2 == 0 ? logic::readVcd(in, "fuzz.vcd")
                                                   : logic::readTransitionCsv(in, "fuzz.csv");
    if (!load.recording) {
        if (load.message.empty()) std::abort();
        return 0;
    }
    std::size_t edges = 0;
    for (const logic::DigitalChannel& line : load.recording->channels) {
        edges += line.changes.size();
        for (const logic::LinePacket& packet : logic::decodeLine(line, load.recording->sampleRate))
            if (packet.bytes.empty() || packet.bytes.size() > edges + 1) std::abort();
    }
    if (edges > size) std::abort();  // each edge takes at least two bytes of text
    if (load.recording->channels.size() < 2) return 0;
    static const auto store = ufcs::CaptureStore::create();
    const logic::CaptureImport imported = logic::importRecording(*load.recording, {}, *store);
    if (store->count() > edges + 1) std::abort();  // every record starts at an edge
    for (const ufcs::SequenceNote& finding : imported.findings)
        if (finding.index == 0 || finding.index >= store->count()) std::abort();
    return 0;
}
