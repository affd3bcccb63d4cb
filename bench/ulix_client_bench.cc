// Costs of the sign-on client's own work: building a request, reading the answer, decoding the
// tokens, logging and reporting, with a host that answers at once from fixed texts (no
// recording, nothing to give back), so the host's side of an exchange is a few instructions.
//
// Instructions: ULIX_CLIENT_BENCH_ITERATIONS fixes every benchmark's iteration count, so two
// runs under callgrind, with 1 and 1001 iterations, differ by exactly 1000 operations:
//   ULIX_CLIENT_BENCH_ITERATIONS=1001 valgrind --tool=callgrind
//     build/release/bench/ulix_client_bench --benchmark_filter='^BM_PasswordSignOn$'
// (one command line)
// and the same with 1; (Ir of the first - Ir of the second) / 1000 is the cost of one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "Plugins/zpk-be-ulix-auth/client/ulix_client.h"
#include "bench/bench_main.h"
#include "plugin_runtime/plugin_base.h"
#include "testing/compact_token.h"
#include "testing/fake_host.h"

namespace {

constexpr char kTokenUrl[] = "https://auth.example.net/token";
constexpr char kDiscoveryUrl[] = "https://auth.example.net/.well-known/openid-configuration";

// About 900 bytes: a 256-byte signature and claims of the usual shape.
std::string Token(std::string_view claims) {
  std::string payload(claims);
  payload.pop_back();  // the closing brace
  std::string filler = R"(, "jti": ")";
  std::size_t target = 402 - payload.size() - filler.size() - 2;
  filler.append(target, 'j');
  payload += filler + "\"}";
  return wire::Base64UrlEncode(R"({"kid":"s1","alg":"RS256"})") + "." +
         wire::Base64UrlEncode(payload) + "." + wire::Base64UrlEncode(std::string(256, '\x5A'));
}

std::string TokenAnswer() {
  const std::string access =
      Token(R"({"sub": "5a1f0a61-2c87-5a0c-9c1e-7f3e0d6a2b44", "scp": ["openid", "offline_access",)"
            R"( "kiv", "ban", "profile", "email", "phone"], "clm": ["openid", "email"],)"
            R"( "dat": {"c": "ec1", "lid": "Xq9", "u": 2147483650, "r": "EUW1"},)"
            R"( "iss": "https://auth.example.net", "exp": 1700003600, "iat": 1700000000,)"
            R"( "cid": "vorn-client"})");
  const std::string id =
      Token(R"({"sub": "5a1f0a61-2c87-5a0c-9c1e-7f3e0d6a2b44", "tag": ["game", "chat", "store"],)"
            R"( "aud": "vorn-client", "iss": "https://auth.example.net", "exp": 1700007200,)"
            R"( "iat": 1700000000, "amr": ["password"], "acr": "0"})");
  return R"({"scope": "openid offline_access kiv ban profile email phone", "expires_in": 3600,)"
         R"( "token_type": "Bearer", "refresh_token": ")" +
         std::string(430, 'r') + R"(", "access_token": ")" + access + R"(", "id_token": ")" + id +
         R"("})";
}

std::string DiscoveryDocument() {
  std::string regions;
  for (const char* region : {"BR1", "EUN1", "EUW1", "JP1", "KR", "LA1", "LA2", "NA1", "OC1", "PH2",
                             "RU", "SG2", "TH2", "TR1", "TW2", "VN2", "PBE1"}) {
    regions += std::string(regions.empty() ? "" : ", ") + "\"" + region + "\"";
  }
  std::string document =
      R"({"issuer": "https://auth.example.net", "authorization_endpoint": )"
      R"("https://auth.example.net/authorize", "token_endpoint": "https://auth.example.net/token",)"
      R"( "userinfo_endpoint": "https://auth.example.net/userinfo", "jwks_uri": )"
      R"("https://auth.example.net/jwks.json", "revocation_endpoint": )"
      R"("https://auth.example.net/token/revoke", "vorn_did_uri": "https://did.example.net/frame",)"
      R"( "vorn_kiv_regions_supported": [)" +
      regions +
      R"(], "vorn_kiv_regions_disabled": ["PBE1"], "vorn_kiv_userinfo_regions_enabled": [)" +
      regions + "]";
  for (const char* list : {"scopes_supported", "claims_supported", "response_types_supported",
                           "grant_types_supported", "token_endpoint_auth_methods_supported",
                           "id_token_signing_alg_values_supported", "subject_types_supported"}) {
    document += std::string(", \"") + list + "\": [";
    for (int i = 0; i < 12; ++i) {
      document += std::string(i ? ", " : "") + "\"" + list + "_value_" + std::to_string(i) + "\"";
    }
    document += "]";
  }
  return document + "}";
}

