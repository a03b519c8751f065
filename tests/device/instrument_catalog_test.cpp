// The device a program holds among several instruments: which one open()
// takes, what it says when it takes none, and that the one it took speaks
// through it (reads, writes, removal).

#include "device/instrument_catalog.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// An instrument of the fake catalog: how its open() ends, and what it saw.
struct FakeState {
    std::string openError;  // empty: opens
    bool open = false;
    int writes = 0;
};

class FakeDevice final : public device::HidDevice {
  public:
    FakeDevice(FakeState& state, device::AttachedInstrument identity)
        : state_(state), identity_(std::move(identity)) {}
    bool open() override {
        if (!state_.openError.empty()) return false;
        return state_.open = true;
    }
    void close() override { state_.open = false; }
    bool isOpen() const override { return state_.open; }
    int write(const uint8_t*) override {
        ++state_.writes;
        return device::kWritten;
    }
    int read(uint8_t*) override {
        reportRemoval();
        return device::kRemoved;
    }
    std::string errorText() const override { return state_.openError; }
    device::AttachedInstrument identity() const override { return identity_; }

  private:
    FakeState& state_;
    const device::AttachedInstrument identity_;
};

class FakeCatalog final : public device::InstrumentCatalog {
  public:
    std::vector<device::AttachedInstrument> attached() override { return attached_; }
    std::unique_ptr<device::HidDevice> deviceFor(const device::AttachedInstrument& i) override {
        return std::make_unique<FakeDevice>(states[i.path], i);
    }
    std::vector<device::AttachedInstrument> attached_ = {
        {"/dev/hidraw1", "A1"}, {"/dev/hidraw2", "B2"}, {"/dev/hidraw3", ""}};
    std::map<std::string, FakeState> states;
};

TEST(ChoosingDevice, TakesTheNamedOrFirstFreeInstrumentAndNamesTheBusyOnes) {
    struct Case {
        const char* name;
        std::string selector;
        std::map<std::string, std::string> openErrors;  // by path
        std::string takes;                              // path; empty: open() fails
        std::string passedOver;                         // names, as the message lists them
        std::string error;
    };
    const std::string busy = device::kBusyText;
    const std::vector<Case> cases = {
        {"first", "", {}, "/dev/hidraw1", "", ""},
        {"first busy", "", {{"/dev/hidraw1", busy}}, "/dev/hidraw2", "A1", ""},
        {"two busy, the one without serial named by path",
         "",
         {{"/dev/hidraw1", busy}, {"/dev/hidraw2", busy}},
         "/dev/hidraw3",
         "A1、B2",
         ""},
        {"all busy",
         "",
         {{"/dev/hidraw1", busy}, {"/dev/hidraw2", busy}, {"/dev/hidraw3", busy}},
         "",
         "",
         busy + "：A1、B2、/dev/hidraw3"},
        {"another problem is told before busy",
         "",
         {{"/dev/hidraw1", busy}, {"/dev/hidraw2", "权限不够"}, {"/dev/hidraw3", busy}},
         "",
         "",
         "权限不够"},
        {"named by serial", "B2", {}, "/dev/hidraw2", "", ""},
        {"named by path", "/dev/hidraw3", {}, "/dev/hidraw3", "", ""},
        {"named and busy: no other is taken",
         "B2",
         {{"/dev/hidraw2", busy}},
         "",
         "",
         busy + "：B2"},
        {"named and absent", "Z9", {}, "", "", std::string(device::kNotFoundText) + " Z9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto catalog = std::make_shared<FakeCatalog>();
        for (const auto& [path, error] : c.openErrors)
            catalog->states[path].openError = error;
        device::ChoosingDevice device(catalog, c.selector);
        EXPECT_EQ(device.open(), !c.takes.empty());
        EXPECT_EQ(device.isOpen(), !c.takes.empty());
        if (c.takes.empty()) {
            EXPECT_EQ(device.errorText(), c.error);
            continue;
        }
        EXPECT_EQ(device.identity().path, c.takes);
        EXPECT_EQ(device::namesOf(device.passedOver()), c.passedOver);
        EXPECT_TRUE(catalog->states[c.takes].open);
        device.close();
        EXPECT_FALSE(catalog->states[c.takes].open);
    }
}

TEST(ChoosingDevice, NoInstrumentAttached) {
    auto catalog = std::make_shared<FakeCatalog>();
    catalog->attached_.clear();
    device::ChoosingDevice device(catalog);
    EXPECT_FALSE(device.open());
    EXPECT_EQ(device.errorText(), device::kNotFoundText);
    std::array<uint8_t, device::kLinkReportLength> report{};
    EXPECT_EQ(device.write(report.data()), device::kFailed);
    EXPECT_EQ(device.read(report.data()), device::kFailed);
}

TEST(ChoosingDevice, AChosenInstrumentIsNamedAtOnceAndKeptThroughAReplug) {
    auto catalog = std::make_shared<FakeCatalog>();
    device::ChoosingDevice device(catalog);
    device.choose(device::AttachedInstrument{"/dev/hidraw2", "B2"});
    EXPECT_EQ(device.identity().name(), "B2");  // before it was ever opened: the window's title
    // Unplugged and plugged in again under another path: the serial still finds it.
    catalog->attached_ = {{"/dev/hidraw1", "A1"}, {"/dev/hidraw7", "B2"}};
    ASSERT_TRUE(device.open());
    EXPECT_EQ(device.identity().path, "/dev/hidraw7");
    device.close();
    // One without a serial number is kept by its path.
    device.choose(device::AttachedInstrument{"/dev/hidraw3", ""});
    catalog->attached_.push_back({"/dev/hidraw3", ""});
    ASSERT_TRUE(device.open());
    EXPECT_EQ(device.identity().path, "/dev/hidraw3");
}

TEST(ChoosingDevice, TheInstrumentTakenSpeaksThroughItAndItsRemovalIsHeard) {
    auto catalog = std::make_shared<FakeCatalog>();
    device::ChoosingDevice device(catalog);
    int removals = 0;
    device.setRemovalHandler([&] { ++removals; });
    ASSERT_TRUE(device.open());
    std::array<uint8_t, device::kLinkReportLength> report{};
    EXPECT_EQ(device.write(report.data()), device::kWritten);
    EXPECT_EQ(catalog->states["/dev/hidraw1"].writes, 1);
    EXPECT_EQ(device.read(report.data()), device::kRemoved);
    EXPECT_EQ(removals, 1);
}

}  // namespace
