#include <gtest/gtest.h>

#include "analyzer/settings.h"

namespace {

TEST(AnalyzerSettings, CheckWindowsRoundTripAndOutOfRangeValuesFallBack) {
    common::MemoryProfile profile;
    analyzer::AnalyzerSettings settings(profile);
    EXPECT_EQ(settings.checkWindows(), ufcs::SequenceWindows{});

    ufcs::SequenceWindows chosen;
    chosen.ackUs = 1500;
    chosen.answerUs = 200;  // the shortest a time stamp can tell
    chosen.powerReadyUs = 60'000'000;
    settings.saveCheckWindows(chosen);
    EXPECT_EQ(settings.checkWindows(), chosen);

    profile.writeInt("Checks", "AckUs", 199);
    profile.writeInt("Checks", "PowerReadyUs", -5);
    const ufcs::SequenceWindows fixed = settings.checkWindows();
    EXPECT_EQ(fixed.ackUs, ufcs::SequenceWindows{}.ackUs);
    EXPECT_EQ(fixed.answerUs, 200u);
    EXPECT_EQ(fixed.powerReadyUs, ufcs::SequenceWindows{}.powerReadyUs);
}

}  // namespace
