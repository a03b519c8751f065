// Any bytes offered as a recovery journal: a clear refusal or a document,
// never a crash, a hang or an allocation beyond what the bytes can hold.
#include <cstdint>
#include <cstdlib>

#include "recorder/journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    recorder::MemorySource source(data, size);
    const recorder::JournalRecovery recovery = recorder::recoverJournal(source, "fuzz.journal");
    if (!recovery.document) {
        if (recovery.message.empty()) std::abort();
        return 0;
    }
    uint64_t samples = 0;
    for (int c = 0; c < recorder::kChannelCount; ++c)
        samples += recovery.document->channel(c).count();
    // Two bytes a sample at least, so the samples cannot outgrow the bytes.
    if (samples != recovery.samples || 2 * samples > size) std::abort();
    return 0;
}