// What the host answers, by URL.
std::map<std::string, std::string, std::less<>>& Answers() {
  static std::map<std::string, std::string, std::less<>> answers;
  return answers;
}

void AnswerAtOnce(const HostFunctionTable*, const HostHttpRequest* request,
                  HostHttpResponse* response) {
  auto found = Answers().find(std::string_view(request->url));
  response->transportResult = 0;
  response->status = 200;
  response->body = found->second.data();
  response->bodyLength = static_cast<std::uint32_t>(found->second.size());
}
void AcceptCall(const HostFunctionTable*, HostResponse*, const HostRequest*) {}
void DropLog(const HostFunctionTable*, std::int32_t, const char*) {}

class BenchClient {
 public:
  BenchClient() : plugin_(new plugin_runtime::PluginBase()) {
    host_.mutable_functions()->sendHttpRequest = &AnswerAtOnce;
    host_.mutable_functions()->callResource = &AcceptCall;
    host_.mutable_functions()->writeLog = &DropLog;
    HostInitBlock block{};
    block.major = 18;
    plugin_->handshake(&block, "bench");
    block.entryTable->start(block.context, host_.context());
    client_ = std::make_unique<ulix_auth::ULIXClient>(*plugin_);
    Answers()[kDiscoveryUrl] = DiscoveryDocument();
    Answers()[kTokenUrl] = TokenAnswer();
    client_->SetULIXConfig(ulix_auth::ULIXClientConfig{
        kTokenUrl, "vorn-client", "", "openid offline_access kiv ban profile email phone", false});
    client_->SetDeviceSessionId("0d5e6c4e-0a5b-4f4f-9c3e-3b7d9e1f2a10");
  }
  ~BenchClient() {
    client_.reset();
    plugin_->entryTable().stop(plugin_);
  }
  ulix_auth::ULIXClient& client() { return *client_; }

 private:
  ulix_testing::FakeHost host_;
  plugin_runtime::PluginBase* plugin_;
  std::unique_ptr<ulix_auth::ULIXClient> client_;
};

void BM_PasswordSignOn(benchmark::State& state) {
  BenchClient bench;
  for (auto _ : state) {
    auto error = bench.client().LoginWithPassword("player.one", "correct horse battery", "EUW1");
    if (error) state.SkipWithError(error->errorDescription.c_str());
  }
  state.counters["answer_bytes"] = static_cast<double>(TokenAnswer().size());
}

void BM_Refresh(benchmark::State& state) {
  BenchClient bench;
  const std::string grant = ulix_auth::RefreshTokenGrant(std::string(430, 'r'));
  for (auto _ : state) {
    auto error = bench.client().RequestToken(grant);
    if (error) state.SkipWithError(error->errorDescription.c_str());
  }
}

void BM_DiscoveryFetch(benchmark::State& state) {
  BenchClient bench;
  for (auto _ : state) bench.client().FetchOpenIdConfiguration();
  state.counters["document_bytes"] = static_cast<double>(DiscoveryDocument().size());
}

void BM_IsPlatformAvailableFresh(benchmark::State& state) {
  BenchClient bench;
  for (auto _ : state) benchmark::DoNotOptimize(bench.client().IsPlatformAvailable("EUW1"));
}

}  // namespace

int main(int argc, char** argv) {
  return bench::RunBenchmarks(argc, argv, "ULIX_CLIENT_BENCH_ITERATIONS",
                              {{"BM_PasswordSignOn", &BM_PasswordSignOn},
                               {"BM_Refresh", &BM_Refresh},
                               {"BM_DiscoveryFetch", &BM_DiscoveryFetch},
                               {"BM_IsPlatformAvailableFresh", &BM_IsPlatformAvailableFresh}});
}
