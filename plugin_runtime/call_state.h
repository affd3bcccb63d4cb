// What a request handler sees of the call besides its arguments: the caller's context, and what
// it may set on the response (status, text, flag byte, format, headers, a streamed body).
#ifndef PLUGIN_RUNTIME_CALL_STATE_H_
#define PLUGIN_RUNTIME_CALL_STATE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plugin_host_interface.h"

namespace plugin_runtime {

// A copy of the request an asynchronous operation keeps, so that it can answer later.
struct AsyncRequestRecord {
  std::uint32_t callerContext = 0;
  std::int64_t monotonicNanoseconds = 0;
  std::string path;
  std::uint32_t method = 0;
  std::string customMethod;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string asyncMarker;  // the registered name of the operation's result type
};

// A body the host reads piece by piece: the plug-in's read and close functions, the stream
// object they receive as context, and its size.
struct ResponseStream {
  HostStreamRead read = nullptr;
  HostStreamClose close = nullptr;
  void* context = nullptr;
  std::uint64_t size = 0;
};

// One per dispatched request, created and dropped on the host's thread that called.
class CallState {
 public:
  explicit CallState(std::uint32_t caller_context) : caller_context_(caller_context) {}
  CallState(const CallState&) = delete;
  CallState& operator=(const CallState&) = delete;

  // Handed over by the host unchanged; identifies who called.
  std::uint32_t caller_context() const { return caller_context_; }

  // The status written into the response; 0 when none was set. An error result of the handler
  // sets it to the error's status.
  void SetStatus(std::int32_t status) { status_ = status; }
  std::int32_t status() const { return status_; }
  void SetText(std::string text) { text_ = std::move(text); }
  const std::string& text() const { return text_; }
  void SetFlag(std::uint8_t flag) { flag_ = flag; }
  std::uint8_t flag() const { return flag_; }
  void SetFormat(HostFormatCode format) { format_ = format; }
  HostFormatCode format() const { return format_; }
  void AddHeader(std::string name, std::string value) {
    headers_.emplace_back(std::move(name), std::move(value));
  }
  const std::vector<std::pair<std::string, std::string>>& headers() const { return headers_; }
  // The host reads the body through `stream` and closes it; the stream object must stay valid
  // until its close function runs.
  void SetStream(const ResponseStream& stream) { stream_ = stream; }
  const std::optional<ResponseStream>& stream() const { return stream_; }

  // An error replaces the value in the response; the status stays as set.
  void SetError(std::string message) { error_ = std::move(message); }
  bool HasError() const { return error_.has_value(); }
  const std::string& error() const { return *error_; }

  // Set for functions whose result is an asynchronous-operation type; nullptr otherwise.
  const AsyncRequestRecord* async_request() const {
    return async_request_ ? &*async_request_ : nullptr;
  }
  void SetAsyncRequest(AsyncRequestRecord record) { async_request_ = std::move(record); }

 private:
  std::uint32_t caller_context_;
  std::int32_t status_ = 0;
  std::string text_;
  std::uint8_t flag_ = 0;
  HostFormatCode format_ = kHostFormatNone;
  std::vector<std::pair<std::string, std::string>> headers_;
  std::optional<ResponseStream> stream_;
  std::optional<std::string> error_;
  std::optional<AsyncRequestRecord> async_request_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_CALL_STATE_H_
