#include <gtest/gtest.h>

#include "analyzer/auto_scroll.h"

namespace {

using State = analyzer::AutoScroll::State;

TEST(AutoScroll, FirstClickAfterArmingKeepsFollowingTheNextStops) {
    analyzer::AutoScroll scroll;
    EXPECT_EQ(scroll.state(), State::On);  // a new window follows
    scroll.onKey(true);
    EXPECT_EQ(scroll.state(), State::Armed);
    scroll.onDecode();
    EXPECT_EQ(scroll.state(), State::On);
    EXPECT_TRUE(scroll.checkBoxTicked());
    scroll.onDecode();
    EXPECT_EQ(scroll.state(), State::Off);
    EXPECT_FALSE(scroll.checkBoxTicked());
    scroll.onDecode();
    EXPECT_EQ(scroll.state(), State::Off);
}

TEST(AutoScroll, KeysAndTheCheckBox) {
    analyzer::AutoScroll scroll;
    scroll.onKey(false);  // any key but End stops following
    EXPECT_FALSE(scroll.following());
    scroll.onCheckBox(true);
    EXPECT_EQ(scroll.state(), State::Armed);
    EXPECT_TRUE(scroll.checkBoxTicked());
    scroll.onCheckBox(false);
    EXPECT_EQ(scroll.state(), State::Off);
}

}  // namespace
