// The outgoing traffic of the plug-in: every HTTP exchange it asked the host to make, kept with
// its secrets masked, for GET /exchanges and as "DevhostExchange" frames on /events.
#ifndef DEVHOST_EXCHANGE_LOG_H_
#define DEVHOST_EXCHANGE_LOG_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devhost/curl_transport.h"
#include "devhost/event_hub.h"
#include "plugin_host_interface.h"

namespace devhost {

// The name of the /events frame that carries one exchange as it ends.
inline constexpr const char* kExchangeEventName = "DevhostExchange";

// Whether a member, form field, query parameter or header of this name carries a secret:
// passwords, client secrets and assertions, refresh tokens, any token, authorization and cookies.
// The same rule the console applies to what it shows.
bool IsSecretName(std::string_view name);

// What stands in for a secret of `length` bytes.
std::string MaskedText(std::size_t length);

// `body` with every secret masked. JSON: string members whose names are secret, and strings that
// read as signed tokens wherever they stand. Form bodies: the values of secret fields. Anything
// else is shown only when no secret word appears in it; otherwise only its length.
std::string MaskBody(std::string_view body, std::string_view content_type);

// `url` with the values of secret query parameters masked.
std::string MaskUrl(std::string_view url);

class ExchangeLog {
 public:
  // The exchanges kept for GET /exchanges: the newest 200.
  static constexpr std::size_t kKept = 200;
  // Bodies longer than this are cut (after masking) in what is kept.
  static constexpr std::size_t kMaxBodyShown = 16 * 1024;

  // `events` (may be null) hears each exchange as it ends; it must outlive this object.
  explicit ExchangeLog(EventHub* events) : events_(events) {}
  ExchangeLog(const ExchangeLog&) = delete;
  ExchangeLog& operator=(const ExchangeLog&) = delete;

  // Keeps one exchange, masked: `request` as the plug-in sent it (borrowed for the call), the
  // answer or the transport failure, and the time it took. Any thread.
  void Record(const HostHttpRequest& request, const HttpExchange& answer,
              std::chrono::steady_clock::duration took);

  // A JSON array of the exchanges kept, oldest first.
  std::string Json() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> kept_;  // each one JSON object
  std::uint64_t next_id_ = 1;
  EventHub* events_;
};

}  // namespace devhost

#endif  // DEVHOST_EXCHANGE_LOG_H_
