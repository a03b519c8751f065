#pragma once
// The meter protocol (the recorder's) on the instrument's link: the connect sequence, one
// sample exchange per tick, the request the window queues for the next tick,
// and the stop sequence. Every exchange with the instrument, and every pause
// between them, runs on the instrument's link thread; the owner's calls
// return at once and results come back through its event loop.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "common/event_loop.h"
#include "device/hid_device.h"
#include "device/instrument_link.h"
#include "instrument/meter_frames.h"

namespace instrument {

inline constexpr std::string_view kMeterConnectFailed =
    "\r\n设备连接失败!\r\n请确认设备已经连接并没有被其它程序占用!"
    "\r\n如果连接协议分析软件，请停止监听\r\n";
inline constexpr std::string_view kNoDeviceInfo = "无法读取设备信息!";
inline constexpr std::string_view kDeviceRefused = "设备拒绝!";
inline constexpr std::string_view kNotConnected = "设备未连接";

// Faults the link posts to its owner.
inline constexpr int kFaultRemoved = 404;    // "设备非正常中断!"
inline constexpr int kFaultNoSamples = 405;  // "设备传输中断!"
inline constexpr int kFaultStoreFull = 406;  // a channel could take no more samples
inline constexpr int kMostTicksWithoutSample = 80;
inline constexpr auto kSampleReadWindow = std::chrono::milliseconds(200);

// Receives each valid sample, on the link thread; false when it could not be kept.
using SampleHandler = std::function<bool(MeterSample)>;

class MeterLink {
  public:
    MeterLink(device::HidDevice& device, common::Clock& clock, common::EventLoop& owner);
    // Stops sampling and leaves the instrument in order (StopMeasuring, closed)
    // before it returns: the link's last jobs run first.
    ~MeterLink();
    MeterLink(const MeterLink&) = delete;
    MeterLink& operator=(const MeterLink&) = delete;

    struct Connection {
        bool ok = false;
        std::string message;  // what to tell the user when not ok
        bool currentCalibrated = true;
    };
    // Owner thread: opens the instrument on the link thread, reads its
    // calibration word and starts measuring (the output switch set off), then
    // tells `done` on the owner's thread. On failure the device is closed. A
    // stop() before the answer comes cancels it: `done` is never told.
    void connect(std::function<void(const Connection&)> done);
    // Owner thread: connected (the answer has come and was a yes) and not stopped since.
    bool connected() const { return connected_; }
    // Owner thread: a connect is on its way.
    bool connecting() const { return connecting_; }

    // Owner thread: one exchange every `period` on the link thread until stop().
    // Faults (kFault*) are posted to `onFault`, once.
    void startSampling(std::chrono::milliseconds period, SampleHandler onSample,
                       std::function<void(int)> onFault);
    // What startSampling() does before the ticks begin: the handlers set, the
    // miss counts and any queued request cleared (tests then call tick()).
    void arm(SampleHandler onSample, std::function<void(int)> onFault);
    // Owner thread, returns at once: the ticks stop, then on the link thread,
    // when its connect opened the device (one on its way included),
    // StopMeasuring (110 ms first) and the device closes.
    void stop();

    enum class QueueResult { SentNow, AtNextTick, NotConnected };
    // Owner thread. A request for the instrument: sent at once (on the link
    // thread) when connected and not sampling (if `sendWhenIdle`), else at the
    // next tick while sampling.
    QueueResult queue(const device::CommandFrame& request, bool sendWhenIdle = true);

    // Link thread (public for tests): one sampling tick.
    void tick();
    uint32_t missedSampleCount() const { return missed_.load(std::memory_order_relaxed); }
    // Ticks of this test that brought no valid sample.
    uint64_t ticksWithoutSample() const { return ticksWithout_.load(std::memory_order_relaxed); }
    // True while the link still has exchanges or pauses to run (a connect, a stop).
    bool busy() const { return link_.busy(); }

  private:
    // Link thread.
    Connection connectOnLink();
    void closeOnLink();
    void sendPending();  // write, clear, 100 ms
    // Reads until a sample or the read window ends (once when `once`); true when
    // a sample came and was handed on.
    bool readSample(bool once);
    void raiseFault(int code);

    device::HidDevice& device_;
    common::Clock& clock_;
    common::EventLoop& owner_;
    // What the link posts to the owner is dropped once this is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    // Owner thread.
    bool connected_ = false;
    bool connecting_ = false;
    uint32_t attempt_ = 0;  // counts connects and stops, so a cancelled connect's answer is dropped
    // Link thread (set while connecting, read while sampling).
    bool opened_ = false;  // this link opened the device, and closes it
    std::atomic<bool> currentCalibrated_{true};
    SampleHandler onSample_;
    std::function<void(int)> onFault_;
    std::atomic<uint32_t> missed_{0};
    std::atomic<uint64_t> ticksWithout_{0};
    std::atomic<bool> faulted_{false};
    std::atomic<uint32_t> test_{0};  // counts the tests, so late news of an earlier one is ignored
    std::mutex pendingMutex_;
    bool pending_ = false;
    device::CommandFrame pendingRequest_{};
    // Last, so its thread ends before anything it uses goes.
    device::InstrumentLink link_;
};

}  // namespace instrument
