#include "config/BasicRandom.h"

#include <bit>
#include <cmath>

namespace {

constexpr std::uint32_t kMultiplier = 0x43FD43FD;
constexpr std::uint32_t kIncrement = 0xC39EC3;
constexpr float kTwoTo24 = 16777216.0f;

// One step of the generator; unsigned arithmetic wraps mod 2^32, the mask then keeps 24 bits.
std::uint32_t Step(std::uint32_t state) {
    return (state * kMultiplier + kIncrement) & 0xFFFFFF;
}

}  // namespace

float BasicRandom::Rnd(float x) {
    if (x < 0.0f) {
        const auto bits = std::bit_cast<std::uint32_t>(x);
        state_ = Step((bits + (bits >> 24)) & kStateMask);
        return Current();
    }
    if (x == 0.0f) {
        return Current();
    }
    return Next();
}

float BasicRandom::Next() {
    state_ = Step(state_);
    return Current();
}

float BasicRandom::Current() const {
    // Exact: every 24-bit integer fits the mantissa of a float.
    return static_cast<float>(state_) / kTwoTo24;
}

void BasicRandom::Randomize(double n) {
    const auto high = static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(n) >> 32);
    const std::uint32_t mix = (high & 0xFFFF) ^ (high >> 16);
    state_ = (state_ & 0xFF0000FF) | (mix << 8);
}

int BasicRandom::NextOffset(int n) {
    const float product = Next() * static_cast<float>(n);
    // The value is below 1 and float(n) has magnitude at most 2^31, so the floor fits an int.
    return static_cast<int>(std::floor(product));
}
