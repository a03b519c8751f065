#include <gtest/gtest.h>

#include <set>

#include "ufcs/standard_limits.h"

namespace {

using namespace ufcs;

TEST(StandardLimits, EachLimitIsFoundByItsIdAndCitesItsClause) {
    std::set<std::string_view> names;
    for (const StandardLimit& limit : standardLimits()) {
        EXPECT_EQ(&standardLimit(limit.id), &limit) << limit.name;
        EXPECT_FALSE(limit.clause.empty()) << limit.name;
        names.insert(limit.name);
    }
    EXPECT_EQ(names.size(), standardLimits().size());
    EXPECT_EQ(standardLimit(LimitId::AckReceive).microseconds, 10'000u);
    EXPECT_EQ(standardLimit(LimitId::SenderResponse).microseconds, 50'000u);
    EXPECT_EQ(standardLimit(LimitId::PowerSupply).microseconds, 550'000u);
    EXPECT_TRUE(standardLimit(LimitId::MessageTransDelay).atLeast);
    EXPECT_FALSE(standardLimit(LimitId::PowerReady30V).atLeast);
}

TEST(StandardLimits, PowerReadyByTheNewVoltage) {
    const std::pair<uint32_t, std::optional<uint32_t>> cases[] = {
        {3'600, 120'000},  {11'000, 120'000}, {11'010, 275'000},      {20'000, 275'000},
        {20'010, 400'000}, {30'000, 400'000}, {30'010, std::nullopt},
    };
    for (const auto& [millivolts, us] : cases) {
        const std::optional<LimitId> id = powerReadyLimitFor(millivolts);
        ASSERT_EQ(id.has_value(), us.has_value()) << millivolts;
        if (id) {
            EXPECT_EQ(standardLimit(*id).microseconds, *us) << millivolts;
        }
    }
}

TEST(StandardLimits, AccuracyAtEveryRangeEdge) {
    struct Case {
        uint32_t set;
        std::optional<Tolerance> ofSet;
        std::optional<Tolerance> ofReadBack;
    };
    const Case voltage[] = {
        {3'400, {}, {}},
        {3'410, Tolerance{150, 150}, Tolerance{100, 100}},
        {5'500, Tolerance{150, 150}, Tolerance{100, 100}},
        {5'510, Tolerance{300, 300}, Tolerance{100, 100}},
        {11'000, Tolerance{300, 300}, Tolerance{100, 100}},
        {11'010, Tolerance{600, 600}, Tolerance{100, 100}},
        {21'000, Tolerance{600, 600}, Tolerance{100, 100}},
        {21'010, Tolerance{900, 900}, Tolerance{100, 100}},
        {36'000, Tolerance{900, 900}, Tolerance{100, 100}},
        {36'010, {}, {}},
    };
    for (const Case& c : voltage) {
        const std::optional<AccuracyLimit> limit = voltageAccuracy(c.set);
        ASSERT_EQ(limit.has_value(), c.ofSet.has_value()) << c.set << " mV";
        if (!limit) continue;
        EXPECT_EQ(limit->ofSet, *c.ofSet) << c.set << " mV";
        EXPECT_EQ(limit->ofReadBack, *c.ofReadBack) << c.set << " mV";
        EXPECT_EQ(limit->clause, "9.4 表 39");
    }
    const Case current[] = {
        {0, {}, {}},
        {10, Tolerance{300, 300}, Tolerance{300, 300}},
        {490, Tolerance{300, 300}, Tolerance{300, 300}},
        {500, Tolerance{200, 100}, Tolerance{200, 100}},
        {6'000, Tolerance{200, 100}, Tolerance{200, 100}},
        {6'020, Tolerance{200, 200}, Tolerance{200, 200}},
        {12'000, Tolerance{200, 200}, Tolerance{200, 200}},
        {12'020, Tolerance{300, 300}, Tolerance{300, 300}},
        {18'000, Tolerance{300, 300}, Tolerance{300, 300}},
        {18'020, {}, {}},
    };
    for (const Case& c : current) {
        const std::optional<AccuracyLimit> limit = currentAccuracy(c.set);
        ASSERT_EQ(limit.has_value(), c.ofSet.has_value()) << c.set << " mA";
        if (!limit) continue;
        EXPECT_EQ(limit->ofSet, *c.ofSet) << c.set << " mA";
        EXPECT_EQ(limit->ofReadBack, *c.ofReadBack) << c.set << " mA";
        EXPECT_EQ(limit->clause, "9.4 表 40");
    }
    // Within the 0.5-6 A range a real current may be 200 mA under but only 100 mA over.
    const Tolerance asymmetric = currentAccuracy(3'000)->ofSet;
    EXPECT_TRUE(asymmetric.holds(2'800, 3'000));
    EXPECT_FALSE(asymmetric.holds(2'799, 3'000));
    EXPECT_TRUE(asymmetric.holds(3'100, 3'000));
    EXPECT_FALSE(asymmetric.holds(3'101, 3'000));
}

}  // namespace
