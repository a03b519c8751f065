#pragma once
// What every logic reader's fuzz target asks of a result: a refusal says why; a
// recording has no more edges than samples, packets that hold bytes, analog lines
// within their bound; and it goes on through import (the first two lines, the
// analog ones as the bus) to findings that point at records of the capture.
#include <cstdlib>

#include "logic/capture_import.h"
#include "logic/line_decoder.h"

namespace fuzz_support {

// The number of edges the recording has in all (0 for a refusal).
inline std::size_t checkLogicLoad(const logic::LogicLoad& load) {
    if (!load.recording) {
        if (load.message.empty() || load.cancelled) std::abort();
        return 0;
    }
    const logic::LogicRecording& recording = *load.recording;
    std::size_t edges = 0;
    for (const logic::DigitalChannel& line : recording.channels) {
        if (line.changes.size() > recording.sampleCount) std::abort();
        edges += line.changes.size();
        for (const logic::LinePacket& packet : logic::decodeLine(line, recording.sampleRate))
            if (packet.bytes.empty() || packet.bytes.size() > edges + 1) std::abort();
    }
    for (const logic::AnalogChannel& analog : recording.analog)
        if (analog.points.empty() || analog.points.size() > logic::kMostAnalogPoints) std::abort();
    if (recording.channels.size() < 2) return edges;
    static const auto store = ufcs::CaptureStore::create();
    logic::LineRoles roles;
    if (!recording.analog.empty()) roles.vbus = roles.ibus = 0;
    const logic::CaptureImport imported = logic::importRecording(recording, roles, *store);
    if (store->count() > edges + 1) std::abort();  // every record starts at an edge
    for (const ufcs::SequenceNote& finding : imported.findings)
        if (finding.index == 0 || finding.index >= store->count()) std::abort();
    return edges;
}

}  // namespace fuzz_support
