#include <gtest/gtest.h>

#include "base/spring.h"

TEST(Spring, SettlesOnTheTargetWithoutOvershootingFar) {
    Spring s = {0, 0};
    int frames = 0;
    float highest = 0;
    while (spring_step(&s, 100, 26, 0.012f, 0.25f)) {
        if (s.value > highest) highest = s.value;
        ASSERT_LT(++frames, 1000) << "the spring never settles";
    }
    EXPECT_EQ(s.value, 100.0f);
    EXPECT_EQ(s.velocity, 0.0f);
    EXPECT_LT(highest, 101.0f);
    EXPECT_GT(frames, 5) << "a critically damped spring takes several frames";
    // Already there: snapped, not moving.
    Spring there = {99.9f, 0.5f};
    EXPECT_EQ(spring_step(&there, 100, 26, 0.012f, 0.25f), 0);
    EXPECT_EQ(there.value, 100.0f);
    // Close but fast still moves.
    Spring fast = {99.9f, 50};
    EXPECT_EQ(spring_step(&fast, 100, 26, 0.012f, 0.25f), 1);
}
