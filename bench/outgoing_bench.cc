// Costs of the plug-in's outgoing traffic through the fake host: publishing one resource change
// (the record turned into an event, both sends) against the bare conversion of the same record
// to a host value, and one typed GET answered from a script.
//
// Instructions: OUTGOING_BENCH_ITERATIONS fixes every benchmark's iteration count, so two runs
// under callgrind, with 1 and 1001 iterations, differ by exactly 1000 operations:
//   OUTGOING_BENCH_ITERATIONS=1001 valgrind --tool=callgrind
//     build/outgoing-release/bench/outgoing_bench --benchmark_filter='^BM_PublishResourceChange$'
// and the same with 1; (Ir of the first - Ir of the second) / 1000 is the cost of one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_main.h"
#include "binding/binding_struct_builder.h"
#include "binding/host_value_conversion.h"
#include "binding/native_conversion.h"
#include "plugin_runtime/plugin_base.h"
#include "testing/fake_host.h"

namespace outgoing_bench {

// About the size of what the sign-on plug-in publishes when an authorization changes.
struct Authorization {
  std::string accessToken;
  std::string idToken;
  std::int64_t expiry = 0;
  std::vector<std::string> scopes;
  bool isNewPlayer = false;
};
ULIX_BINDING_TYPE(Authorization, "BenchAuthorization")

}  // namespace outgoing_bench

namespace {

using outgoing_bench::Authorization;

Authorization MakeAuthorization() {
  Authorization record;
  record.accessToken = std::string(900, 'a');
  record.idToken = std::string(700, 'i');
  record.expiry = 1'700'000'000;
  record.scopes = {"openid", "offline_access", "lol", "ban", "profile", "email"};
  record.isNewPlayer = true;
  return record;
}

void RegisterAuthorization(binding::BindingTypeRegistry& registry) {
  binding::BindingStructBuilder<Authorization>(registry)
      .AddField(&Authorization::accessToken, "accessToken")
      .AddField(&Authorization::idToken, "idToken")
      .AddField(&Authorization::expiry, "expiry")
      .AddField(&Authorization::scopes, "scopes")
      .AddField(&Authorization::isNewPlayer, "isNewPlayer");
}

// The events go nowhere, so the measurement is the plug-in's side of the send.
void IgnoreEvent(const HostFunctionTable*, const HostEvent*) {}

// A started plug-in against `functions`; stopped (and deleted) by the destructor.
class BenchPlugin {
 public:
  explicit BenchPlugin(const HostContext* context) : plugin_(new plugin_runtime::PluginBase()) {
    HostInitBlock block{};
    block.major = 18;
    plugin_->handshake(&block, "bench");
    RegisterAuthorization(plugin_->typeRegistry());
    block.entryTable->start(block.context, context);
  }
  ~BenchPlugin() { plugin_->entryTable().stop(plugin_); }
  plugin_runtime::PluginBase* operator->() const { return plugin_; }

 private:
  plugin_runtime::PluginBase* plugin_;
};

void BM_ConvertRecordToHostValue(benchmark::State& state) {
  binding::BindingTypeRegistry registry;
  RegisterAuthorization(registry);
  const Authorization record = MakeAuthorization();
  for (auto _ : state) {
    binding::BindingConversionResult value = binding::toValue(record, registry);
    HostValue host_value = binding::toHostValue(value.value, &registry);
    benchmark::DoNotOptimize(host_value);
    binding::ReleaseHostValue(host_value);
  }
}

void BM_PublishResourceChange(benchmark::State& state) {
  ulix_testing::FakeHost host;
  host.mutable_functions()->sendEvent = &IgnoreEvent;
  BenchPlugin plugin(host.context());
  const Authorization record = MakeAuthorization();
  for (auto _ : state) {
    auto result = plugin->publishResourceChange(Vorn::Client::PluginResourceEventType::kUpdate,
                                                "/ulix-auth/v1/authorization", record);
    benchmark::DoNotOptimize(result);
  }
}

void BM_TypedGetThroughFakeHost(benchmark::State& state) {
  using ulix_testing::FakeValue;
  ulix_testing::FakeHost host;
  std::vector<FakeValue> scopes;
  for (const char* scope : {"openid", "offline_access", "lol", "ban", "profile", "email"}) {
    scopes.push_back(FakeValue::Text(scope));
  }
  host.ScriptResource("/ulix-auth/v1/authorization",
                      FakeValue::Object({{"accessToken", FakeValue::Text(std::string(900, 'a'))},
                                         {"expiry", FakeValue::Signed(1'700'000'000)},
                                         {"idToken", FakeValue::Text(std::string(700, 'i'))},
                                         {"isNewPlayer", FakeValue::Bool(true)},
                                         {"scopes", FakeValue::Array(scopes)}}));
  BenchPlugin plugin(host.context());
  for (auto _ : state) {
    auto result = plugin->typedCall<Authorization>(kHostMethodGet, "/ulix-auth/v1/authorization");
    if (!result.ok()) state.SkipWithError(result.message().c_str());
    benchmark::DoNotOptimize(result);
  }
}

}  // namespace

int main(int argc, char** argv) {
  return bench::RunBenchmarks(argc, argv, "OUTGOING_BENCH_ITERATIONS",
                              {{"BM_ConvertRecordToHostValue", &BM_ConvertRecordToHostValue},
                               {"BM_PublishResourceChange", &BM_PublishResourceChange},
                               {"BM_TypedGetThroughFakeHost", &BM_TypedGetThroughFakeHost}});
}
