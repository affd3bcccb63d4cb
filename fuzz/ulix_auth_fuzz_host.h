// The sign-on plug-in started for one fuzz input against the fake host: region "NA1" configured
// with a public client at "https://auth.test", the install settings stored, events and log lines
// dropped (a fuzz run would otherwise keep them all), and the sign-on service answered by a
// function the target supplies. Requests go through the endpoint records and their dispatch
// entry, as a host sends them.
#ifndef FUZZ_ULIX_AUTH_FUZZ_HOST_H_
#define FUZZ_ULIX_AUTH_FUZZ_HOST_H_

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"
#include "testing/endpoint_chooser.h"
#include "testing/fake_host.h"

namespace fuzz {

// A service answer: transport 0 is an exchange with `status`, `headers` and `body`; any other
// transport result fails the exchange with `body` as its error text.
struct ServiceAnswer {
  std::uint32_t transport = 1;
  std::uint32_t status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

inline constexpr const char* kAccessToken =
    "eyJhbGciOiJSUzI1NiIsInR5cCI6IkpXVCJ9."
    "eyJleHAiOjE5MDAwMDAwMDAsInNjcCI6WyJvcGVuaWQiLCJraXYiXSwic3ViIjoicGxheWVyLTEiLCJkYXQiOnsiciI6Ik"
    "5BMSIsInUiOjEyMzQ1Nn19.c2lnbmF0dXJl";
inline constexpr const char* kIdToken =
    "eyJhbGciOiJSUzI1NiIsInR5cCI6IkpXVCJ9.eyJleHAiOjE5MDAwMDAxMDAsInRhZyI6WyJlbnQxIiwiZW50MiJdfQ."
    "c2lnbmF0dXJl";

inline std::string GoodTokenBody() {
  return std::string("{\"access_token\":\"") + kAccessToken + "\",\"id_token\":\"" + kIdToken +
         "\",\"refresh_token\":\"refresh/1\",\"expires_in\":3600}";
}

inline std::string DiscoveryBody() {
  return R"({"vorn_kiv_regions_supported":["NA1"],"vorn_kiv_userinfo_regions_enabled":["NA1"],)"
         R"("userinfo_endpoint":"https://auth.test/userinfo"})";
}

class SignOnFuzzHost {
 public:
  using Service = std::function<ServiceAnswer(const std::string& url, const std::string& body)>;

  explicit SignOnFuzzHost(Service service) : service_(std::move(service)) {
    using ulix_testing::FakeValue;
    host_.ScriptResource("/vornclient/command-line-args", Found(FakeValue::Array({})));
    host_.ScriptResource("/vornclient/region-locale",
                         Found(FakeValue::Object({{"region", FakeValue::Text("NA1")}})));
    host_.ScriptResource("/data-store/v1/system-settings/region_data/NA1/ulix",
                         Found(FakeValue::Object({
                             {"client", FakeValue::Text("pc-client")},
                             {"url", FakeValue::Text("https://auth.test")},
                         })));
    host_.ScriptResource(
        "/data-store/v1/install-settings/ulix-auth",
        Found(FakeValue::Object({{"install-identifier", FakeValue::Text("install-1")}})));
    HostFunctionTable* functions = host_.mutable_functions();
    functions->sendEvent = [](const HostFunctionTable*, const HostEvent*) {};
    functions->writeLog = [](const HostFunctionTable*, std::int32_t, const char*) {};
    host_.SetHttpHandler([this](const HostHttpRequest& request, HostHttpResponse& response) {
      const std::string url = request.url != nullptr ? request.url : "";
      const char* body = static_cast<const char*>(request.body);
      ServiceAnswer answer =
          service_(url, body != nullptr ? std::string(body, request.bodyLength) : std::string());
      kept_ = std::move(answer);
      pairs_.clear();
      for (const auto& [name, value] : kept_.headers) {
        pairs_.push_back(HostHeaderPair{name.c_str(), value.c_str()});
      }
      response = HostHttpResponse{};
      response.transportResult = kept_.transport;
      response.status = kept_.status;
      response.headers = pairs_.empty() ? nullptr : pairs_.data();
      response.headerCount = static_cast<std::uint32_t>(pairs_.size());
      response.body = kept_.body.empty() ? nullptr : kept_.body.data();
      response.bodyLength = static_cast<std::uint32_t>(kept_.body.size());
    });
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

  ulix_testing::FakeHost& host() { return host_; }
  const ulix_testing::EndpointChooser& chooser() const { return *chooser_; }

  // Sends a request with a JSON body (when not empty) and checks the answer's shape: a failure
  // names its cause and every answer can be released. Returns the status.
  std::uint32_t Send(std::uint32_t method, const std::string& path, std::string_view body = {}) {
    const CatalogueEndpoint* endpoint = chooser_->Choose(method, path);
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
    return response.status();
  }

  static void CheckAnswer(const HostResponse& response) {
    const char* error = response.errorText;
    if (error != nullptr && error[0] == '\0') std::abort();
    if (response.release == nullptr) std::abort();
  }

 private:
  static ulix_testing::FakeHost::ResourceAnswer Found(ulix_testing::FakeValue value) {
    ulix_testing::FakeHost::ResourceAnswer answer;
    answer.value = std::move(value);
    return answer;
  }

  Service service_;
  ulix_testing::FakeHost host_;
  ulix_auth::ULIXAuthPlugin* plugin_ = nullptr;  // deleted by its stop entry
  HostInitBlock block_{};
  std::unique_ptr<ulix_testing::EndpointChooser> chooser_;
  ServiceAnswer kept_;
  std::vector<HostHeaderPair> pairs_;
};

}  // namespace fuzz

#endif  // FUZZ_ULIX_AUTH_FUZZ_HOST_H_
