#include "instrument/instrument_listing.h"

namespace instrument {

std::vector<ListedInstrument> listInstruments(device::InstrumentCatalog& catalog,
                                              common::Clock& clock) {
    std::vector<ListedInstrument> listed;
    for (const device::AttachedInstrument& attached : catalog.attached()) {
        ListedInstrument entry;
        entry.attached = attached;
        const device::InstrumentOpening opening = device::openInstrument(catalog, attached);
        switch (opening.outcome) {
            case device::InstrumentOpening::Outcome::Opened:
                entry.versions = readInstrumentVersions(*opening.device, clock);
                opening.device->close();
                break;
            case device::InstrumentOpening::Outcome::Busy:
                entry.state = ListedInstrument::State::Busy;
                break;
            case device::InstrumentOpening::Outcome::Unavailable:
                entry.state = ListedInstrument::State::Unavailable;
                entry.problem = opening.problem;
                break;
        }
        listed.push_back(std::move(entry));
    }
    return listed;
}

const char* stateWord(ListedInstrument::State state) {
    switch (state) {
        case ListedInstrument::State::Free:
            return "free";
        case ListedInstrument::State::Busy:
            return "busy";
        case ListedInstrument::State::Unavailable:
            return "unavailable";
    }
    return "unavailable";
}

}  // namespace instrument
