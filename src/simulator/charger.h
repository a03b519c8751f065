#pragma once
// The simulated charger (UFCS source): a table of output modes, the output it
// has granted, and its answers to what the phone sends.

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace simulator {

struct OutputMode {
    uint8_t number = 1;
    uint16_t minMillivolts = 3400;
    uint16_t maxMillivolts = 5500;
    uint16_t minMilliamps = 100;
    uint16_t maxMilliamps = 3000;
};

// The charger's output modes, as its Output_Capabilities message lists them.
std::vector<OutputMode> defaultOutputModes();
// The 8-byte mode records of an Output_Capabilities message (big-endian).
std::vector<uint8_t> outputCapabilityRecords(const std::vector<OutputMode>& modes);

// A charger that breaks the standard in one way, so that a qualification run
// has something to find.
struct ChargerFaults {
    bool lateReady = false;         // Power_Ready 450 ms after Accept for a voltage above 20 V
    bool outputOff = false;         // the output settles 1 V above what was granted
    bool readBackOff = false;       // Source_Information reports 300 mV above the output
    bool refuseInRange = false;     // a Request for a mode's highest voltage refused
    bool acceptOutOfRange = false;  // a Request beyond a mode's range granted
    bool unanswered = false;        // Get_Device_Info acknowledged, never answered
    bool slowAck = false;           // every ACK 15 ms after the message's end
    bool skipNumber = false;        // its numbering skips one after its third message
    bool operator==(const ChargerFaults&) const = default;
};

using Message = std::vector<uint8_t>;  // a whole UFCS message: Training byte, header, body, CRC

class Charger {
  public:
    explicit Charger(uint32_t seed, std::vector<OutputMode> modes = defaultOutputModes(),
                     ChargerFaults faults = {});
    const ChargerFaults& faults() const { return faults_; }

    // The charger's answer to one message from the phone, in bus order: ACK
    // (NCK for a bad CRC) and then whatever it sends back. A granted request
    // changes the output only when settleOutput() is called, as Power_Ready goes out.
    std::vector<Message> answer(const Message& fromPhone);
    void settleOutput();

    // Messages the charger starts on its own.
    Message control(uint8_t command);
    Message data(uint8_t command, const std::vector<uint8_t>& body);

    // Back to 5 V at the first mode, as after a hardware reset or leaving UFCS.
    void reset();

    uint16_t outputMillivolts() const { return outputMillivolts_; }
    uint16_t loadMilliamps() const { return loadMilliamps_; }
    uint16_t grantedVoltage10mV() const { return grantedVoltage10mV_; }
    uint16_t grantedCurrent10mA() const { return grantedCurrent10mA_; }
    uint8_t grantedMode() const { return grantedMode_; }
    const std::vector<OutputMode>& modes() const { return modes_; }

    // The table the instrument reports to the analyzer: up to 15 entries of
    // 8 bytes, little-endian (step bits, max V, min V in 10 mV; max I in 10 mA, min I in 10 mA).
    std::array<uint8_t, 120> capabilityTable() const;

  private:
    // ACK or NCK of a message: its number, not one of the charger's own.
    Message acknowledge(const Message& fromPhone, uint8_t command) const;
    void answerRequest(const Message& request, std::vector<Message>& replies);
    uint32_t uniform(uint32_t low, uint32_t high);

    uint8_t nextNumber();

    std::vector<OutputMode> modes_;
    ChargerFaults faults_;
    std::mt19937 rng_;
    uint8_t messageNumber_ = 0;
    unsigned messagesSent_ = 0;
    uint16_t outputMillivolts_ = 5000;
    uint16_t loadMilliamps_ = 500;
    uint16_t pendingLoadMilliamps_ = 500;
    uint16_t grantedVoltage10mV_ = 500;
    uint16_t grantedCurrent10mA_ = 300;
    uint8_t grantedMode_ = 1;
};

}  // namespace simulator
