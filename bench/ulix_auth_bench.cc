// The sign-on plug-in's endpoints through the real dispatch entry, as the host calls them, with
// a host whose scripted service answers at once and that drops events, log lines and timers: GET
// authorization, GET access-token, and POST authorization/gas end to end (dispatch, form body,
// token answer, two token decodes, token set, four changes sent twice each, refresh scheduled); and
// GET authorization while another thread's refresh is held by the service, which a read must not
// wait for.
//
// Besides the Google Benchmark run, `ulix_auth_bench --callgrind <scenario> <count>` runs one
// scenario `count` times for instruction counting, each request inside OneRequest:
//   valgrind --tool=callgrind --toggle-collect='*OneRequest*'
//       build/release/bench/ulix_auth_bench --callgrind sign-on 200
// Scenarios: authorization, access-token, sign-on, authorization-during-refresh.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"
#include "bench/bench_main.h"
#include "benchmark/benchmark.h"
#include "testing/compact_token.h"
#include "testing/endpoint_chooser.h"
#include "testing/fake_host.h"
#include "testing/http_script.h"
#include "testing/sign_on_service.h"

namespace bench {
namespace {

using ulix_testing::FakeHost;

// A token of about 900 bytes, as the service issues them.
std::string Token(std::string_view claims) {
  std::string payload(claims);
  payload.insert(payload.size() - 1, ",\"pad\":\"" + std::string(560, 'x') + "\"");
  return ulix_testing::MakeToken(R"({"alg":"RS256","typ":"JWT","kid":"s1"})", payload,
                                 std::string(128, 's'));
}

const std::string& TokenAnswer() {
  static const std::string answer =
      "{\"access_token\":\"" +
      Token(R"({"exp":1900000000,"scp":["openid","kiv","ban"],"sub":"player-1",)"
            R"("dat":{"r":"NA1","u":123456}})") +
      "\",\"id_token\":\"" + Token(R"({"exp":1900000100,"tag":["ent1","ent2"]})") +
      "\",\"refresh_token\":\"refresh-token-text\",\"expires_in\":3600,\"token_type\":\"Bearer\"}";
  return answer;
}

// A refresh the service holds, while `hold` is set, until the benchmark lets it go.
struct HeldRefresh {
  std::mutex mutex;
  std::condition_variable changed;
  bool hold = false;
  bool holding = false;
};

HeldRefresh& Held() {
  static HeldRefresh held;
  return held;
}

// Holds a refresh while `hold` is set, until the benchmark lets it go.
void HoldRefresh(const std::string& url, const std::string& form) {
  if (url != ulix_testing::kTokenUrl ||
      form.find("grant_type=refresh_token") == std::string::npos) {
    return;
  }
  HeldRefresh& held = Held();
  std::unique_lock<std::mutex> lock(held.mutex);
  if (!held.hold) return;
  held.holding = true;
  held.changed.notify_all();
  held.changed.wait(lock, [&held] { return !held.hold; });
  held.holding = false;
}

void DropEvent(const HostFunctionTable*, const HostEvent*) {}
void DropLog(const HostFunctionTable*, std::int32_t, const char*) {}
void DropTimer(const HostFunctionTable*, const char*, HostDelayedCallback, void*, double,
               std::int32_t) {}

enum class Scenario { kAuthorization, kAccessToken, kSignOn, kAuthorizationDuringRefresh };

// A started plug-in, configured from the region settings and signed on unless the scenario is
// the sign-on itself.
class Fixture {
 public:
  explicit Fixture(Scenario scenario) : scenario_(scenario) {
    host_.mutable_functions()->sendEvent = &DropEvent;
    host_.mutable_functions()->writeLog = &DropLog;
    ulix_testing::ScriptRegion(host_);
    service_.Otherwise([](const std::string& url, const std::string&) {
      return url == ulix_testing::kTokenUrl ? FakeHost::HttpAnswer{0, 200, TokenAnswer()}
                                            : ulix_testing::GoodAnswer(url);
    });
    service_.OnExchange(&HoldRefresh);

    plugin_ = new ulix_auth::ULIXAuthPlugin();
    block_.major = 18;
    plugin_->handshake(&block_, ulix_auth::kShortName);
    if (!block_.entryTable->start(block_.context, host_.context())) std::abort();
    host_.FireScheduled();  // configure-auth-client
    host_.mutable_functions()->scheduleCallback = &DropTimer;
    ulix_testing::EndpointChooser chooser(*block_.catalogue);

    sign_on_ = Prepare(chooser, kHostMethodPost, "/ulix-auth/v1/authorization/gas");
    sign_on_.request.contentType = "application/json";
    sign_on_.body = R"({"username":"player.one","password":"correct horse","platformId":"NA1"})";
    sign_on_.request.body = sign_on_.body.data();
    sign_on_.request.bodyLength = static_cast<std::uint32_t>(sign_on_.body.size());
    sign_off_ = Prepare(chooser, kHostMethodDelete, "/ulix-auth/v1/authorization");
    refresh_ = Prepare(chooser, kHostMethodPost, "/ulix-auth/v1/authorization/refresh");
    read_ = Prepare(chooser, kHostMethodGet,
                    scenario == Scenario::kAccessToken ? "/ulix-auth/v1/authorization/access-token"
                                                       : "/ulix-auth/v1/authorization");
    if (scenario != Scenario::kSignOn && !Send(sign_on_)) std::abort();
    if (scenario == Scenario::kAuthorizationDuringRefresh) StartHeldRefresh();
  }
  ~Fixture() {
    if (refresher_.joinable()) {
      HeldRefresh& held = Held();
      {
        std::lock_guard<std::mutex> lock(held.mutex);
        held.hold = false;
      }
      held.changed.notify_all();
      refresher_.join();
    }
    block_.entryTable->stop(block_.context);
  }

