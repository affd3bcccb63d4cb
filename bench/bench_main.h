// The main() of the benchmark programs: registers the benchmarks given, each with the iteration
// count fixed by an environment variable when it is set (so that two runs under callgrind, with
// 1 and 1001 iterations, differ by exactly 1000 operations), then runs those the command line
// selects, beside any registered with BENCHMARK.
#ifndef BENCH_BENCH_MAIN_H_
#define BENCH_BENCH_MAIN_H_

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <initializer_list>

namespace bench {

struct Registered {
  const char* name;
  void (*function)(benchmark::State&);
};

inline int RunBenchmarks(int argc, char** argv, const char* iterations_variable = nullptr,
                         std::initializer_list<Registered> benchmarks = {}) {
  const char* fixed = iterations_variable != nullptr ? std::getenv(iterations_variable) : nullptr;
  for (const Registered& entry : benchmarks) {
    benchmark::internal::Benchmark* registered =
        benchmark::RegisterBenchmark(entry.name, entry.function);
    if (fixed != nullptr) registered->Iterations(std::strtoll(fixed, nullptr, 10));
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench

#endif  // BENCH_BENCH_MAIN_H_
