#pragma once
// Several instruments on one computer: the catalog lists every attached one
// and makes a device for each; `ChoosingDevice` is the device a program
// holds, which opens the instrument the user chose, or else the first one
// no other program holds.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/hid_device.h"

namespace device {

// How many simulated instruments a program may ask for (`--simulate=N`).
inline constexpr unsigned kMostSimulatedInstruments = 16;

class InstrumentCatalog {
  public:
    virtual ~InstrumentCatalog() = default;
    // Every attached instrument, in the system's order.
    virtual std::vector<AttachedInstrument> attached() = 0;
    // A device for `instrument`, not yet open.
    virtual std::unique_ptr<HidDevice> deviceFor(const AttachedInstrument& instrument) = 0;
};

// One attempt to open an attached instrument: the device, open, or whether
// another program holds it, or what else kept it shut.
struct InstrumentOpening {
    enum class Outcome { Opened, Busy, Unavailable };
    std::unique_ptr<HidDevice> device;  // open when Opened
    Outcome outcome = Outcome::Unavailable;
    std::string problem;  // the device's text when it is not Opened
};
InstrumentOpening openInstrument(InstrumentCatalog& catalog, const AttachedInstrument& instrument);

// The real instruments, through the system's HID backend (hidapi; on Windows
// the HID and SetupAPI calls); `lockFolder` holds the per-device lock files.
std::shared_ptr<InstrumentCatalog> makeInstrumentCatalog(const std::string& lockFolder);

// Whether `selector` (a serial number or a path, as `--device` takes it)
// names `instrument`; an empty selector names every one.
bool selects(const std::string& selector, const AttachedInstrument& instrument);

// The instruments' names joined for a message: "A、B".
std::string namesOf(const std::vector<AttachedInstrument>& instruments);
// What the user is told when the last open() of `device` passed busy
// instruments over: "仪器正被其它程序使用：A、B，改用 C"; empty when it passed none.
std::string passedOverText(const HidDevice& device);

class ChoosingDevice final : public HidDevice {
  public:
    explicit ChoosingDevice(std::shared_ptr<InstrumentCatalog> catalog, std::string selector = {});
    ~ChoosingDevice() override { close(); }

    // Owner, while closed: from now on open() takes only the instrument
    // `selector` names (empty: the first free one again).
    void choose(std::string selector);
    // The same for one listed instrument, named by its serial number when it
    // has one (a replug may give it a new path); identity() names it at once.
    void choose(const AttachedInstrument& instrument);
    std::string selector() const;
    InstrumentCatalog& catalog() { return *catalog_; }

    // Tries each instrument the selector names, in order, passing over those
    // another program holds; fails naming them when every one is held.
    bool open() override;
    void close() override;
    bool isOpen() const override;
    int write(const uint8_t* buffer) override;
    int read(uint8_t* buffer) override;
    std::string errorText() const override;
    AttachedInstrument identity() const override;
    std::vector<AttachedInstrument> passedOver() const override;

  private:
    bool fail(std::string text);

    const std::shared_ptr<InstrumentCatalog> catalog_;
    // The open device is swapped only by open() and close(), which never run
    // beside a read or a write; the lock is for the any-thread questions.
    mutable std::mutex mutex_;
    std::string selector_;
    std::unique_ptr<HidDevice> open_;
    AttachedInstrument instrument_;
    std::vector<AttachedInstrument> passedOver_;
    std::string error_;
};

}  // namespace device
