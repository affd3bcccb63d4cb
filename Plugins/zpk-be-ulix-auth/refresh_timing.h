// When the next token refresh runs: the jittered window before a token set runs out, the capped
// randomised backoff between retries, and the two process-wide random sources behind them.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_REFRESH_TIMING_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_REFRESH_TIMING_H_

#include <atomic>
#include <cstdint>

namespace ulix_auth {

// The minimal standard linear congruential generator (state * 48271 mod 2^31 - 1), its state a
// single atomic word so that any thread may draw; two threads drawing at once each get a
// distinct value of the sequence.
class MinimalStandardGenerator {
 public:
  static constexpr std::uint32_t kModulus = 2147483647u;
  static constexpr std::uint32_t kMin = 1;
  static constexpr std::uint32_t kMax = kModulus - 1;

  // A seed is reduced modulo 2^31 - 1; 0 becomes 1.
  explicit MinimalStandardGenerator(std::uint32_t seed) : state_(Reduce(seed)) {}

  // The next state, in [1, 2^31 - 2].
  std::uint32_t Next();

 private:
  static std::uint32_t Reduce(std::uint32_t seed) {
    const std::uint32_t reduced = seed % kModulus;
    return reduced == 0 ? 1 : reduced;
  }

  std::atomic<std::uint32_t> state_;
};

// The two generators, seeded from the system's random device when the library loads: jitter
// draws only move refresh times, backoff draws only move retries, so neither sequence depends on
// how often the other is used.
MinimalStandardGenerator& JitterGenerator();
MinimalStandardGenerator& BackoffGenerator();

// A double uniform in [0, 1) from two successive draws (53 mantissa bits need two 31-bit draws).
double UniformUnit(MinimalStandardGenerator& generator);

// An integer uniform in [0, cap] by rejection: generator values past the largest usable multiple
// of the range are drawn again, so no value is favoured.
std::int64_t UniformUpTo(MinimalStandardGenerator& generator, std::int64_t cap);

// The largest retry delay, in milliseconds, for retry `attempt` (1 for the first):
// min(2^min(attempt, 31) * base, maximum), base and maximum taken as at least 1.
std::int64_t BackoffCapMilliseconds(std::uint32_t attempt, std::int64_t base, std::int64_t maximum);
// A delay drawn uniformly from [0, BackoffCapMilliseconds(...)].
std::int64_t BackoffMilliseconds(std::uint32_t attempt, std::int64_t base, std::int64_t maximum,
                                 MinimalStandardGenerator& generator);

inline constexpr std::int64_t kRetryBaseMilliseconds = 1000;
inline constexpr std::int64_t kRetryMaximumMilliseconds = 256000;

// Lifetimes below this many seconds leave no room for the refresh window.
inline constexpr double kRefreshMarginSeconds = 30.0;
// The earliest a short-lived token set is refreshed, so that a service that keeps handing out
// such sets is asked at most once per this many seconds per authorization.
inline constexpr double kShortLifetimeFloorSeconds = 5.0;

// The seconds until the refresh of a token set whose refresh delay (its lifetime minus 30 s) is
// `refresh_delay_seconds`, `unit` being a draw of UniformUnit.
// - The usual case: a moment in [delay - 60, delay), that is 90 to 30 seconds before the set's
//   lifetime ends, spread so that many clients do not refresh in step; a part of the window that
//   lies in the past means "at once" (the scheduler treats a passed deadline as now).
// - A lifetime below 30 s (a missing lifetime reads as 0) gives a delay that wrapped around in
//   unsigned arithmetic (about 4.29e9 s) or, computed signed, a negative one. Taken as it is, the
//   first would let the tokens expire silently and the second would refresh at once, again and
//   again. Such a set is refreshed after half its lifetime, but not sooner than 5 s.
// `short_lifetime` is set when the second rule applied.
double RefreshDelaySeconds(double refresh_delay_seconds, double unit, bool* short_lifetime);

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_REFRESH_TIMING_H_
