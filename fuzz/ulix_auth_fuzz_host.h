// The sign-on plug-in started against the fake host: region "NA1" configured with a public client
// at "https://auth.test", the install settings stored, events and log lines dropped (a fuzz run
// would otherwise keep them all), and the sign-on service answered by a function the target
// supplies. Requests go through the endpoint records and their dispatch entry, as a host sends
// them.
//
// Starting and stopping a plug-in costs more than a dozen requests, so the request-level targets
// start it once per process (Started) and put back, after each input, the state an input may change
// (EndInput): the authorization signed off, the configuration override deleted, the pending
// delayed callbacks fired, the last sign-on error cleared by a good sign-on and sign-off, and the
// fake host's records forgotten. Each step goes through the endpoints. Leaks stay visible:
// what the plug-in keeps is reachable from the started instance, so LeakSanitizer's check after
// an input reports only blocks nothing points to; the plug-in's own heap counters must come back
// to where they stood before each input; and the instance is stopped at exit, before
// LeakSanitizer's last check, so whatever stop leaves behind is reported too.
#ifndef FUZZ_ULIX_AUTH_FUZZ_HOST_H_
#define FUZZ_ULIX_AUTH_FUZZ_HOST_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"
#include "testing/endpoint_chooser.h"
#include "testing/fake_host.h"
#include "testing/http_script.h"
#include "testing/sign_on_service.h"

namespace fuzz {

// The public client of the region settings, as a v2 configuration body.
inline constexpr const char* kRegionClient =
    R"({"url":"https://auth.test","clientId":"pc-client"})";

// A configuration token naming a confidential client at the local service's token endpoint.
inline constexpr const char* kConfigToken =
    "eyJhbGciOiJSUzI1NiIsInR5cCI6IkpXVCJ9."
    "eyJhdWQiOiJodHRwczovL2F1dGgudGVzdC90b2tlbiIsInN1YiI6Imp3dC1jbGllbnQifQ.c2lnbmF0dXJl";

// Aborts when an answer is malformed: a failure must name its cause and every answer must be
// releasable.
inline void CheckAnswer(const HostResponse& response) {
  const char* error = response.errorText;
  if (error != nullptr && error[0] == '\0') std::abort();
  if (response.release == nullptr) std::abort();
}

// Sends a request with a JSON body (when not empty) to the endpoint `chooser` picks, checks the
// answer's shape and tells whether it succeeded.
inline bool Send(const ulix_testing::EndpointChooser& chooser, std::uint32_t method,
                 const std::string& path, std::string_view body = {}) {
  const CatalogueEndpoint* endpoint = chooser.Choose(method, path);
  if (endpoint == nullptr) std::abort();
  ulix_testing::TestRequest request;
  request.method = method;
  request.path = path;
  if (!body.empty()) {
    request.content_type = "application/json";
    request.body = std::string(body);
  }
  ulix_testing::DispatchedResponse response;
  ulix_testing::Dispatch(*endpoint, request, response);
  CheckAnswer(response.record());
  return response.ok();
}

class SignOnFuzzHost {
 public:
  SignOnFuzzHost() {
    SetGoodService();
    ulix_testing::ScriptRegion(host_);
    host_.ScriptResource(ulix_testing::kInstallSettingsPath,
                         ulix_testing::FakeValue::Object(
                             {{"install-identifier", ulix_testing::FakeValue::Text("install-1")}}));
    HostFunctionTable* functions = host_.mutable_functions();
    functions->sendEvent = [](const HostFunctionTable*, const HostEvent*) {};
    functions->writeLog = [](const HostFunctionTable*, std::int32_t, const char*) {};
    plugin_ = new ulix_auth::ULIXAuthPlugin();
    block_.major = 18;
    plugin_->handshake(&block_, ulix_auth::kShortName);
    chooser_ = std::make_unique<ulix_testing::EndpointChooser>(*block_.catalogue);
    if (block_.entryTable->start(block_.context, host_.context()) == 0) std::abort();
    host_.FireScheduled();  // applies the configuration
  }

