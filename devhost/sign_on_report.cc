#include "devhost/sign_on_report.h"

#include <algorithm>
#include <cstring>

#include "devhost/host_value_json.h"
#include "rapidjson/document.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"

namespace devhost {
namespace {

constexpr std::string_view kAuthorizationPath = "/ulix-auth/v1/authorization";
constexpr std::string_view kErrorPath = "/ulix-auth/v1/authorization/error";
constexpr std::string_view kSignOnPath = "/ulix-auth/v1/authorization/gas";
constexpr std::string_view kRefreshPath = "/ulix-auth/v1/authorization/refresh";
constexpr std::string_view kOptionPrefix = "--ulix-auth.";
// The subscription handle of the host's own listener; the plug-in's handles are small numbers.
constexpr std::uint32_t kHostHandle = 0xFFFFFFFFu;

// The options the plug-in reads from its command line ("password-file" is the host's and has
// become "password" by the time anything is checked).
constexpr const char* kKnownOptions[] = {"url",      "client",   "token",    "required",
                                         "disabled", "username", "password", "platform"};

// The user name of the sign-on this thread is dispatching, if it is one.
thread_local std::string request_player;

std::string MemberText(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return {};
  auto found = object.FindMember(name);
  if (found == object.MemberEnd() || !found->value.IsString()) return {};
  return {found->value.GetString(), found->value.GetStringLength()};
}

std::optional<std::uint64_t> MemberNumber(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return std::nullopt;
  auto found = object.FindMember(name);
  if (found == object.MemberEnd() || !found->value.IsUint64()) return std::nullopt;
  return found->value.GetUint64();
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// Whether every letter of `shorter` appears in `longer`, in order.
bool IsShortening(std::string_view shorter, std::string_view longer) {
  std::size_t at = 0;
  for (char c : longer) {
    if (at < shorter.size() && shorter[at] == c) ++at;
  }
  return at == shorter.size();
}

// "error: description" as the plug-in writes a failed request's message, split back.
std::pair<std::string, std::string> SplitMessage(std::string_view message) {
  const std::size_t colon = message.find(": ");
  if (colon == std::string_view::npos) return {std::string(message), ""};
  return {std::string(message.substr(0, colon)), std::string(message.substr(colon + 2))};
}

}  // namespace

std::string ExplainSignOnError(std::string_view error, std::string_view description) {
  if (description == "auth_failure") return "the service refused the user name or password";
  if (description == "consent_required") {
    return "the player has to give consent on the service's site first";
  }
  if (description == "Unable to connect to server") {
    return "the sign-on service could not be reached";
  }
  if (description == "Received invalid JSON") {
    return "the sign-on service answered with something that is not JSON";
  }
  if (description.starts_with("Received malformed response")) {
    return "the sign-on service's answer lacks what a sign-on needs";
  }
  if (description.starts_with("Received invalid token")) {
    return "the sign-on service sent a token that cannot be read";
  }
  if (error == "invalid_grant") return "the service no longer accepts this sign-on";
  if (error == "invalid_client") return "the service does not know the client id";
  if (error.find("already exists") != std::string_view::npos) {
    return "a player is signed on already; sign off first";
  }
  if (error.starts_with("Invalid ULIX Config")) {
    return "no sign-on service is configured (give --ulix-auth.url and --ulix-auth.client)";
  }
  if (error.starts_with("No authorization")) return "no player is signed on";
  return "the sign-on service refused the request";
}

std::vector<std::string> UnknownPluginOptions(const std::vector<std::string>& arguments) {
  std::vector<std::string> unknown;
  for (const std::string& argument : arguments) {
    if (!argument.starts_with(kOptionPrefix)) continue;
    const std::string_view rest = std::string_view(argument).substr(kOptionPrefix.size());
    const std::string_view name = rest.substr(0, rest.find('='));
    if (std::find(std::begin(kKnownOptions), std::end(kKnownOptions), name) !=
        std::end(kKnownOptions)) {
      continue;
    }
    std::string line = "the plug-in has no option " + std::string(kOptionPrefix) +
                       std::string(name) + "; it is ignored";
    const char* closest = nullptr;
    std::size_t best = 3;  // further than two edits apart is no likely slip
    for (const char* known : kKnownOptions) {
      const std::size_t distance = EditDistance(name, known);
      // "usr", "plat": a shortening keeps the letters in order.
      const bool shortened = name.size() >= 3 && IsShortening(name, known);
      if ((shortened && best > 0) || distance < best) {
        closest = known;
        best = shortened ? 0 : distance;
      }
    }
    if (closest != nullptr) {
      line += " (did you mean " + std::string(kOptionPrefix) + closest + "?)";
    } else {
      line +=
          " (the plug-in reads url, client, token, required, disabled, username, password, "
          "platform)";
    }
    unknown.push_back(std::move(line));
  }
  return unknown;
}

namespace {

std::optional<std::string> StartUpPlayer(const std::vector<std::string>& arguments) {
  const std::string prefix = std::string(kOptionPrefix) + "username=";
  for (const std::string& argument : arguments) {
    if (argument.starts_with(prefix)) return argument.substr(prefix.size());
  }
  return std::nullopt;
}

}  // namespace

SignOnReporter::SignOnReporter(const CatalogueRouter& router, HostLog& log, EventHub& events,
                               const std::vector<std::string>& plugin_arguments)
    : router_(router),
      log_(log),
      events_(events),
      start_up_player_(StartUpPlayer(plugin_arguments)) {
  events_.Subscribe("OnJsonApiEvent", kHostHandle, &SignOnReporter::OnEvent, this);
}

SignOnReporter::~SignOnReporter() { events_.Unsubscribe("OnJsonApiEvent", kHostHandle); }

void SignOnReporter::OnEvent(const HostEventDelivery* delivery) {
  HostEventDelivery copy;
  std::memcpy(&copy, delivery, sizeof copy);
  try {
    static_cast<SignOnReporter*>(copy.context)->OnResourceEvent(HostValueToJson(copy.value));
  } catch (...) {
    // A line the host could not write is no reason to disturb the plug-in's event.
  }
}

void SignOnReporter::OnResourceEvent(std::string_view json) {
  rapidjson::Document event;
  event.Parse(json.data(), json.size());
  if (event.HasParseError() || MemberText(event, "uri") != kAuthorizationPath) return;
  // The type comes as its name or as its number, 0 to 2.
  std::string type = MemberText(event, "eventType");
  if (const std::optional<std::uint64_t> number = MemberNumber(event, "eventType")) {
    type = *number == 0 ? "Create" : *number == 2 ? "Delete" : "Update";
  }
  if (type == "Delete") {
    log_.Host("signed off");
    return;
  }
  if (type != "Create" || !event.HasMember("data")) return;
  const rapidjson::Value& data = event["data"];
  std::string line = "signed on";
  const std::string player = PlayerOnThisThread();
  if (!player.empty()) line += " as " + player;
  const std::string platform = MemberText(data, "currentPlatformId");
  if (!platform.empty()) line += " on " + platform;
  if (const std::optional<std::uint64_t> account = MemberNumber(data, "currentAccountId")) {
    line += " (account " + std::to_string(*account) + ")";
  }
  log_.Host(line);
}

std::string SignOnReporter::PlayerOnThisThread() const {
  if (!request_player.empty()) return request_player;
  return start_up_player_.value_or("");
}

void SignOnReporter::Before(const ApiRequest& request) {
  request_player.clear();
  if (request.method != "POST" || request.path != kSignOnPath) return;
  rapidjson::Document body;
  body.Parse(request.body.data(), request.body.size());
  if (!body.HasParseError()) request_player = MemberText(body, "username");
}

void SignOnReporter::After(const ApiRequest& request, const ApiAnswer& answer) {
  request_player.clear();
  const bool sign_on = request.method == "POST" && request.path == kSignOnPath;
  const bool refresh = request.method == "POST" && request.path == kRefreshPath;
  if ((!sign_on && !refresh) || (answer.status >= 200 && answer.status < 300)) return;
  rapidjson::Document body;
  body.Parse(answer.body.data(), answer.body.size());
  const std::string message = body.HasParseError() ? answer.body : MemberText(body, "message");
  const auto [error, description] = SplitMessage(message);
  log_.Host(std::string(sign_on ? "sign-on failed: " : "refresh failed: ") +
            ExplainSignOnError(error, description) + " (" + message + ")");
}

void SignOnReporter::ReportStartUp() {
  if (!start_up_player_) return;
  ApiRequest read;
  read.method = "GET";
  read.path = std::string(kAuthorizationPath);
  if (router_.Handle(read).status == 200) return;  // its Create event has told already
  read.path = std::string(kErrorPath);
  const ApiAnswer answer = router_.Handle(read);
  rapidjson::Document error;
  error.Parse(answer.body.data(), answer.body.size());
  if (answer.status != 200 || error.HasParseError()) {
    log_.Host("not signed on as " + *start_up_player_ +
              ": the plug-in has not tried (is a sign-on service configured?)");
    return;
  }
  const std::string code = MemberText(error, "error");
  const std::string description = MemberText(error, "errorDescription");
  log_.Host("sign-on failed: " + ExplainSignOnError(code, description) + " (" + code + ": " +
            description + ")");
}

std::string SignOnReporter::ReadyJson(bool ready) const {
  ApiRequest read;
  read.method = "GET";
  read.path = std::string(kAuthorizationPath);
  const ApiAnswer authorization = router_.Handle(read);
  read.path = std::string(kErrorPath);
  const ApiAnswer error_answer = router_.Handle(read);

  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("ready");
  writer.Bool(ready);
  writer.Key("signedOn");
  writer.Bool(authorization.status == 200);
  rapidjson::Document record;
  record.Parse(authorization.body.data(), authorization.body.size());
  if (authorization.status == 200 && !record.HasParseError()) {
    const std::string platform = MemberText(record, "currentPlatformId");
    writer.Key("platformId");
    writer.String(platform.c_str(), static_cast<rapidjson::SizeType>(platform.size()));
    if (const std::optional<std::uint64_t> account = MemberNumber(record, "currentAccountId")) {
      writer.Key("accountId");
      writer.Uint64(*account);
    }
  }
  writer.Key("lastError");
  rapidjson::Document error;
  error.Parse(error_answer.body.data(), error_answer.body.size());
  if (error_answer.status == 200 && !error.HasParseError()) {
    const std::string code = MemberText(error, "error");
    const std::string description = MemberText(error, "errorDescription");
    const std::string explanation = ExplainSignOnError(code, description);
    writer.StartObject();
    writer.Key("error");
    writer.String(code.c_str(), static_cast<rapidjson::SizeType>(code.size()));
    writer.Key("errorDescription");
    writer.String(description.c_str(), static_cast<rapidjson::SizeType>(description.size()));
    writer.Key("explanation");
    writer.String(explanation.c_str(), static_cast<rapidjson::SizeType>(explanation.size()));
    writer.EndObject();
  } else {
    writer.Null();
  }
  writer.EndObject();
  return {buffer.GetString(), buffer.GetSize()};
}

}  // namespace devhost
