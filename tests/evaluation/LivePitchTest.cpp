#include "evaluation/LivePitch.h"

#include <gtest/gtest.h>

#include <vector>

#include "evaluation/PitchCode.h"

using evaluation::CLivePitch;
using evaluation::kNoPitch;

TEST(CLivePitch, RingStoresAveragesAndStopsShortOfASteadyCode) {
    CLivePitch live;
    std::vector<int> seen;
    for (int i = 0; i < 14; ++i) {
        seen.push_back(live.Smooth(-30));
    }
    EXPECT_EQ(seen, (std::vector<int>{-10, -13, -17, -20, -22, -24, -25, -26, -27, -27, -28, -28,
                                      -28, -28}));
}

TEST(CLivePitch, FoldingRestsAndQuietHops) {
    struct Case {
        int hop;
        int reference;
        int next;
        float envelope;
        int firstOutput;  // ring starts at 0, 0, 0: the first output is a third
    } cases[] = {
        {60, 12, kNoPitch, 5000, 4},           // an octave above: folded to 12
        {-36, 12, kNoPitch, 5000, 4},          // an octave below: folded to 12
        {-10, kNoPitch, 30, 5000, 10},         // a rest shows the next note
        {-10, kNoPitch, kNoPitch, 5000, -42},  // no next note: -127
        {12, 12, kNoPitch, 1999, kNoPitch},    // too quiet
    };
    for (const Case& c : cases) {
        CLivePitch live;
        EXPECT_EQ(live.Next(c.hop, c.reference, c.next, c.envelope), c.firstOutput) << c.hop;
    }
    // A quiet hop still moves the ring.
    CLivePitch live;
    EXPECT_EQ(live.Next(30, 30, kNoPitch, 100), kNoPitch);
    EXPECT_EQ(live.Next(30, 30, kNoPitch, 5000), 13);
}
