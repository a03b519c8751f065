#pragma once
// Catches a window thread that waits: a clock and a device wrapper that count
// every pause, wait and device call made on the thread that built them (the
// owner's), while the link thread may do all of those freely.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "common/clock.h"
#include "device/hid_device.h"

namespace testing_support {

class OwnerThreadGuard {
  public:
    bool onOwner() const { return std::this_thread::get_id() == owner_; }
    void note(const char* what) {
        if (!onOwner()) return;
        ++violations_;
        last_ = what;
    }
    int violations() const { return violations_.load(); }
    std::string last() const {
        const char* what = last_.load();
        return what ? what : "";
    }

  private:
    std::thread::id owner_ = std::this_thread::get_id();
    std::atomic<int> violations_{0};
    std::atomic<const char*> last_{nullptr};
};

// Real time, but a pause or a wait on the owner's thread is counted.
class GuardedClock final : public common::Clock {
  public:
    explicit GuardedClock(OwnerThreadGuard& guard) : guard_(guard) {}
    TimePoint now() const override { return real_.now(); }
    common::LocalTime localTime() const override { return real_.localTime(); }
    void sleepFor(std::chrono::milliseconds duration) override {
        guard_.note("a pause");
        real_.sleepFor(duration);
    }
    void sleepUntil(TimePoint deadline) override {
        guard_.note("a pause until a deadline");
        real_.sleepUntil(deadline);
    }
    void waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline) override {
        guard_.note("a wait");
        real_.waitUntil(condition, lock, deadline);
    }

  private:
    OwnerThreadGuard& guard_;
    common::SystemClock real_;
};

// The device, but every call that talks to it on the owner's thread is counted.
class GuardedDevice final : public device::HidDevice {
  public:
    GuardedDevice(device::HidDevice& inner, OwnerThreadGuard& guard)
        : inner_(inner), guard_(guard) {
        inner_.setRemovalHandler([this] { reportRemoval(); });
    }
    ~GuardedDevice() override { inner_.setRemovalHandler(nullptr); }
    bool open() override {
        guard_.note("open");
        return inner_.open();
    }
    void close() override {
        guard_.note("close");
        inner_.close();
    }
    bool isOpen() const override { return inner_.isOpen(); }
    int write(const uint8_t* buffer) override {
        guard_.note("write");
        return inner_.write(buffer);
    }
    int read(uint8_t* buffer) override {
        guard_.note("read");
        return inner_.read(buffer);
    }
    std::string errorText() const override { return inner_.errorText(); }

  private:
    device::HidDevice& inner_;
    OwnerThreadGuard& guard_;
};

// Resets `owned` when the scope ends, however a test ends: a window made on
// a guarded device and clock goes before them.
template <typename T>
struct ResetsFirst {
    std::unique_ptr<T>& owned;
    ~ResetsFirst() { owned.reset(); }
};

}  // namespace testing_support
