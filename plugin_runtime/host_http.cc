#include "plugin_runtime/host_http.h"

#include <strings.h>

#include <memory>

#include "binding/json_bridge.h"
#include "logging/positional_formatter.h"
#include "plugin_host_interface.h"
#include "plugin_runtime/resource_paths.h"

namespace plugin_runtime {
namespace {

constexpr std::string_view kUserAgent = "user-agent";

// Servers and callers choose the case of header names; HTTP ignores it.
bool HasUserAgent(const HttpRequest& request) {
  for (const auto& [name, value] : request.headers) {
    if (name.size() == kUserAgent.size() &&
        strncasecmp(name.data(), kUserAgent.data(), kUserAgent.size()) == 0) {
      return true;
    }
  }
  return false;
}

void Fail(HttpResponse& response, std::string message) {
  response.error = true;
  response.message = std::move(message);
}

}  // namespace

HttpTransportResult MapHttpTransportResult(std::uint32_t host_code) {
  switch (static_cast<std::int32_t>(host_code)) {
    case -1:
      return HttpTransportResult::kCancelled;
    case 0:
      return HttpTransportResult::kSuccess;
    case 2:
      return HttpTransportResult::kTimedOut;
    default:
      return HttpTransportResult::kFailure;
  }
}

HttpResponse SendHttpRequest(const HostCaller& caller, const HttpRequest& request,
                             HttpBodyForm form) {
  std::vector<HostHeaderPair> headers;
  headers.reserve(request.headers.size() + 1);
  // The user agent is the bridge's own string, terminated, and outlives the call.
  if (!HasUserAgent(request)) headers.push_back({kUserAgent.data(), caller.userAgent().data()});
  for (const auto& [name, value] : request.headers)
    headers.push_back({name.c_str(), value.c_str()});

  HostHttpRequest host_request{};
  host_request.method = request.method;
  host_request.url = request.url.c_str();
  host_request.headers = headers.empty() ? nullptr : headers.data();
  host_request.headerCount = static_cast<std::uint32_t>(headers.size());
  host_request.body = request.body.empty() ? nullptr : request.body.data();
  host_request.bodyLength = static_cast<std::uint32_t>(request.body.size());
  host_request.timeout = request.timeout;
  host_request.flag = request.flag;

  HostHttpResponse answer{};
  caller.host().sendHttpRequest(&host_request, &answer);
  auto give_back = [](HostHttpResponse* a) {
    if (a->release != nullptr) a->release(a);
  };
  std::unique_ptr<HostHttpResponse, decltype(give_back)> held(&answer, give_back);

  // "GET <url>", for the error texts only.
  const auto what = [&request] {
    return logging::FormatPositional(
        "%1 %2", {HostMethodName(request.method), std::string_view(request.url)});
  };
  const auto* body = static_cast<const char*>(answer.body);
  const std::uint32_t body_length = answer.bodyLength;

  HttpResponse response;
  response.transport = MapHttpTransportResult(answer.transportResult);
  if (response.transport != HttpTransportResult::kSuccess) {
    // The host puts its transport error text where the body would be.
    Fail(response, body != nullptr ? std::string(body, body_length) : std::string());
    return response;
  }
  response.status = answer.status;
  const HostHeaderPair* pairs = answer.headers;
  const std::uint32_t pair_count = answer.headerCount;
  if (pair_count != 0 && pairs == nullptr) {
    Fail(response,
         logging::FormatPositional("Error converting response for %1: headers was null", {what()}));
    return response;
  }
  for (std::uint32_t i = 0; i < pair_count; ++i) {
    HostHeaderPair pair = pairs[i];
    response.headers[pair.name != nullptr ? pair.name : ""] =
        pair.value != nullptr ? pair.value : "";
  }

  if (form == HttpBodyForm::kText) {
    if (body_length != 0 && body == nullptr) {
      Fail(response,
           logging::FormatPositional("Error converting response for %1: body was null", {what()}));
      return response;
    }
    if (body != nullptr) response.text.assign(body, body_length);
    return response;
  }

  if (body == nullptr || body_length == 0) {
    Fail(response,
         logging::FormatPositional("Error converting response for %1: body was empty", {what()}));
    return response;
  }
  const std::string_view body_text(body, body_length);
  binding::BindingConversionResult decoded = binding::parseJson(body_text, request.keptMembers);
  if (decoded.ok) {
    response.value = std::move(decoded.value);
  } else {
    Fail(response,
         logging::FormatPositional("Error deserializing json response for %1: %2 given body %3",
                                   {what(), binding::errorText(decoded), body_text}));
    response.value.setString(body_text);
  }
  return response;
}

}  // namespace plugin_runtime
