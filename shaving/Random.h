// The random generator of the permuted copies.
//
// A linear congruential generator with a 32-bit state: each draw sets
// state = state * 214013 + 2531011 (mod 2^32) and yields (state >> 16) & 32767.
// Every thread starts from state 1 and the generator is never seeded, so the
// first run of a fresh process always draws the same copies and a second run
// on the same thread continues the stream. Because a draw is an affine map
// of the state, the state after any number of draws can be computed
// directly (JumpRandomState), which lets permuted copies be made in parallel
// with exactly the draws the sequential order would give them.
#pragma once

#include <cstdint>

// The calling thread's generator state (initially 1).
std::uint32_t& RandomStateOfThisThread();

// One draw: advances state and returns a value in 0..32767.
inline int NextRandom(std::uint32_t& state) {
  state = state * 214013u + 2531011u;
  return static_cast<int>((state >> 16) & 32767u);
}

// The state after `draws` draws from `state`, in O(log draws) steps.
std::uint32_t JumpRandomState(std::uint32_t state, std::uint64_t draws);
