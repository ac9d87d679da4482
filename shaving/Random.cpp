#include "shaving/Random.h"

std::uint32_t& RandomStateOfThisThread() {
  thread_local std::uint32_t state = 1;
  return state;
}

std::uint32_t JumpRandomState(std::uint32_t state, std::uint64_t draws) {
  // Compose the affine map x -> a x + c with itself by repeated squaring:
  // (a, c) applied twice is (a a, a c + c). All arithmetic is mod 2^32.
  std::uint32_t a = 214013u, c = 2531011u;
  std::uint32_t jumpA = 1u, jumpC = 0u;
  while (draws > 0) {
    if (draws & 1u) {
      jumpA = jumpA * a;
      jumpC = jumpC * a + c;
    }
    c = c * a + c;
    a = a * a;
    draws >>= 1;
  }
  return jumpA * state + jumpC;
}
