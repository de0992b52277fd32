#pragma once

#include <cstdint>

// The classic BASIC runtime pseudo-random generator behind Rnd and Randomize, bit for bit:
// a 24-bit linear congruential generator whose values are single-precision fractions of 2^24.
// Texts scrambled with it on Windows unscramble here and the other way round, so none of the
// arithmetic below may change.
//
// Each object is its own generator; there is no process-wide instance.
class BasicRandom {
  public:
    static constexpr std::uint32_t kInitialState = 0x50000;

    BasicRandom() = default;
    explicit BasicRandom(std::uint32_t state) : state_(state & kStateMask) {}

    // Rnd(x): x > 0 advances and returns the next value; x = 0 returns the current value again;
    // x < 0 restarts from a state derived from the bits of x alone, then advances. A NaN
    // argument advances like a positive one.
    float Rnd(float x);
    // Rnd without an argument: the next value in [0, 1).
    float Next();
    // Rnd(0): the current value, state unchanged.
    float Current() const;

    // Randomize n: replaces bits 8..23 of the state with a 16-bit fold of the high word of n
    // taken as a double; the low byte of the state stays.
    void Randomize(double n);

    // Int(Rnd * n) with n a small integer: the product is rounded to single precision before
    // the floor, as the runtime does. Returns 0..n-1.
    int NextOffset(int n);

    std::uint32_t State() const { return state_; }

  private:
    static constexpr std::uint32_t kStateMask = 0xFFFFFF;
    std::uint32_t state_ = kInitialState;
};
