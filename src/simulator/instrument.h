#pragma once
// The simulated instrument: what the analyzer reaches through the USB link.
// Listening, it captures a charger and a phone negotiating on their own;
// emulating a charging device, it is the phone itself, reports the charger's
// output modes and live values, and sends the messages the analyzer asks for.
// It answers every instrument command and can be made to misbehave for tests.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "simulator/bus.h"
#include "simulator/bus_traffic.h"

namespace simulator {

struct InstrumentSettings {
    uint32_t seed = 1;
    uint16_t calibrationValue = 1000;  // 1.000; 0xFFFF: not calibrated
    uint16_t secondValue = 0x0064;
    uint16_t currentRangeMa = 6000;
    std::array<uint8_t, 3> hardwareVersion = {0x00, 0x01, 0x02};  // connect reply bytes 13-15
    uint16_t firmwareVersion = 0x0105;                            // bytes 16-17
    uint16_t ufcsVersion = 0x0100;                                // bytes 18-19
    double recordsPerSecond = 25;  // bus events captured per second while listening
    double faultRate = 0.02;
};

using LinkReport = std::array<uint8_t, 65>;  // report id byte, then the 64 report bytes

class Instrument {
  public:
    explicit Instrument(InstrumentSettings settings = {});

    // The link: a write from the host, and a read that waits up to `wait` for a report.
    // Results as the device backends return them (kWritten, kDataRead, kTimedOut, kRemoved).
    int receive(const uint8_t* frame);
    int deliver(uint8_t* report, std::chrono::milliseconds wait);
    bool plugged() const;

    // Control for tests and stress runs.
    void unplug();
    void plugIn();
    void setAnswering(bool answering);  // false: commands are taken but nothing comes back
    void setCalibrationValue(uint16_t value);
    void setRecordsPerSecond(double rate);
    void injectTraffic(std::size_t events);  // captured at once, whatever the rate
    void injectLostPage();                   // a continuation page without its first page
    void injectFaults(unsigned count);       // the next bus events are faulty frames
    void sendCalibrationResult(uint16_t value, uint8_t index);

    std::vector<LinkReport> receivedFrames() const;
    void clearReceivedFrames();
    uint64_t eventsCaptured() const;
    bool listening() const;
    bool emulatingChargingDevice() const;

  private:
    void handleCommand(uint8_t code, uint8_t param);
    void handleSend(const uint8_t* frame);
    void takeSegment(const uint8_t* frame);
    void startListening();
    void startChargingDevice();
    void queueReport(const Report& report);
    void queueEvent(const BusEvent& event);
    void drainBus(Bus& bus);
    void generateDueTraffic();
    Report connectReply() const;
    Charger& activeCharger();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    InstrumentSettings settings_;
    std::deque<Report> outbox_;
    std::vector<LinkReport> received_;
    bool plugged_ = true;
    bool answering_ = true;
    bool listening_ = false;
    bool chargingDevice_ = false;
    BusTraffic traffic_;
    Bus phoneBus_;  // the bus while the instrument itself is the phone
    std::chrono::steady_clock::time_point trafficStart_;
    uint64_t trafficDue_ = 0;  // events the rate has asked for since trafficStart_
    uint64_t eventsCaptured_ = 0;
    std::vector<uint8_t> segmented_;  // a vendor or custom message arriving in several frames
};

}  // namespace simulator
