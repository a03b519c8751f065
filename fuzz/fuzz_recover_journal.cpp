// Any bytes offered as a recovery journal: a clear refusal or a document,
// never a crash, a hang or an allocation beyond what the bytes can hold.
#include <algorithm>
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
    uint64_t samples = 0, longest = 0;
    for (int c = 0; c < recorder::kChannelCount; ++c) {
        samples += recovery.document->channel(c).count();
        longest = std::max<uint64_t>(longest, recovery.document->channel(c).count());
    }
    // Two bytes a sample at least, gaps held across damage included, so the
    // samples cannot outgrow the bytes; and what was lost is among the samples.
    if (longest != recovery.samples || 2 * samples > size || recovery.unreadable > longest)
        std::abort();
    return 0;
}
