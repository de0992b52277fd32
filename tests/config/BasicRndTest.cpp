#include <gtest/gtest.h>

#include <cstdint>

#include "config/BasicRnd.h"

// Published values of the runtime generator.
TEST(BasicRnd, KnownValues) {
    BasicRnd fresh;
    for (float expected : {0.7055475f, 0.533424f, 0.5795186f, 0.2895625f, 0.301948f}) {
        EXPECT_FLOAT_EQ(fresh.Rnd(1.0f), expected);
    }
    const float last = fresh.Current();
    EXPECT_EQ(fresh.Rnd(0.0f), last);  // Rnd(0) repeats without advancing

    BasicRnd reset(0x123456);  // Rnd(x<0) ignores the previous state
    EXPECT_EQ(reset.Rnd(-1.0f), 0.2240070104598999f);
    reset.Randomize(1976);
    EXPECT_EQ(reset.State(), 0xA09E86u);
    EXPECT_EQ(BasicRnd().Rnd(-1.2345E38f), 0.0319542289f);
    EXPECT_EQ(BasicRnd().Rnd(-44.48306f), 0.5418172f);
}

// The offset rounds the product to single precision before the floor. Over the whole state
// space exactly 31 states come out one higher than the exact floor, and none reaches 96.
TEST(BasicRnd, OffsetUsesSinglePrecisionOverAllStates) {
    int differing = 0;
    for (std::uint32_t s = 0; s < (1u << 24); ++s) {
        BasicRnd rnd(s);
        const int offset = rnd.NextOffset(96);
        const int exact = static_cast<int>((std::uint64_t{rnd.State()} * 96) >> 24);
        ASSERT_LE(offset, 95);
        ASSERT_TRUE(offset == exact || offset == exact + 1) << s;
        differing += offset != exact;
    }
    EXPECT_EQ(differing, 31);
}
