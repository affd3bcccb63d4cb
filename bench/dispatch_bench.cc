// Incoming requests through the real dispatch entry, as the host calls it: a literal GET, a GET
// with one path parameter, a POST with a JSON body, each with 19 and with 500 endpoints
// registered, against the same match done by building a std::regex per request.
//
// Besides the Google Benchmark run, `dispatch_bench --callgrind <scenario> <endpoints> <count>`
// runs one scenario `count` times inside RunScenario for instruction counting:
//   valgrind --tool=callgrind --toggle-collect='*RunScenario*'
//       build/routing-release/bench/dispatch_bench --callgrind literal 19 1000
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "bench/bench_main.h"
#include "benchmark/benchmark.h"
#include "binding/binding_struct_builder.h"
#include "plugin_runtime/plugin_base.h"
#include "testing/endpoint_chooser.h"
#include "wire/route_pattern.h"

namespace bench {

struct BenchCredentials {
  std::string username;
  std::string password;
  std::string platformId;
};
ULIX_BINDING_TYPE(BenchCredentials, "BenchCredentials")

namespace {

using plugin_runtime::CallState;
using Vorn::RemotingTypedResult;

// The handlers do nothing, so what is measured is the runtime's share.
class BenchPlugin : public plugin_runtime::PluginBase {
 public:
  explicit BenchPlugin(int endpoint_count) : endpoint_count_(endpoint_count) {}

  void registerEndpoints() override {
    binding::BindingStructBuilder<BenchCredentials>(typeRegistry())
        .AddField(&BenchCredentials::username, "username")
        .AddField(&BenchCredentials::password, "password")
        .AddField(&BenchCredentials::platformId, "platformId");
    registerEndpoint(kHostMethodGet, "/ulix-auth/v1/authorization",
                     [](CallState&) -> RemotingTypedResult<> { return {}; });
    registerEndpoint(kHostMethodGet, "/ulix-auth/v1/config/{platformId}",
                     [](CallState&, const std::string&) -> RemotingTypedResult<> { return {}; })
        .PathArgument("platformId", "Platform");
    registerEndpoint(
        kHostMethodPost, "/ulix-auth/v1/authorization/gas",
        [](CallState&, const BenchCredentials&) -> RemotingTypedResult<> { return {}; })
        .BodyArgument("credentials", "Who signs on");
    for (int i = 3; i < endpoint_count_; ++i) {
      registerEndpoint(kHostMethodGet, "/ulix-auth/v1/filler" + std::to_string(i) + "/{id}",
                       [](CallState&, const std::string&) -> RemotingTypedResult<> { return {}; })
          .PathArgument("id", "Filler");
    }
  }

 private:
  int endpoint_count_;
};

enum class Scenario { kLiteral, kParameter, kJsonBody };

// A loaded plug-in with one prepared request.
class Fixture {
 public:
  Fixture(Scenario scenario, int endpoint_count) : plugin_(new BenchPlugin(endpoint_count)) {
    HostInitBlock block{};
    block.major = 18;
    plugin_->handshake(&block, "ulix-auth");
    ulix_testing::EndpointChooser chooser(*block.catalogue);
    request_ = HostRequest{};
    switch (scenario) {
      case Scenario::kLiteral:
        request_.method = kHostMethodGet;
        path_ = "/ulix-auth/v1/authorization";
        break;
      case Scenario::kParameter:
        request_.method = kHostMethodGet;
        path_ = "/ulix-auth/v1/config/PC-Windows";
        break;
      case Scenario::kJsonBody:
        request_.method = kHostMethodPost;
        path_ = "/ulix-auth/v1/authorization/gas";
        body_ = R"({"username":"player.one@example.com","password":"correct horse battery staple )"
                R"(and some more words to make it long","platformId":"PC-Windows-Desktop-Edition-)"
                R"(Region-Europe-West-Build-2026-12"})";
        body_.resize(200, ' ');
        content_type_ = "application/json";
        request_.contentType = content_type_.c_str();
        request_.body = body_.data();
        request_.bodyLength = static_cast<std::uint32_t>(body_.size());
        break;
    }
    request_.path = path_.c_str();
    request_.customMethod = "";
    endpoint_ = chooser.Choose(request_.method, path_);
    if (endpoint_ == nullptr) std::abort();
    request_.function = endpoint_;
  }

  // One request as the host makes it: dispatch, read the status, release.
  bool Once() {
    HostResponse response;
    endpoint_->dispatch(&response, &request_);
    const bool ok = response.errorText == nullptr;
    response.release(&response);
    return ok;
  }

  const std::string& path() const { return path_; }

 private:
  std::unique_ptr<BenchPlugin> plugin_;
  const CatalogueEndpoint* endpoint_ = nullptr;
  HostRequest request_{};
  std::string path_;
  std::string body_;
  std::string content_type_;
};

