#include <gtest/gtest.h>

#include "analyzer/settings.h"

namespace {

TEST(AnalyzerSettings, CheckWindowsRoundTripAndOutOfRangeValuesFallBack) {
    common::MemoryProfile profile;
    analyzer::AnalyzerSettings settings(profile);
    // Without the keys: the standard's limits, Power_Ready by the voltage asked for.
    const ufcs::SequenceWindows standard = settings.checkWindows();
    EXPECT_EQ(standard, ufcs::SequenceWindows{});
    EXPECT_EQ(standard.ackUs, 10'000u);
    EXPECT_FALSE(standard.powerReadyUs.has_value());
    EXPECT_EQ(standard.powerSupplyUs, 550'000u);
    EXPECT_EQ(standard.messageGapUs, 2'000u);

    ufcs::SequenceWindows chosen;
    chosen.ackUs = 1500;
    chosen.answerUs = 200;  // the shortest a time stamp can tell
    chosen.powerReadyUs = 60'000'000;
    chosen.powerSupplyUs = 700'000;
    chosen.messageGapUs = 1'000;
    settings.saveCheckWindows(chosen);
    EXPECT_EQ(settings.checkWindows(), chosen);
    // One window for every voltage can be taken back.
    chosen.powerReadyUs.reset();
    settings.saveCheckWindows(chosen);
    EXPECT_EQ(settings.checkWindows(), chosen);
    profile.writeInt("Checks", "PowerReadyUs", 60'000'000);

    profile.writeInt("Checks", "AckUs", 199);
    profile.writeInt("Checks", "PowerReadyUs", -5);
    const ufcs::SequenceWindows fixed = settings.checkWindows();
    EXPECT_EQ(fixed.ackUs, ufcs::SequenceWindows{}.ackUs);
    EXPECT_EQ(fixed.answerUs, 200u);
    EXPECT_EQ(fixed.powerReadyUs, ufcs::SequenceWindows{}.powerReadyUs);
}

}  // namespace
