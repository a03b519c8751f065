#include "instrument/instrument_listing.h"

namespace instrument {

std::vector<ListedInstrument> listInstruments(device::InstrumentCatalog& catalog,
                                              common::Clock& clock) {
    std::vector<ListedInstrument> listed;
    for (const device::AttachedInstrument& attached : catalog.attached()) {
        ListedInstrument entry;
        entry.attached = attached;
        const std::unique_ptr<device::HidDevice> device = catalog.deviceFor(attached);
        if (device->open()) {
            entry.versions = readInstrumentVersions(*device, clock);
            device->close();
        } else if (device->errorText() == device::kBusyText) {
            entry.state = ListedInstrument::State::Busy;
        } else {
            entry.state = ListedInstrument::State::Unavailable;
            entry.problem = device->errorText();
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