void BM_Dispatch(benchmark::State& state, Scenario scenario) {
  Fixture fixture(scenario, static_cast<int>(state.range(0)));
  if (!fixture.Once()) state.SkipWithError("dispatch failed");
  for (auto _ : state) benchmark::DoNotOptimize(fixture.Once());
}
BENCHMARK_CAPTURE(BM_Dispatch, LiteralGet, Scenario::kLiteral)->Arg(19)->Arg(500);
BENCHMARK_CAPTURE(BM_Dispatch, OnePathParameter, Scenario::kParameter)->Arg(19)->Arg(500);
BENCHMARK_CAPTURE(BM_Dispatch, JsonBodyIntoStruct, Scenario::kJsonBody)->Arg(19)->Arg(500);

// The match alone, as the route would be built at each request: pattern text, std::regex, match.
bool RegexPerRequest(const std::string& path) {
  std::vector<std::string> names;
  std::regex pattern(wire::TemplateToPattern("/ulix-auth/v1/config/{platformId}", &names),
                     std::regex::ECMAScript | std::regex::optimize);
  std::smatch match;
  return std::regex_match(path, match, pattern) && match[1].length() > 0;
}

void BM_RegexPerRequestMatchOnly(benchmark::State& state) {
  const std::string path = "/ulix-auth/v1/config/PC-Windows";
  for (auto _ : state) benchmark::DoNotOptimize(RegexPerRequest(path));
}
BENCHMARK(BM_RegexPerRequestMatchOnly);

void BM_CompiledRouteMatchOnly(benchmark::State& state) {
  const wire::RoutePattern route = wire::RoutePattern::Compile("/ulix-auth/v1/config/{platformId}");
  const std::string path = "/ulix-auth/v1/config/PC-Windows";
  std::vector<std::string_view> captures;
  for (auto _ : state) benchmark::DoNotOptimize(route.Match(path, captures));
}
BENCHMARK(BM_CompiledRouteMatchOnly);

// What callgrind counts: `count` requests and nothing else.
[[gnu::noinline]] int RunScenario(Fixture& fixture, int count) {
  int ok = 0;
  for (int i = 0; i < count; ++i) ok += fixture.Once() ? 1 : 0;
  return ok;
}

[[gnu::noinline]] int RunScenarioRegex(const std::string& path, int count) {
  int ok = 0;
  for (int i = 0; i < count; ++i) ok += RegexPerRequest(path) ? 1 : 0;
  return ok;
}

int CallgrindMain(const char* name, int endpoints, int count) {
  const std::string scenario = name;
  if (scenario == "regex") {
    RegexPerRequest("/ulix-auth/v1/config/PC-Windows");
    return RunScenarioRegex("/ulix-auth/v1/config/PC-Windows", count) == count ? 0 : 1;
  }
  Scenario which = scenario == "literal"     ? Scenario::kLiteral
                   : scenario == "parameter" ? Scenario::kParameter
                                             : Scenario::kJsonBody;
  Fixture fixture(which, endpoints);
  // The first request touches the allocators' cold paths; the host sends many.
  fixture.Once();
  const int ok = RunScenario(fixture, count);
  std::printf("%s with %d endpoints: %d of %d ok\n", name, endpoints, ok, count);
  return ok == count ? 0 : 1;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--callgrind") == 0) {
    return bench::CallgrindMain(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  }
  return bench::RunBenchmarks(argc, argv);
}
