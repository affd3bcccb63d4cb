#include "Plugins/zpk-be-ulix-auth/refresh_timing.h"

#include <algorithm>
#include <cmath>

#include "platform/random_device.h"

namespace ulix_auth {
namespace {

// Seeded during static initialisation, before the host can call the library.
MinimalStandardGenerator jitter_generator(platform::RandomDeviceValue());
MinimalStandardGenerator backoff_generator(platform::RandomDeviceValue());

// 2^32: an unsigned 32-bit lifetime minus 30 wraps to at least 2^32 - 30.
constexpr double kWrapSeconds = 4294967296.0;

}  // namespace

std::uint32_t MinimalStandardGenerator::Next() {
  std::uint32_t current = state_.load(std::memory_order_relaxed);
  std::uint32_t next;
  do {
    next = static_cast<std::uint32_t>(static_cast<std::uint64_t>(current) * 48271u % kModulus);
  } while (!state_.compare_exchange_weak(current, next, std::memory_order_relaxed));
  return next;
}

MinimalStandardGenerator& JitterGenerator() { return jitter_generator; }
MinimalStandardGenerator& BackoffGenerator() { return backoff_generator; }

double UniformUnit(MinimalStandardGenerator& generator) {
  constexpr double kRange =
      static_cast<double>(MinimalStandardGenerator::kMax - MinimalStandardGenerator::kMin + 1);
  const double first = static_cast<double>(generator.Next() - MinimalStandardGenerator::kMin);
  const double second = static_cast<double>(generator.Next() - MinimalStandardGenerator::kMin);
  const double unit = (first + second * kRange) / (kRange * kRange);
  // Rounding can land on 1.0 exactly; the interval is half-open.
  return unit < 1.0 ? unit : std::nextafter(1.0, 0.0);
}

std::int64_t UniformUpTo(MinimalStandardGenerator& generator, std::int64_t cap) {
  if (cap <= 0) return 0;
  constexpr std::uint64_t kValues =
      MinimalStandardGenerator::kMax - MinimalStandardGenerator::kMin + 1;
  const std::uint64_t range = static_cast<std::uint64_t>(cap) + 1;
  if (range >= kValues) {
    // Caps past 2^31 never arise from the retry rule's maximum; one draw per 31 bits would be
    // needed. Clamp instead of drawing a biased value.
    return static_cast<std::int64_t>(generator.Next() - MinimalStandardGenerator::kMin);
  }
  const std::uint64_t scaling = kValues / range;
  const std::uint64_t usable = range * scaling;
  std::uint64_t drawn;
  do {
    drawn = generator.Next() - MinimalStandardGenerator::kMin;
  } while (drawn >= usable);
  return static_cast<std::int64_t>(drawn / scaling);
}

std::int64_t BackoffCapMilliseconds(std::uint32_t attempt, std::int64_t base,
                                    std::int64_t maximum) {
  const std::uint32_t shift = attempt < 32 ? attempt : 31;
  base = std::max<std::int64_t>(base, 1);
  maximum = std::max<std::int64_t>(maximum, 1);
  const std::int64_t factor = static_cast<std::int64_t>(static_cast<std::uint32_t>(1u << shift));
  // factor is at most 2^31; a base past 2^32 could overflow, so compare before multiplying.
  if (base > maximum / factor) return maximum;
  return std::min(factor * base, maximum);
}

std::int64_t BackoffMilliseconds(std::uint32_t attempt, std::int64_t base, std::int64_t maximum,
                                 MinimalStandardGenerator& generator) {
  return UniformUpTo(generator, BackoffCapMilliseconds(attempt, base, maximum));
}

double RefreshDelaySeconds(double refresh_delay_seconds, double unit, bool* short_lifetime) {
  double lifetime = -1.0;
  if (refresh_delay_seconds < 0.0) {
    lifetime = refresh_delay_seconds + kRefreshMarginSeconds;
  } else if (refresh_delay_seconds >= kWrapSeconds - kRefreshMarginSeconds) {
    lifetime = refresh_delay_seconds - kWrapSeconds + kRefreshMarginSeconds;
  }
  if (lifetime >= 0.0 || refresh_delay_seconds < 0.0) {
    if (short_lifetime != nullptr) *short_lifetime = true;
    return std::max(lifetime / 2.0, kShortLifetimeFloorSeconds);
  }
  if (short_lifetime != nullptr) *short_lifetime = false;
  const double latest = refresh_delay_seconds;
  const double earliest = latest - 60.0;
  return (latest - earliest) * unit + earliest;
}

}  // namespace ulix_auth
