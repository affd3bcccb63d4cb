// The sign-on plug-in started against the fake host for one unit test: the host's resources
// (command line, install and region settings) scripted, the sign-on service answering per URL,
// requests dispatched through the endpoint records of the catalogue, and one clock moved by hand
// for both the plug-in and the host's delayed callbacks.
#ifndef TESTING_PLUGIN_TEST_HOST_H_
#define TESTING_PLUGIN_TEST_HOST_H_

#include <atomic>
#include <cstdint>
#include <deque>
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
#include "testing/http_script.h"
#include "testing/sign_on_service.h"

namespace ulix_testing {

class PluginTestHost {
 public:
  // ScriptRegion, install identifier "install-1", and the service answering discovery and
  // revocation, unless a test changes them before Start.
  PluginTestHost();
  ~PluginTestHost();

  FakeHost& host() { return host_; }
  // The sign-on service's answers and the URLs requested of it.
  HttpScript& service() { return service_; }

  void SetCommandLine(std::vector<std::string> arguments);
  // nullopt: the host answers 404.
  void SetRegionSettings(std::optional<FakeValue> settings);
  void SetInstallSettings(std::optional<FakeValue> settings);
  // Makes the host refuse to store the install settings.
  void RefuseInstallSettingsWrite() { install_write_refused_ = true; }

  // Loads and starts the plug-in; `apply` runs the "configure-auth-client" callback too.
  void Start(bool apply = true);
  void Stop();
  ulix_auth::ULIXAuthPlugin& plugin() { return *plugin_; }
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
  Reply SignOn(FakeHost::HttpAnswer reply = TokenReply(AccessTokenFor()));

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
  // Detailed transcript lines: "change <eventType> <uri> <data JSON>", "http <METHOD> <url>"
  // followed by the headers other than Cache-Control, Content-Type and user-agent as " name=value"
  // and the body as " | body", "resource <METHOD> <path>" followed by the arguments as JSON,
  // "schedule <label> <delay in seconds, to the millisecond>".
  void DetailTranscript() { detailed_ = true; }

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

  // The install settings: read, and written (kept for the next start) unless refused.
  // Everything else unscripted is 404.
  void HandleResource(const HostRequest& request, HostResponse& response);

  FakeHost host_;
  HttpScript service_{host_};
  ulix_auth::ULIXAuthPlugin* plugin_ = nullptr;
  HostInitBlock block_{};
  std::unique_ptr<EndpointChooser> chooser_;
  std::size_t events_seen_ = 0;
  std::size_t log_seen_ = 0;

  mutable std::mutex mutex_;
  std::optional<FakeValue> install_settings_;
  bool install_write_refused_ = false;
  std::deque<FakeValue::Storage> kept_values_;

  HostFunctionTable fake_entries_{};  // the fake host's own entries, which the notes forward to
  std::mutex transcript_mutex_;
  std::atomic<bool> detailed_{false};
  std::vector<std::string> transcript_;
};

}  // namespace ulix_testing

#endif  // TESTING_PLUGIN_TEST_HOST_H_
