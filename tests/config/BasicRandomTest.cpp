#include <gtest/gtest.h>

#include <cstdint>

#include "config/BasicRandom.h"

// Published values of the runtime generator, in the calls the scrambler makes: Rnd(-1) (which
// ignores the previous state), then Randomize.
TEST(BasicRandom, KnownValues) {
    BasicRandom reset(0x123456);
    EXPECT_EQ(reset.Rnd(-1.0f), 0.2240070104598999f);
    reset.Randomize(1976);
    EXPECT_EQ(reset.State(), 0xA09E86u);
}

// The offset rounds the product to single precision before the floor. Over the whole state
// space exactly 31 states come out one higher than the exact floor, and none reaches 96.
TEST(BasicRandom, OffsetUsesSinglePrecisionOverAllStates) {
    int differing = 0;
    for (std::uint32_t s = 0; s < (1u << 24); ++s) {
        BasicRandom rnd(s);
        const int offset = rnd.NextOffset(96);
        const int exact = static_cast<int>((std::uint64_t{rnd.State()} * 96) >> 24);
        ASSERT_LE(offset, 95);
        ASSERT_TRUE(offset == exact || offset == exact + 1) << s;
        differing += offset != exact;
    }
    EXPECT_EQ(differing, 31);
}
