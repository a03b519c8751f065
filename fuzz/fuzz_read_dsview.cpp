// Any bytes offered as a DSView session (.dsl, a zip archive): a clear refusal or
// a recording, never a crash or a hang, and no more edges than samples read;
// then its lines decoded as UFCS.
#include <cstdint>
#include <cstdlib>

#include "logic/line_decoder.h"
#include "logic/session_archives.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const logic::LogicLoad load = logic::readDsViewSession(data, size, "fuzz.dsl");
    if (!load.recording) {
        if (load.message.empty()) std::abort();
        return 0;
    }
    for (const logic::DigitalChannel& line : load.recording->channels) {
        if (line.changes.size() > load.recording->sampleCount) std::abort();
        for (const logic::LinePacket& packet : logic::decodeLine(line, load.recording->sampleRate))
            if (packet.bytes.empty()) std::abort();
    }
    return 0;
}
