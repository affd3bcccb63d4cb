// HTTP requests sent through the host: the plug-in's request and response records, the
// "user-agent" rule, the mapping of the host's transport results and the two ways of reading a
// body (decoded JSON or raw text).
#ifndef PLUGIN_RUNTIME_HOST_HTTP_H_
#define PLUGIN_RUNTIME_HOST_HTTP_H_

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding_value.h"
#include "plugin_runtime/host_caller.h"

namespace plugin_runtime {

struct HttpRequest {
  std::uint32_t method = 2;  // a host method code; GET by default
  std::string url;
  // Sent in this order, after the "user-agent" the runtime adds when none is given.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::uint32_t timeout = 0;
  std::uint8_t flag = 0;
  // kJson: when not empty, a root object keeps only these members (see binding::parseJson); the
  // names must outlive the call.
  std::span<const std::string_view> keptMembers;
};

// The host's transport codes as the plug-in sees them: -1, 0 and 2 pass unchanged and every
// other code the host reports becomes 1.
enum class HttpTransportResult : std::int32_t {
  kCancelled = -1,
  kSuccess = 0,
  kFailure = 1,
  kTimedOut = 2,
};

// How the body of a successful exchange is read.
enum class HttpBodyForm {
  kJson,  // decoded into `value`; an empty body is an error
  kText,  // kept as it came in `text`
};

struct HttpResponse {
  HttpTransportResult transport = HttpTransportResult::kSuccess;
  std::uint32_t status = 0;
  // True when the exchange failed in transport or its answer could not be read; `message` says
  // why. A status the service sent (even 500) is not an error here.
  bool error = false;
  std::string message;
  std::map<std::string, std::string> headers;
  // kJson: the decoded body, or the body as a string when it is not JSON.
  binding::BindingValue value;
  // kText: the raw body.
  std::string text;
};

// Maps a code of the host's HostHttpResponse.
HttpTransportResult MapHttpTransportResult(std::uint32_t host_code);

// Sends `request` through `caller` (its user agent goes first unless the request names a
// "user-agent" header in any letter case) and reads the answer in `form`. The host's response is
// released on every path. Any thread that may call the host may call it; the call blocks until
// the host answers.
HttpResponse SendHttpRequest(const HostCaller& caller, const HttpRequest& request,
                             HttpBodyForm form);

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_HOST_HTTP_H_
