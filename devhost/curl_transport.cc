#include "devhost/curl_transport.h"

#include <curl/curl.h>
#include <strings.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <memory>

namespace devhost {
namespace {

struct EasyCloser {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListCloser {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// One handle per thread keeps connections to the sign-on service alive between requests.
CURL* ThreadHandle() {
  thread_local std::unique_ptr<CURL, EasyCloser> handle(curl_easy_init());
  if (handle) curl_easy_reset(handle.get());
  return handle.get();
}

// The largest answer body taken; a larger one ends the exchange as a transport failure.
constexpr std::size_t kMaxAnswerBody = 8u << 20;

std::size_t CollectBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  if (body->size() + size * count > kMaxAnswerBody) return 0;  // curl reports a write error
  body->append(data, size * count);
  return size * count;
}

std::size_t CollectHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* exchange = static_cast<HttpExchange*>(user);
  std::string_view line(data, size * count);
  // A new status line (after a redirect or a 100 Continue) starts a new header block.
  if (line.starts_with("HTTP/")) {
    exchange->headers.clear();
    return size * count;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return size * count;
  std::string name(line.substr(0, colon));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
    value.remove_suffix(1);
  }
  exchange->headers.emplace_back(std::move(name), std::string(value));
  return size * count;
}

thread_local double http_seconds = 0;

std::atomic<bool> transfers_stopped{false};

constexpr const char* kStoppedMessage = "the host is stopping";

int GoOnUnlessStopped(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return transfers_stopped ? 1 : 0;  // non-zero: curl ends the exchange
}

}  // namespace

double ThreadHttpSeconds() { return http_seconds; }

void StopTransfers() { transfers_stopped = true; }
void ResumeTransfers() { transfers_stopped = false; }

const char* HttpMethodName(std::uint32_t method) {
  switch (method) {
    case kHostMethodDelete:
      return "DELETE";
    case kHostMethodHead:
      return "HEAD";
    case kHostMethodOptions:
      return "OPTIONS";
    case kHostMethodPatch:
      return "PATCH";
    case kHostMethodPost:
      return "POST";
    case kHostMethodPut:
      return "PUT";
    default:
      return "GET";
  }
}

void GlobalCurlInit() { curl_global_init(CURL_GLOBAL_DEFAULT); }
void GlobalCurlCleanup() { curl_global_cleanup(); }

HttpExchange SendWithCurl(const HostHttpRequest& packed) {
  const auto started = std::chrono::steady_clock::now();
  struct AddTime {
    std::chrono::steady_clock::time_point started;
    ~AddTime() {
      http_seconds +=
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }
  } add_time{started};
  HostHttpRequest request;
  std::memcpy(&request, &packed, sizeof request);
  HttpExchange exchange;
  if (transfers_stopped) {
    exchange.error = kStoppedMessage;
    return exchange;
  }
  CURL* easy = ThreadHandle();
  if (easy == nullptr) {
    exchange.error = "cannot create a curl handle";
    return exchange;
  }
  char error_buffer[CURL_ERROR_SIZE] = {};
  std::unique_ptr<curl_slist, ListCloser> headers;
  bool has_expect = false;
  for (std::uint32_t i = 0; i < request.headerCount && request.headers != nullptr; ++i) {
    HostHeaderPair pair;
    std::memcpy(&pair, &request.headers[i], sizeof pair);
    if (pair.name == nullptr) continue;
    std::string line = std::string(pair.name) + ": " + (pair.value != nullptr ? pair.value : "");
    if (strncasecmp(pair.name, "expect", 7) == 0) has_expect = true;
    headers.reset(curl_slist_append(headers.release(), line.c_str()));
  }
  // curl would otherwise wait for "100 Continue" before sending larger bodies.
  if (!has_expect) headers.reset(curl_slist_append(headers.release(), "Expect:"));

  const char* method = HttpMethodName(request.method);
  curl_easy_setopt(easy, CURLOPT_URL, request.url != nullptr ? request.url : "");
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method);
  if (request.method == kHostMethodHead) curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  if (request.body != nullptr && request.bodyLength > 0) {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.bodyLength));
  } else if (request.method == kHostMethodPost || request.method == kHostMethodPut ||
             request.method == kHostMethodPatch) {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, 0L);
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, static_cast<long>(request.timeout));
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  // The plug-in speaks to web services only: no file:, no other scheme, and no redirect to one.
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxAnswerBody));
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CollectBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange.body);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CollectHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &GoOnUnlessStopped);

  const CURLcode code = curl_easy_perform(easy);
  if (code != CURLE_OK) {
    // Only the body collector refuses to write.
    const bool too_large = code == CURLE_FILESIZE_EXCEEDED || code == CURLE_WRITE_ERROR;
    exchange = HttpExchange{};
    exchange.error = code == CURLE_ABORTED_BY_CALLBACK ? kStoppedMessage
                     : too_large                       ? "the answer's body is larger than 8 MiB"
                     : error_buffer[0] != '\0'         ? error_buffer
                                                       : curl_easy_strerror(code);
    return exchange;
  }
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  exchange.delivered = true;
  exchange.status = static_cast<std::uint32_t>(status);
  return exchange;
}

}  // namespace devhost
