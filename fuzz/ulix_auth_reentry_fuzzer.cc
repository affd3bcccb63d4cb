// A host that calls back into the sign-on plug-in from inside the plug-in's own calls of it: from
// inside an exchange, an event delivery, a timer request or a resource call (telemetry) the input
// chooses, the host makes another request or runs the due timers, on the same thread or on a
// second thread that the call waits for (a minute at most: longer is a deadlock, and
// aborts). The sign-on service answers well or badly as the input says. After each input:
// - every call was answered (the fuzz host checks each answer's shape);
// - GET authorization succeeds exactly when the last change sent on the authorization path is a
//   Create;
// - the access token read is the one the last change on the access-token path announced;
// - after a sign-off that succeeded, the authorization is absent unless a sign-on succeeded
//   after that sign-off began.
// One plug-in serves every input (see fuzz/ulix_auth_fuzz_host.h).
//
// Input: steps of five bytes: the call, where the host calls back (0 nowhere, 1-3 the first,
// second or third exchange, 4 the first change event, 5 the first timer request, 6 the first
// telemetry call), the call made there, the thread (even: same, odd: another) and how the
// sign-on service answers token requests during the step (good, refused, failing, unreachable).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "fuzz/ulix_auth_fuzz_host.h"

namespace fuzz {
namespace {

using ulix_testing::kAccessTokenPath;
using ulix_testing::kAuthorizationPath;

enum Hook : unsigned { kNowhere, kExchange1, kExchange2, kExchange3, kEvent, kTimer, kTelemetry };

// What the oracles read, filled by the host's entries on whatever thread the plug-in calls.
struct Observed {
  std::mutex mutex;
  std::string last_authorization;  // the eventType of the last change, "" before any
  std::string last_access_token;   // the token of the last change, "-" after a Delete
  unsigned sequence = 0;           // counts answers
  unsigned sign_off_began = 0;     // of the latest sign-off that succeeded
  unsigned signed_on = 0;          // of the latest sign-on that succeeded
};

// The call-back the current step arms: it fires once, at the `remaining`-th matching host call.
struct Plan {
  std::mutex mutex;
  Hook hook = kNowhere;
  int remaining = 0;
  unsigned call = 0;
  bool other_thread = false;
};

Observed observed;
Plan plan;
HostFunctionTable originals{};

SignOnFuzzHost& Host() { return SignOnFuzzHost::Started(); }

// The token text of a change's JSON, or "" without one.
std::string TokenOf(const std::string& json) {
  const std::string key = "\"token\":\"";
  const std::size_t at = json.find(key);
  if (at == std::string::npos) return "";
  const std::size_t begin = at + key.size();
  return json.substr(begin, json.find('"', begin) - begin);
}

// Makes call `call` of the table below as the host would, and notes what the oracles need.
void MakeCall(unsigned call) {
  auto note = [](bool ok, unsigned* at) {
    std::lock_guard<std::mutex> lock(observed.mutex);
    ++observed.sequence;
    if (ok && at != nullptr) *at = observed.sequence;
  };
  switch (call % 11) {
    case 0:
      note(Host().Send(kHostMethodPost, "/ulix-auth/v1/authorization/gas",
                       ulix_testing::kSignOnBody),
           &observed.signed_on);
      break;
    case 1: {
      unsigned began;
      {
        std::lock_guard<std::mutex> lock(observed.mutex);
        began = ++observed.sequence;
      }
      if (Host().Send(kHostMethodDelete, kAuthorizationPath)) {
        std::lock_guard<std::mutex> lock(observed.mutex);
        if (began > observed.sign_off_began) observed.sign_off_began = began;
      }
      break;
    }
    case 2:
      note(Host().Send(kHostMethodPost, "/ulix-auth/v1/authorization/refresh"), nullptr);
      break;
    case 3:
      note(Host().Send(kHostMethodPost, "/ulix-auth/v1/authorization/userinfo"), nullptr);
      break;
    case 4:
      note(Host().Send(kHostMethodGet, "/ulix-auth/v1/status/NA1"), nullptr);
      break;
    case 5:
      note(Host().Send(kHostMethodGet, "/ulix-auth/v1/config/NA1"), nullptr);
      break;
    case 6:
      note(Host().Send(kHostMethodPost, "/ulix-auth/v1/config",
                       std::string("{\"token\":\"") + kConfigToken + "\"}"),
           nullptr);
      break;
    case 7:
      note(Host().Send(kHostMethodDelete, "/ulix-auth/v1/config"), nullptr);
      break;
    case 8:
      note(Host().Send(kHostMethodPost, "/ulix-auth/v2/config", kRegionClient), nullptr);
      break;
    case 9:
      note(Host().Send(kHostMethodGet, kAccessTokenPath), nullptr);
      break;
    default:
      Host().host().FireScheduled();
      break;
  }
}

// Called by the host's entries: makes the planned call when `hook` is the one armed and due.
void MaybeCallBack(Hook hook) {
  unsigned call;
  bool other_thread;
  {
    std::lock_guard<std::mutex> lock(plan.mutex);
    const bool exchange = hook == kExchange1 && plan.hook >= kExchange1 && plan.hook <= kExchange3;
    if (plan.hook == kNowhere || (!exchange && plan.hook != hook)) return;
    if (--plan.remaining > 0) return;
    plan.hook = kNowhere;
    call = plan.call;
    other_thread = plan.other_thread;
  }
  if (!other_thread) return MakeCall(call);
  std::packaged_task<void()> task([call] { MakeCall(call); });
  std::future<void> done = task.get_future();
  std::thread(std::move(task)).detach();
  if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    std::fprintf(stderr, "fuzz: a call on a thread the host waits for never ended\n");
    std::abort();
  }
}

void Install() {
  HostFunctionTable* table = Host().host().mutable_functions();
  originals = *table;
  table->sendHttpRequest = [](const HostFunctionTable* self, const HostHttpRequest* request,
                              HostHttpResponse* response) {
    MaybeCallBack(kExchange1);
    originals.sendHttpRequest(self, request, response);
  };
  table->sendEvent = [](const HostFunctionTable*, const HostEvent* event) {
    if (std::string_view(event->name).starts_with("OnJsonApiEvent_")) {
      const std::string json = ulix_testing::FakeValue::FromHost(event->value).Json();
      std::string type = json.find("\"eventType\":\"Create\"") != std::string::npos   ? "Create"
                         : json.find("\"eventType\":\"Delete\"") != std::string::npos ? "Delete"
                                                                                      : "Update";
      std::lock_guard<std::mutex> lock(observed.mutex);
      if (json.find(std::string("\"uri\":\"") + kAuthorizationPath + "\"") != std::string::npos) {
        observed.last_authorization = type;
      } else if (json.find(std::string("\"uri\":\"") + kAccessTokenPath + "\"") !=
                 std::string::npos) {
        observed.last_access_token = type == "Delete" ? "-" : TokenOf(json);
      }
    }
    MaybeCallBack(kEvent);
  };
  table->scheduleCallback = [](const HostFunctionTable* self, const char* label,
                               HostDelayedCallback callback, void* context, double delay,
                               std::int32_t zero) {
    originals.scheduleCallback(self, label, callback, context, delay, zero);
    MaybeCallBack(kTimer);
  };
  table->callResource = [](const HostFunctionTable* self, HostResponse* response,
                           const HostRequest* request) {
    MaybeCallBack(kTelemetry);
    originals.callResource(self, response, request);
  };
}

// How the service answers token requests during a step; the rest of it answers well.
ulix_testing::FakeHost::HttpAnswer TokenAnswer(unsigned mode, const std::string& url,
                                               unsigned* serial) {
  if (url == ulix_testing::kTokenUrl) {
    switch (mode % 4) {
      case 1:
        return {0, 400, R"({"error":"invalid_grant","error_description":"no"})"};
      case 2:
        return {0, 503, R"({"error":"server_error","error_description":"busy"})"};
      case 3:
        return {1, 0, "connection refused"};
      default:
        break;
    }
  }
  const bool grant = url == ulix_testing::kTokenUrl;
  return ulix_testing::GoodAnswer(url, grant ? "r" + std::to_string(++*serial) : "");
}

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz: %s\n", what);
  std::abort();
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using fuzz::observed;
  using fuzz::plan;
  static const bool installed = (fuzz::Install(), true);
  (void)installed;
  fuzz::SignOnFuzzHost& host = fuzz::Host();
  host.BeginInput();
  {
    std::lock_guard<std::mutex> lock(observed.mutex);
    observed.last_authorization.clear();
    observed.last_access_token.clear();
    observed.sign_off_began = observed.signed_on = 0;
  }
  static unsigned serial = 0;
  for (std::size_t at = 0; at + 5 <= size && at < 5 * 8; at += 5) {
    const unsigned mode = data[at + 4];
    host.SetService([mode](const std::string& url, const std::string&) {
      return fuzz::TokenAnswer(mode, url, &serial);
    });
    {
      std::lock_guard<std::mutex> lock(plan.mutex);
      plan.hook = static_cast<fuzz::Hook>(data[at + 1] % 7);
      plan.remaining = plan.hook >= fuzz::kExchange1 && plan.hook <= fuzz::kExchange3
                           ? static_cast<int>(plan.hook)
                           : 1;
      plan.call = data[at + 2];
      plan.other_thread = (data[at + 3] & 1) != 0;
    }
    fuzz::MakeCall(data[at]);
  }
  {
    std::lock_guard<std::mutex> lock(plan.mutex);
    plan.hook = fuzz::kNowhere;
  }
  host.SetService([](const std::string& url, const std::string&) {
    return fuzz::TokenAnswer(0, url, &serial);
  });
  // The oracles, on the state every call has left.
  const bool present = host.Send(kHostMethodGet, fuzz::kAuthorizationPath);
  ulix_testing::DispatchedResponse token;
  ulix_testing::TestRequest read;
  read.method = kHostMethodGet;
  read.path = fuzz::kAccessTokenPath;
  ulix_testing::Dispatch(*host.chooser().Choose(read.method, read.path), read, token);
  const std::string token_text =
      token.ok() ? fuzz::TokenOf(ulix_testing::FakeValue::FromHost(token.value()).Json()) : "-";
  {
    std::lock_guard<std::mutex> lock(observed.mutex);
    fuzz::Check(present == (observed.last_authorization == "Create"),
                "GET authorization disagrees with the last change of its path");
    const std::string announced =
        observed.last_access_token.empty() ? "-" : observed.last_access_token;
    fuzz::Check(!present || token_text == announced,
                "the access token read is not the one announced last");
    fuzz::Check(
        !present || observed.sign_off_began == 0 || observed.signed_on > observed.sign_off_began,
        "an authorization is back after a sign-off with no sign-on after it");
  }
  host.EndInput();
  return 0;
}
