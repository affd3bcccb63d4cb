// Costs of the plug-in's life as a host sees it: a whole load, start, stop cycle through the
// library's export, and a log line delivered through the plug-in log target to the host.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "logging/logger.h"
#include "plugin_runtime/plugin_base.h"
#include "testing/fake_host.h"
#include "testing/plugin_library.h"

namespace {

// A host that does nothing at all, so the measurement is the plug-in's side of a log line.
const HostFunctionTable kSilentHost = {
    [](const HostFunctionTable*, HostResponse*, const HostRequest*) {},
    [](const HostFunctionTable*, const HostHttpRequest*, HostHttpResponse* response) {
      response->transportResult = 1;
    },
    [](const HostFunctionTable*, const HostEvent*) {},
    [](const HostFunctionTable*, const char*, std::uint32_t, HostEventCallback, void*,
       std::int32_t) {},
    [](const HostFunctionTable*, const char*, std::uint32_t) {},
    [](const HostFunctionTable*, const char*, HostDelayedCallback, void*, double, std::int32_t) {},
    [](const HostFunctionTable*) {},
    [](const HostFunctionTable*, const char*, std::int32_t) {},
    [](const HostFunctionTable*) {},
    [](const HostFunctionTable*, std::int32_t, const char*) {},
};

void BM_LoadStartStop(benchmark::State& state) {
  static ulix_testing::PluginLibrary library(ULIX_AUTH_LIBRARY_PATH);
  ulix_testing::FakeHost host;
  for (auto _ : state) {
    ulix_testing::PluginInstance plugin(library);
    benchmark::DoNotOptimize(plugin.Load());
    plugin.Start(host.context());
    plugin.Stop();
  }
}
BENCHMARK(BM_LoadStartStop);

void BM_LogDeliveredToPluginLogTarget(benchmark::State& state) {
  auto* plugin = new plugin_runtime::PluginBase();
  HostInitBlock block{};
  block.major = 18;
  plugin->handshake(&block, "bench");
  const HostContext context{&kSilentHost, 1};
  block.entryTable->start(block.context, &context);
  std::int64_t i = 0;
  for (auto _ : state) {
    logging::Log(logging::kAlways, logging::kGroupDbg, "Refreshing tokens in %.1f seconds...",
                 static_cast<double>(++i));
  }
  block.entryTable->stop(block.context);
}
BENCHMARK(BM_LogDeliveredToPluginLogTarget);

}  // namespace

BENCHMARK_MAIN();