  ~SignOnFuzzHost() { block_.entryTable->stop(block_.context); }
  SignOnFuzzHost(const SignOnFuzzHost&) = delete;
  SignOnFuzzHost& operator=(const SignOnFuzzHost&) = delete;

  // The process's one started plug-in, signed off and with its own configuration between
  // inputs; stopped when the process exits.
  static SignOnFuzzHost& Started() {
    static SignOnFuzzHost host;
    return host;
  }

  ulix_testing::FakeHost& host() { return host_; }
  const ulix_testing::EndpointChooser& chooser() const { return *chooser_; }
  // Answers with `service` from now on; EndInput puts the good service back.
  void SetService(ulix_testing::HttpScript::Responder service) {
    service_.Otherwise(std::move(service));
    service_varied_ = true;
  }
  // Answers as a good service again. An input that deletes the configuration override after
  // this leaves a good discovery record behind, which spares EndInput two fetches.
  void RestoreService() {
    SetGoodService();
    service_varied_ = false;
  }

  bool Send(std::uint32_t method, const std::string& path, std::string_view body = {}) {
    return fuzz::Send(*chooser_, method, path, body);
  }

  // Notes the plug-in's heap counters before an input.
  void BeginInput() {
    in_use_before_ = BytesInUse();
    token_serial_ = 0;
  }

  // Puts back what an input may have changed (see the file comment) and aborts when the
  // plug-in's own heap does not come back to where it stood before the input.
  void EndInput() {
    SetGoodService();
    Send(kHostMethodDelete, "/ulix-auth/v1/authorization");
    // Deleting an override installs the region's configuration again and fetches discovery from
    // the good service, replacing whatever record the input left (an empty one after a failed
    // fetch is trusted for minutes). With the good service all along, a record the input
    // fetched is a good one.
    if (service_varied_) Send(kHostMethodPost, "/ulix-auth/v2/config", kRegionClient);
    service_varied_ = false;
    Send(kHostMethodDelete, "/ulix-auth/v1/config");
    // Only a good sign-on clears the last error; signing off again leaves no authorization.
    if (Send(kHostMethodGet, "/ulix-auth/v1/authorization/error")) {
      if (!Send(kHostMethodPost, "/ulix-auth/v1/authorization/gas", ulix_testing::kSignOnBody)) {
        std::fprintf(stderr, "fuzz host: the sign-on that resets the last error failed\n");
        std::abort();
      }
      Send(kHostMethodDelete, "/ulix-auth/v1/authorization");
    }
    // Signed off, a refresh callback does nothing and schedules nothing more.
    for (int round = 0; round < 8 && host_.FireScheduled() > 0; ++round) {
    }
    host_.ClearRecords();
    service_.ForgetRequests();
    const std::uint64_t in_use = BytesInUse();
    if (in_use != in_use_before_) {
      std::fprintf(stderr, "fuzz host: the plug-in's heap holds %lld bytes more after the input\n",
                   static_cast<long long>(in_use - in_use_before_));
      std::abort();
    }
  }

 private:
  // A token answer's access token ends in the grant's serial: the service issues a new one
  // with every grant, so a refresh callback left behind by an earlier token finds it replaced.
  void SetGoodService() {
    service_.Otherwise([this](const std::string& url, const std::string&) {
      const bool grant = url == ulix_testing::kTokenUrl;
      return ulix_testing::GoodAnswer(url, grant ? std::to_string(++token_serial_) : "");
    });
  }

  std::uint64_t BytesInUse() const {
    MemoryStatistics statistics{};
    block_.entryTable->getMemoryStatistics(block_.context, &statistics);
    return statistics.bytesAllocated - statistics.bytesFreed;
  }

  ulix_testing::FakeHost host_;
  ulix_testing::HttpScript service_{host_};
  ulix_auth::ULIXAuthPlugin* plugin_ = nullptr;  // deleted by its stop entry
  HostInitBlock block_{};
  std::unique_ptr<ulix_testing::EndpointChooser> chooser_;
  std::uint64_t in_use_before_ = 0;
  unsigned token_serial_ = 0;
  bool service_varied_ = false;
};

}  // namespace fuzz

#endif  // FUZZ_ULIX_AUTH_FUZZ_HOST_H_
