#pragma once
// The limits of the UFCS standard the suite judges a charger by: the protocol
// timers, the time a voltage change may take, and the steady-state accuracy
// of the output voltage and current. Each limit carries its name in the
// standard and the clause it comes from, so a finding can cite it.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace ufcs {

enum class LimitId : uint8_t {
    AckReceive,         // a message's last bit to its ACK
    SenderResponse,     // a question to its answer
    PowerSupply,        // Accept to Power_Ready, whatever the voltage
    MessageTransDelay,  // between two messages of one sender (a least time)
    PowerReady11V,      // Accept to Power_Ready, new voltage up to 11 V
    PowerReady20V,      // ... up to 20 V
    PowerReady30V,      // ... up to 30 V
};

struct StandardLimit {
    LimitId id;
    std::string_view name;    // "tACKReceive"
    uint32_t microseconds;    // the bound
    std::string_view clause;  // "7.3 表 27"
    bool atLeast;             // a least time rather than a longest one
};

inline constexpr StandardLimit kStandardLimits[] = {
    {LimitId::AckReceive, "tACKReceive", 10'000, "7.3 表 27", false},
    {LimitId::SenderResponse, "tSenderResponse", 50'000, "7.3 表 27", false},
    {LimitId::PowerSupply, "tPowerSupply", 550'000, "7.3 表 27", false},
    {LimitId::MessageTransDelay, "tMsgTransDelay", 2'000, "7.3 表 27", true},
    {LimitId::PowerReady11V, "tPowReady（≤11 V）", 120'000, "9.3 表 38", false},
    {LimitId::PowerReady20V, "tPowReady（≤20 V）", 275'000, "9.3 表 38", false},
    {LimitId::PowerReady30V, "tPowReady（≤30 V）", 400'000, "9.3 表 38", false},
};

constexpr const StandardLimit& standardLimit(LimitId id) {
    return kStandardLimits[static_cast<std::size_t>(id)];
}

inline std::span<const StandardLimit> standardLimits() {
    return kStandardLimits;
}

// The tPowReady that holds for a new voltage (mV); none above 30 V, where
// only tPowerSupply bounds the change.
std::optional<LimitId> powerReadyLimitFor(uint32_t millivolts);

// How far a measured value may stray in the steady state (mV or mA).
struct Tolerance {
    int32_t below = 0;  // the real value may be this much under ...
    int32_t above = 0;  // ... and this much over
    bool holds(int64_t real, int64_t reference) const {
        return real >= reference - below && real <= reference + above;
    }
    bool operator==(const Tolerance&) const = default;
};

struct AccuracyLimit {
    Tolerance ofSet;          // real against the value asked for
    Tolerance ofReadBack;     // real against what the charger reports
    std::string_view range;   // "3.4 V < V ≤ 5.5 V"
    std::string_view clause;  // "9.4 表 39"
    bool operator==(const AccuracyLimit&) const = default;
};

// Table 39 by the set voltage; none at or below 3.4 V or above 36 V.
std::optional<AccuracyLimit> voltageAccuracy(uint32_t millivolts);
// Table 40 by the set current; none at 0 or above 18 A.
std::optional<AccuracyLimit> currentAccuracy(uint32_t milliamperes);

}  // namespace ufcs
