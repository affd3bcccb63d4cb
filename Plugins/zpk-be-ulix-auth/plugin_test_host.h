// The sign-on plug-in started against the fake host for one test: the host's resources (command
// line, install and region settings) scripted, a sign-on service answering per URL, requests
// dispatched through the endpoint records of the catalogue, and one clock moved by hand for both
// the plug-in and the host's delayed callbacks.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_PLUGIN_TEST_HOST_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_PLUGIN_TEST_HOST_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"
#include "testing/endpoint_chooser.h"
#include "testing/fake_host.h"

namespace ulix_auth {

// A compact token whose payload is `payload_json` (header and signature are fixed).
std::string MakeToken(std::string_view payload_json);
// An access token for player "player-1" (account 123456) on "NA1", expiring at 1900000000.
std::string AccessTokenFor(std::string_view subject = "player-1");
// An id token with entitlements "ent1" and "ent2", expiring at 1900000100.
std::string IdTokenText();
// A configuration token naming client "jwt-client" at "https://jwt.test/token".
std::string ConfigToken();

inline constexpr const char* kServiceUrl = "https://auth.test";
inline constexpr const char* kTokenUrl = "https://auth.test/token";
inline constexpr const char* kDiscoveryUrl = "https://auth.test/.well-known/openid-configuration";
inline constexpr const char* kUserInfoUrl = "https://auth.test/userinfo";

// A scripted answer of the sign-on service.
struct ServiceReply {
  std::uint32_t transport = 0;  // non-zero: `body` is the transport's error text
  std::uint32_t status = 200;
  std::string body;
};

// The token answer of a successful grant.
ServiceReply TokenReply(std::string_view access_token, int expires_in = 3600,
                        bool with_id_token = true, bool with_refresh_token = true);

class PluginTestHost {
 public:
  // A region "NA1" configured with a public client at kServiceUrl, Kount merchant "m-1", install
  // identifier "install-1" and no command-line arguments, unless a test changes them before
  // Start.
  PluginTestHost();
  ~PluginTestHost();

  ulix_testing::FakeHost& host() { return host_; }

  void SetCommandLine(std::vector<std::string> arguments);
  // nullopt: the host answers 404.
  void SetRegionSettings(std::optional<ulix_testing::FakeValue> settings);
  void SetInstallSettings(std::optional<ulix_testing::FakeValue> settings);
  // Makes the host refuse to store the install settings.
  void RefuseInstallSettingsWrite() { install_write_refused_ = true; }

  // Answers every request for `url` with `reply`, after the queued ones are used up.
  void Answer(const std::string& url, ServiceReply reply);
  // Answers the next request for `url` with `reply`.
  void AnswerOnce(const std::string& url, ServiceReply reply);
  // Answers every request for `url` with what `responder` returns for the request's body; wins
  // over the other answers. `responder` runs on the exchanging thread.
  void Respond(const std::string& url,
               std::function<ServiceReply(const std::string& body)> responder);
  // Runs inside every service exchange, on the exchanging thread, before it answers.
  void OnExchange(std::function<void(const std::string& url)> hook);
  std::vector<std::string> RequestedUrls() const;
  int RequestCount(const std::string& url) const;

  // Loads and starts the plug-in; `apply` runs the "configure-auth-client" callback too.
  void Start(bool apply = true);
  void Stop();
  ULIXAuthPlugin& plugin() { return *plugin_; }
  // The endpoint records of the started plug-in, for tests that build request records by hand.
  const TypeCatalogue& catalogue() const { return *block_.catalogue; }

  struct Reply {
    std::uint32_t status = 0;
    std::string error;  // "" on success
    std::string json;   // the value as JSON; "null" without one
  };
  Reply Send(std::uint32_t method, const std::string& path,
             std::optional<std::string> json_body = std::nullopt);
  // "<status> <error>" or the JSON answer, for one-line assertions.
  std::string Text(std::uint32_t method, const std::string& path,
                   std::optional<std::string> json_body = std::nullopt);

  // Signs on as "ann" on "NA1" with the service answering `reply`.
  Reply SignOn(ServiceReply reply = TokenReply(AccessTokenFor()));

  // Moves the plug-in's clock and the host's together, running the callbacks that fall due.
  std::size_t Advance(double seconds);

  // "<event name> <event JSON>" of every event sent since the last call.
  std::vector<std::string> TakeEvents();
  // "<eventType> <uri>" of every change sent since the last call. Each change must have been
  // sent twice, under its path's event name and then as "OnJsonApiEvent", with the same value;
  // a test fails otherwise. `data`, when given, receives each change's data as JSON.
  std::vector<std::string> TakeChanges(std::vector<std::string>* data = nullptr);
  // The messages logged since the last call, as "<level>|<message>".
  std::vector<std::string> TakeLog();
  // The last logged message that begins with `prefix`, or "".
  std::string LoggedLine(std::string_view prefix) const;

  // Every call the plug-in made of the host since the last call, logs and events included, in
  // the order the host received them, one line each: "log <level>|<message>", "change
  // <eventType> <uri>" (its copy under "OnJsonApiEvent" is left out), "event <name>",
  // "subscribe <name>", "schedule <label>", "http <url>", "resource <path>".
  std::vector<std::string> TakeTranscript();

 private:
  // The host's table entries, each noting the call before the fake host's own entry serves it.
  static void NoteLog(const HostFunctionTable* self, std::int32_t level, const char* message);
  static void NoteEvent(const HostFunctionTable* self, const HostEvent* event);
  static void NoteSubscribe(const HostFunctionTable* self, const char* name,
                            std::uint32_t plugin_handle, HostEventCallback callback, void* context,
                            std::int32_t flag);
  static void NoteSchedule(const HostFunctionTable* self, const char* label,
                           HostDelayedCallback callback, void* context, double delay_seconds,
                           std::int32_t zero);
  static void NoteHttp(const HostFunctionTable* self, const HostHttpRequest* request,
                       HostHttpResponse* response);
  static void NoteResource(const HostFunctionTable* self, HostResponse* response,
                           const HostRequest* request);
  static PluginTestHost& From(const HostFunctionTable* self);
  void Note(std::string line);

  void HandleExchange(const HostHttpRequest& request, HostHttpResponse& response);
  // The install settings: read, and written unless refused. Everything else unscripted is 404.
  void HandleResource(const HostRequest& request, HostResponse& response);

  ulix_testing::FakeHost host_;
  ULIXAuthPlugin* plugin_ = nullptr;
  HostInitBlock block_{};
  std::unique_ptr<ulix_testing::EndpointChooser> chooser_;
  std::size_t events_seen_ = 0;
  std::size_t log_seen_ = 0;

  mutable std::mutex mutex_;
  std::map<std::string, std::deque<ServiceReply>> once_;
  std::map<std::string, ServiceReply> always_;
  std::map<std::string, std::function<ServiceReply(const std::string&)>> responders_;
  std::vector<std::string> urls_;
  std::function<void(const std::string&)> hook_;
  std::deque<std::string> kept_;  // bodies handed to the plug-in
  std::optional<ulix_testing::FakeValue> install_settings_;
  bool install_write_refused_ = false;
  std::deque<ulix_testing::FakeValue::Storage> kept_values_;

  HostFunctionTable fake_entries_{};  // the fake host's own entries, which the notes forward to
  std::mutex transcript_mutex_;
  std::vector<std::string> transcript_;
};

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_PLUGIN_TEST_HOST_H_
