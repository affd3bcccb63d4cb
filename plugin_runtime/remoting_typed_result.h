// The result of every request handler and every typed outgoing call: a value of the expected
// type, or an error made of an HTTP status and a message.
#ifndef PLUGIN_RUNTIME_REMOTING_TYPED_RESULT_H_
#define PLUGIN_RUNTIME_REMOTING_TYPED_RESULT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace Vorn {

// An error answer: what a handler or an outgoing call reports instead of a value. Converts to
// every RemotingTypedResult, so `return RemotingError{404, "No authorization currently exists."};`
// works in any handler.
struct RemotingError {
  std::int32_t status = 500;
  std::string message;
};

template <typename T = void>
class [[nodiscard]] RemotingTypedResult {
 public:
  RemotingTypedResult(T value) : value_(std::move(value)) {}
  RemotingTypedResult(RemotingError error) : error_(std::move(error)) {}

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }

  // Only when ok().
  const T& value() const& { return *value_; }
  T& value() & { return *value_; }
  T&& value() && { return std::move(*value_); }

  // Only when !ok().
  const RemotingError& error() const { return error_; }
  std::int32_t status() const { return error_.status; }
  const std::string& message() const { return error_.message; }

 private:
  std::optional<T> value_;
  RemotingError error_;
};

// Without a value type the result only tells success from error.
template <>
class [[nodiscard]] RemotingTypedResult<void> {
 public:
  RemotingTypedResult() = default;
  RemotingTypedResult(RemotingError error) : ok_(false), error_(std::move(error)) {}

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const RemotingError& error() const { return error_; }
  std::int32_t status() const { return error_.status; }
  const std::string& message() const { return error_.message; }

 private:
  bool ok_ = true;
  RemotingError error_;
};

// 500 with `text`, or "Internal server error" when it is empty.
inline RemotingError InternalServerError(std::string text = {}) {
  return RemotingError{500, text.empty() ? std::string("Internal server error") : std::move(text)};
}

// 404 with `text`, or "Not found" when it is empty.
inline RemotingError NotFound(std::string text = {}) {
  return RemotingError{404, text.empty() ? std::string("Not found") : std::move(text)};
}

}  // namespace Vorn

#endif  // PLUGIN_RUNTIME_REMOTING_TYPED_RESULT_H_
