// Any bytes offered as a VCD or a CSV of a logic analyzer (the first byte picks
// which): a clear refusal or a recording, never a crash or a hang, and never
// more edges than the bytes could describe; then its lines decoded as UFCS,
// and the first two imported as a capture with their signals and findings.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "logic/text_readers.h"
#include "logic_load_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    const logic::LogicLoad load = data[0] % 2 == 0 ? logic::readVcd(in, "fuzz.vcd")
                                                   : logic::readTransitionCsv(in, "fuzz.csv");
    // Each edge takes at least two bytes of text.
    if (fuzz_support::checkLogicLoad(load) > size) std::abort();
    return 0;
}
