// The sign-on plug-in started against the fake host for one unit test: the host's resources
// (command line, install and region settings) scripted, the sign-on service answering per URL,
// requests dispatched through the endpoint records of the catalogue, and one clock moved by hand
// for both the plug-in and the host's delayed callbacks.
#ifndef TESTING_PLUGIN_TEST_HOST_H_
#define TESTING_PLUGIN_TEST_HOST_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
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
  ~PluginTestHost() { Stop(); }

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

  // The answer to one request: "<status> <error>" on failure, else the value as JSON ("null"
  // without one).
  std::string Text(std::uint32_t method, const std::string& path,
                   std::optional<std::string> json_body = std::nullopt);
  // Signs on as "ann" on "NA1" with the service answering `reply`; the answer as Text gives it.
  std::string SignOn(FakeHost::HttpAnswer reply = TokenReply(AccessTokenFor()));

  // Moves the plug-in's clock and the host's together, running the callbacks that fall due.
  std::size_t Advance(double seconds);

  // "<eventType> <uri>" of every change sent since the last call. Each change must have been
  // sent twice, under its path's event name and then as "OnJsonApiEvent", with the same value;
  // a test fails otherwise. `data`, when given, receives each change's data as JSON.
  std::vector<std::string> TakeChanges(std::vector<std::string>* data = nullptr);

  // From here on, notes every call the plug-in makes of the host, in the order the host receives
  // them, one line each: "log <level>|<message>", "change <eventType> <uri> <data JSON>" (its
  // copy under "OnJsonApiEvent" is left out), "event <name>", "subscribe <name>", "schedule
  // <label> <delay in seconds, to the millisecond>", "http <METHOD> <url>" followed by the
  // headers other than Cache-Control, Content-Type and user-agent as " name=value" and the body
  // as " | body", "resource <METHOD> <path>" followed by the arguments as JSON.
  void DetailTranscript();
  // The lines noted since the last call.
  std::vector<std::string> TakeTranscript();

 private:
  // The table the plug-in is given: each entry notes the call, then the fake host's serves it.
  struct NotingTable {
    HostFunctionTable functions;
    PluginTestHost* owner;
  };
  template <auto entry, typename... Args>
  static void Noted(const HostFunctionTable* self, Args... args);
  void Note(const std::string& line);
  // The install settings: read, and written (kept for the next start) unless refused.
  // Everything else unscripted is 404. The answers carry no release function, as a host may
  // send them: the plug-in reads them and leaves their memory to the host.
  void HandleResource(const HostRequest& request, HostResponse& response);

  FakeHost host_;
  HttpScript service_{host_};
  NotingTable table_{};
  HostContext context_{};
  ulix_auth::ULIXAuthPlugin* plugin_ = nullptr;
  HostInitBlock block_{};
  std::unique_ptr<EndpointChooser> chooser_;
  std::size_t events_seen_ = 0;

  std::mutex mutex_;
  std::optional<FakeValue> install_settings_;
  bool install_write_refused_ = false;
  std::deque<FakeValue::Storage> kept_values_;
  bool noting_ = false;
  std::vector<std::string> transcript_;
};

}  // namespace ulix_testing

#endif  // TESTING_PLUGIN_TEST_HOST_H_
