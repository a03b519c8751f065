#include "ufcs/standard_limits.h"

namespace ufcs {

static_assert(std::size(kStandardLimits) == static_cast<std::size_t>(LimitId::PowerReady30V) + 1);

std::optional<LimitId> powerReadyLimitFor(uint32_t millivolts) {
    if (millivolts <= 11'000) return LimitId::PowerReady11V;
    if (millivolts <= 20'000) return LimitId::PowerReady20V;
    if (millivolts <= 30'000) return LimitId::PowerReady30V;
    return std::nullopt;
}

std::optional<AccuracyLimit> voltageAccuracy(uint32_t millivolts) {
    constexpr std::string_view kClause = "9.4 表 39";
    if (millivolts <= 3'400 || millivolts > 36'000) return std::nullopt;
    constexpr Tolerance kReadBack{100, 100};
    if (millivolts <= 5'500)
        return AccuracyLimit{{150, 150}, kReadBack, "3.4 V < V ≤ 5.5 V", kClause};
    if (millivolts <= 11'000)
        return AccuracyLimit{{300, 300}, kReadBack, "5.5 V < V ≤ 11 V", kClause};
    if (millivolts <= 21'000)
        return AccuracyLimit{{600, 600}, kReadBack, "11 V < V ≤ 21 V", kClause};
    return AccuracyLimit{{900, 900}, kReadBack, "21 V < V ≤ 36 V", kClause};
}

std::optional<AccuracyLimit> currentAccuracy(uint32_t milliamperes) {
    constexpr std::string_view kClause = "9.4 表 40";
    if (milliamperes == 0 || milliamperes > 18'000) return std::nullopt;
    // The table's one bound serves both the set value and the read-back.
    const auto both = [&](Tolerance tolerance, std::string_view range) {
        return AccuracyLimit{tolerance, tolerance, range, kClause};
    };
    if (milliamperes < 500) return both({300, 300}, "0 A < I < 0.5 A");
    if (milliamperes <= 6'000) return both({200, 100}, "0.5 A ≤ I ≤ 6 A");
    if (milliamperes <= 12'000) return both({200, 200}, "6 A < I ≤ 12 A");
    return both({300, 300}, "12 A < I ≤ 18 A");
}

}  // namespace ufcs
