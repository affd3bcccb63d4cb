// Cost of a log call: one the global level filters out, and one delivered to a target that
// renders its line template and keeps the line, as the plug-in's target does before handing
// the text to the host.
#include <string>

#include "benchmark/benchmark.h"
#include "logging/logger.h"

namespace {

// Stands in for the plug-in's target: renders the line and keeps it.
class StoringTarget : public logging::LogTarget {
 public:
  bool Write(const logging::LogRecord& record) override {
    line_ = RenderLine(record);
    benchmark::DoNotOptimize(line_.data());
    return true;
  }

 private:
  std::string line_;
};

// The builtin console targets would write for real; only the storing target stays.
class QuietLogger {
 public:
  QuietLogger() {
    logging::Logger::Acquire();
    logging::Logger::StdErrTarget()->Detach();
    logging::Logger::DebuggerTarget()->Detach();
    target_.Attach();
  }
  ~QuietLogger() {
    target_.Detach();
    logging::Logger::Release();
  }

  StoringTarget& target() { return target_; }

 private:
  StoringTarget target_;
};

void BM_LogFilteredOut(benchmark::State& state) {
  QuietLogger logger;
  logging::Logger::SetGlobalLevel(logging::kWarn);
  int i = 0;
  for (auto _ : state) {
    logging::Log(logging::kOkay, logging::kGroupDbg, "ULIXClient::RefreshTokens(): attempt %d",
                 ++i);
  }
}
BENCHMARK(BM_LogFilteredOut);

void BM_LogDeliveredAndRendered(benchmark::State& state) {
  QuietLogger logger;
  logging::Logger::SetGlobalLevel(logging::kOkay);
  int i = 0;
  for (auto _ : state) {
    logging::Log(logging::kAlways, logging::kGroupDbg, "Refreshing tokens in %.1f seconds...",
                 30.0 + (++i & 63));
  }
}
BENCHMARK(BM_LogDeliveredAndRendered);

}  // namespace

BENCHMARK_MAIN();
