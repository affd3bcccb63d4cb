// What the host tells people about sign-ons: a plain-words line for each outcome (from the
// plug-in's events and its answers), the state /ready reports, and a warning for plug-in options
// the plug-in does not know. The plug-in's own texts stay as they are; the host explains them.
#ifndef DEVHOST_SIGN_ON_REPORT_H_
#define DEVHOST_SIGN_ON_REPORT_H_

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devhost/catalogue_router.h"
#include "devhost/event_hub.h"
#include "devhost/host_log.h"

namespace devhost {

// The plug-in's error pair ("invalid_request", "auth_failure") in plain words: "the service
// refused the user name or password". A generic reading for pairs nobody expected.
std::string ExplainSignOnError(std::string_view error, std::string_view description);

// The "--ulix-auth." arguments the plug-in does not read, each with a hint ("did you mean
// --ulix-auth.username?") when a known name is close.
std::vector<std::string> UnknownPluginOptions(const std::vector<std::string>& arguments);

class SignOnReporter : public RouterObserver {
 public:
  // `router`, `log` and `events` must outlive the reporter; it hears the plug-in's resource
  // events from construction to destruction. `plugin_arguments` name the start-up sign-on's
  // player, if any.
  SignOnReporter(const CatalogueRouter& router, HostLog& log, EventHub& events,
                 const std::vector<std::string>& plugin_arguments);
  ~SignOnReporter() override;
  SignOnReporter(const SignOnReporter&) = delete;
  SignOnReporter& operator=(const SignOnReporter&) = delete;

  void Before(const ApiRequest& request) override;
  void After(const ApiRequest& request, const ApiAnswer& answer) override;

  // Once the start-up work is done: a line on how the sign-on from the command line went (none
  // when the command line names no player).
  void ReportStartUp();

  // The body of /ready: {"ready", "signedOn", "platformId", "accountId", "lastError": {"error",
  // "errorDescription", "explanation"} or null}, read from the plug-in now.
  std::string ReadyJson(bool ready) const;

 private:
  static void OnEvent(const HostEventDelivery* delivery);
  void OnResourceEvent(std::string_view json);
  // The player a sign-on on this thread is for: the request's, else the command line's.
  std::string PlayerOnThisThread() const;

  const CatalogueRouter& router_;
  HostLog& log_;
  EventHub& events_;
  const std::optional<std::string> start_up_player_;
};

}  // namespace devhost

#endif  // DEVHOST_SIGN_ON_REPORT_H_
