#pragma once
// What `ufcs devices` and the windows' chooser show of each attached
// instrument: its path and serial number, whether another program holds it,
// and, for a free one, its versions from the connect reply.

#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "device/instrument_catalog.h"
#include "instrument/firmware_transfer.h"

namespace instrument {

struct ListedInstrument {
    enum class State { Free, Busy, Unavailable };
    device::AttachedInstrument attached;
    State state = State::Free;
    std::optional<InstrumentVersions> versions;  // a free instrument that answered the connect
    std::string problem;                         // why it is unavailable
};

// Opens each attached instrument in turn (one no other program holds) for its
// connect reply, and closes it again. Takes a few hundred milliseconds an
// instrument: run it where waiting is allowed.
std::vector<ListedInstrument> listInstruments(device::InstrumentCatalog& catalog,
                                              common::Clock& clock);

// "free", "busy", "unavailable".
const char* stateWord(ListedInstrument::State state);

}  // namespace instrument