  // The measured request.
  bool Once() { return Send(scenario_ == Scenario::kSignOn ? sign_on_ : read_); }
  // Undoes a sign-on so that the next one can run; not measured.
  bool Reset() { return scenario_ != Scenario::kSignOn || Send(sign_off_); }

 private:
  // A manual refresh on another thread, returned once the service holds it.
  void StartHeldRefresh() {
    HeldRefresh& held = Held();
    std::unique_lock<std::mutex> lock(held.mutex);
    held.hold = true;
    refresher_ = std::thread([this] { (void)Send(refresh_); });
    held.changed.wait(lock, [&held] { return held.holding; });
  }

  struct Prepared {
    const CatalogueEndpoint* endpoint = nullptr;
    HostRequest request{};
    std::string path;
    std::string body;
  };

  static Prepared Prepare(const ulix_testing::EndpointChooser& chooser, std::uint32_t method,
                          std::string path) {
    Prepared prepared;
    prepared.path = std::move(path);
    prepared.endpoint = chooser.Choose(method, prepared.path);
    if (prepared.endpoint == nullptr) std::abort();
    prepared.request.method = method;
    prepared.request.customMethod = "";
    prepared.request.function = prepared.endpoint;
    return prepared;
  }

  static bool Send(Prepared& prepared) {
    prepared.request.path = prepared.path.c_str();
    HostResponse response;
    prepared.endpoint->dispatch(&response, &prepared.request);
    const bool ok = response.errorText == nullptr;
    response.release(&response);
    return ok;
  }

  Scenario scenario_;
  FakeHost host_;
  ulix_testing::HttpScript service_{host_};
  ulix_auth::ULIXAuthPlugin* plugin_ = nullptr;
  HostInitBlock block_{};
  Prepared sign_on_;
  Prepared sign_off_;
  Prepared refresh_;
  Prepared read_;
  std::thread refresher_;
};

void BM_Endpoint(benchmark::State& state, Scenario scenario) {
  Fixture fixture(scenario);
  for (auto _ : state) {
    if (!fixture.Once()) state.SkipWithError("request failed");
    if (scenario == Scenario::kSignOn) {
      state.PauseTiming();
      fixture.Reset();
      state.ResumeTiming();
    }
  }
}
BENCHMARK_CAPTURE(BM_Endpoint, GetAuthorization, Scenario::kAuthorization);
BENCHMARK_CAPTURE(BM_Endpoint, GetAccessToken, Scenario::kAccessToken);
BENCHMARK_CAPTURE(BM_Endpoint, PostGasSignOn, Scenario::kSignOn);
BENCHMARK_CAPTURE(BM_Endpoint, GetAuthorizationDuringRefresh,
                  Scenario::kAuthorizationDuringRefresh);

// What callgrind counts: one request.
[[gnu::noinline]] bool OneRequest(Fixture& fixture) { return fixture.Once(); }

int CallgrindMain(std::string_view name, int count) {
  const Scenario scenario = name == "sign-on"        ? Scenario::kSignOn
                            : name == "access-token" ? Scenario::kAccessToken
                            : name == "authorization-during-refresh"
                                ? Scenario::kAuthorizationDuringRefresh
                                : Scenario::kAuthorization;
  Fixture fixture(scenario);
  // The first request touches the allocators' cold paths; the host sends many.
  fixture.Once();
  fixture.Reset();
  int ok = 0;
  for (int i = 0; i < count; ++i) {
    ok += OneRequest(fixture) ? 1 : 0;
    fixture.Reset();
  }
  std::printf("%.*s: %d of %d ok\n", static_cast<int>(name.size()), name.data(), ok, count);
  return ok == count ? 0 : 1;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--callgrind") == 0) {
    return bench::CallgrindMain(argv[2], std::atoi(argv[3]));
  }
  return bench::RunBenchmarks(argc, argv);
}
