#include "device/instrument_catalog.h"

namespace device {

bool selects(const std::string& selector, const AttachedInstrument& instrument) {
    return selector.empty() || selector == instrument.serial || selector == instrument.path;
}

std::string namesOf(const std::vector<AttachedInstrument>& instruments) {
    std::string names;
    for (const AttachedInstrument& instrument : instruments)
        names += (names.empty() ? "" : "、") + instrument.name();
    return names;
}

std::string passedOverText(const HidDevice& device) {
    const std::vector<AttachedInstrument> busy = device.passedOver();
    if (busy.empty()) return {};
    return std::string(kBusyText) + "：" + namesOf(busy) + "，改用 " + device.identity().name();
}

ChoosingDevice::ChoosingDevice(std::shared_ptr<InstrumentCatalog> catalog, std::string selector)
    : catalog_(std::move(catalog)), selector_(std::move(selector)) {}

void ChoosingDevice::choose(std::string selector) {
    std::lock_guard guard(mutex_);
    selector_ = std::move(selector);
}

void ChoosingDevice::choose(const AttachedInstrument& instrument) {
    std::lock_guard guard(mutex_);
    selector_ = instrument.serial.empty() ? instrument.path : instrument.serial;
    instrument_ = instrument;
}

std::string ChoosingDevice::selector() const {
    std::lock_guard guard(mutex_);
    return selector_;
}

InstrumentOpening openInstrument(InstrumentCatalog& catalog, const AttachedInstrument& instrument) {
    InstrumentOpening opening;
    opening.device = catalog.deviceFor(instrument);
    if (opening.device->open()) {
        opening.outcome = InstrumentOpening::Outcome::Opened;
        return opening;
    }
    opening.problem = opening.device->errorText();
    opening.outcome = opening.problem == kBusyText ? InstrumentOpening::Outcome::Busy
                                                   : InstrumentOpening::Outcome::Unavailable;
    return opening;
}

bool ChoosingDevice::fail(std::string text) {
    std::lock_guard guard(mutex_);
    error_ = std::move(text);
    return false;
}

bool ChoosingDevice::open() {
    close();
    const std::string wanted = selector();
    std::vector<AttachedInstrument> busy;
    std::string otherProblem;
    bool any = false;
    for (const AttachedInstrument& candidate : catalog_->attached()) {
        if (!selects(wanted, candidate)) continue;
        any = true;
        InstrumentOpening opening = openInstrument(*catalog_, candidate);
        if (opening.outcome == InstrumentOpening::Outcome::Busy) {
            busy.push_back(candidate);
            continue;
        }
        if (opening.outcome == InstrumentOpening::Outcome::Unavailable) {
            if (otherProblem.empty()) otherProblem = opening.problem;
            continue;
        }
        // The removal of the instrument is this device's removal.
        opening.device->setRemovalHandler([this] { reportRemoval(); });
        std::lock_guard guard(mutex_);
        open_ = std::move(opening.device);
        instrument_ = candidate;
        passedOver_ = std::move(busy);
        error_.clear();
        return true;
    }
    if (!any)
        return fail(wanted.empty() ? kNotFoundText : std::string(kNotFoundText) + " " + wanted);
    if (!otherProblem.empty()) return fail(otherProblem);
    return fail(std::string(kBusyText) + "：" + namesOf(busy));
}

void ChoosingDevice::close() {
    std::unique_ptr<HidDevice> closing;
    {
        std::lock_guard guard(mutex_);
        closing = std::move(open_);
    }
    if (closing) {
        closing->setRemovalHandler(nullptr);
        closing->close();
    }
}

bool ChoosingDevice::isOpen() const {
    std::lock_guard guard(mutex_);
    return open_ && open_->isOpen();
}

int ChoosingDevice::write(const uint8_t* buffer) {
    if (!open_) {
        fail("write: the instrument is not open");
        return kFailed;
    }
    return open_->write(buffer);
}

int ChoosingDevice::read(uint8_t* buffer) {
    if (!open_) {
        fail("read: the instrument is not open");
        return kFailed;
    }
    return open_->read(buffer);
}

std::string ChoosingDevice::errorText() const {
    std::lock_guard guard(mutex_);
    return open_ ? open_->errorText() : error_;
}

AttachedInstrument ChoosingDevice::identity() const {
    std::lock_guard guard(mutex_);
    return instrument_;
}

std::vector<AttachedInstrument> ChoosingDevice::passedOver() const {
    std::lock_guard guard(mutex_);
    return passedOver_;
}

}  // namespace device
