// Any bytes offered as a DSView session (.dsl, a zip archive): a clear refusal or
// a recording, never a crash or a hang; then its lines decoded and imported as UFCS.
#include <cstdint>

#include "logic/session_archives.h"
#include "logic_load_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_support::checkLogicLoad(logic::readDsViewSession(data, size, "fuzz.dsl"));
    return 0;
}
