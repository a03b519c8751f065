// Any bytes offered as an .osa file: a clear refusal or a document, never a
// crash, a hang or an allocation beyond what the bytes can hold.
#include <cstdint>
#include <cstdlib>

#include "recorder/osa_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    recorder::MemorySource source(data, size);
    const recorder::OsaLoad load = recorder::loadOsa(source, "fuzz.osa");
    if (!load.document) {
        if (load.message.empty()) std::abort();
        return 0;
    }
    // Every sample the counts promise came from the bytes.
    uint64_t samples = 0;
    for (int c = 0; c < recorder::kChannelCount; ++c) {
        const plot::SampledSeries& channel = load.document->channel(c);
        samples += channel.count();
        if (channel.count() > 0) (void)channel.at(channel.count() - 1);
    }
    if (recorder::kOsaHeaderSize + 2 * samples > size) std::abort();
    return 0;
}
