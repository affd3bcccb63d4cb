// The positional message formatter: "%1", "%2", ... placeholders filled from typed arguments,
// with optional printf specifications ("%1$05d"). Builds the texts of the binding layer's
// messages and of the plug-in's own messages.
#ifndef LOGGING_POSITIONAL_FORMATTER_H_
#define LOGGING_POSITIONAL_FORMATTER_H_

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace logging {

// Messages are rendered into a buffer of this size and cut to one byte less.
inline constexpr std::size_t kMessageBufferSize = 4096;

// One typed argument. Strings default to "s", signed integers to "d", unsigned to "u", doubles
// to "g"; 64-bit integers carry the length modifier "ll". The argument borrows string data: the
// text must outlive the formatting call.
class FormatArgument {
 public:
  enum class Type { kString, kInt32, kUInt32, kInt64, kUInt64, kDouble };

  FormatArgument(std::string_view text) : type_(Type::kString), text_(text) {}
  FormatArgument(const char* text) : type_(Type::kString), text_(text ? text : "") {}
  FormatArgument(const std::string& text) : type_(Type::kString), text_(text) {}
  FormatArgument(double number) : type_(Type::kDouble), double_(number) {}
  FormatArgument(float number) : type_(Type::kDouble), double_(number) {}
  template <std::integral T>
  FormatArgument(T number) {
    if constexpr (std::is_signed_v<T>) {
      type_ = sizeof(T) > 4 ? Type::kInt64 : Type::kInt32;
      signed_ = number;
    } else {
      type_ = sizeof(T) > 4 ? Type::kUInt64 : Type::kUInt32;
      unsigned_ = number;
    }
  }

  Type type() const { return type_; }
  std::string_view text() const { return text_; }
  std::int64_t signed_value() const { return signed_; }
  std::uint64_t unsigned_value() const { return unsigned_; }
  double double_value() const { return double_; }

 private:
  Type type_ = Type::kString;
  std::string_view text_;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  double double_ = 0;
};

// Renders `format` with `arguments` into at most `buffer_size - 1` characters. Never fails: a
// specification it cannot render ends the output there.
std::string FormatPositional(std::string_view format, std::span<const FormatArgument> arguments,
                             std::size_t buffer_size = kMessageBufferSize);

inline std::string FormatPositional(std::string_view format,
                                    std::initializer_list<FormatArgument> arguments) {
  return FormatPositional(format,
                          std::span<const FormatArgument>(arguments.begin(), arguments.size()));
}

}  // namespace logging

#endif  // LOGGING_POSITIONAL_FORMATTER_H_
