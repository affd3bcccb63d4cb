#include "logging/message_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace logging {
namespace {

enum class Length { kInt, kChar, kShort, kLong, kLongLong, kSize, kMax, kPtrdiff };

// Appends into a fixed buffer, dropping what does not fit.
class Output {
 public:
  Output(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  void Append(const char* text, std::size_t length) {
    const std::size_t room = capacity_ - used_;
    const std::size_t kept = length < room ? length : room;
    std::memcpy(buffer_ + used_, text, kept);
    used_ += kept;
  }
  void Append(char c) {
    if (used_ < capacity_) buffer_[used_++] = c;
  }
  std::size_t used() const { return used_; }

 private:
  char* buffer_;
  std::size_t capacity_;  // without the NUL
  std::size_t used_ = 0;
};

void AppendUnsigned(Output& out, std::uintmax_t value, unsigned base, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char text[sizeof(std::uintmax_t) * 8];
  char* end = text + sizeof text;
  char* start = end;
  do {
    *--start = digits[value % base];
    value /= base;
  } while (value != 0);
  out.Append(start, static_cast<std::size_t>(end - start));
}

std::intmax_t SignedArgument(Length length, std::va_list& arguments) {
  switch (length) {
    case Length::kChar:
      return static_cast<signed char>(va_arg(arguments, int));
    case Length::kShort:
      return static_cast<short>(va_arg(arguments, int));
    case Length::kLong:
      return va_arg(arguments, long);
    case Length::kLongLong:
      return va_arg(arguments, long long);
    case Length::kSize:
      // The signed type of size_t's width.
      return static_cast<std::intmax_t>(
          static_cast<std::make_signed_t<std::size_t>>(va_arg(arguments, std::size_t)));
    case Length::kMax:
      return va_arg(arguments, std::intmax_t);
    case Length::kPtrdiff:
      return va_arg(arguments, std::ptrdiff_t);
    case Length::kInt:
      break;
  }
  return va_arg(arguments, int);
}

std::uintmax_t UnsignedArgument(Length length, std::va_list& arguments) {
  switch (length) {
    case Length::kChar:
      return static_cast<unsigned char>(va_arg(arguments, unsigned));
    case Length::kShort:
      return static_cast<unsigned short>(va_arg(arguments, unsigned));
    case Length::kLong:
      return va_arg(arguments, unsigned long);
    case Length::kLongLong:
      return va_arg(arguments, unsigned long long);
    case Length::kSize:
      return va_arg(arguments, std::size_t);
    case Length::kMax:
      return va_arg(arguments, std::uintmax_t);
    case Length::kPtrdiff:
      return static_cast<std::make_unsigned_t<std::ptrdiff_t>>(va_arg(arguments, std::ptrdiff_t));
    case Length::kInt:
      break;
  }
  return va_arg(arguments, unsigned);
}

// Length modifiers at `*p`, advancing past them.
Length ReadLength(const char*& p) {
  switch (*p) {
    case 'h':
      if (p[1] == 'h') {
        p += 2;
        return Length::kChar;
      }
      ++p;
      return Length::kShort;
    case 'l':
      if (p[1] == 'l') {
        p += 2;
        return Length::kLongLong;
      }
      ++p;
      return Length::kLong;
    case 'z':
      ++p;
      return Length::kSize;
    case 'j':
      ++p;
      return Length::kMax;
    case 't':
      ++p;
      return Length::kPtrdiff;
    default:
      return Length::kInt;
  }
}

// Writes `format` and returns true, or returns false at the first conversion it does not write
// (the output is then incomplete and the arguments partly read).
bool FormatDirect(Output& out, const char* format, std::va_list& arguments) {
  const char* p = format;
  for (;;) {
    const char* plain = p;
    // strchrnul in portable form: Windows' C runtime lacks it.
    const char* percent = std::strchr(p, '%');
    p = percent != nullptr ? percent : p + std::strlen(p);
    out.Append(plain, static_cast<std::size_t>(p - plain));
    if (*p == '\0') return true;
    ++p;
    if (*p == '%') {
      out.Append('%');
      ++p;
      continue;
    }
    const Length length = ReadLength(p);
    switch (*p++) {
      case 'c':
        // %lc takes a wide character.
        if (length != Length::kInt) return false;
        out.Append(static_cast<char>(va_arg(arguments, int)));
        break;
      case 's': {
        // %ls takes a wide text.
        if (length != Length::kInt) return false;
        const char* text = va_arg(arguments, const char*);
        if (text == nullptr) text = "(null)";
        out.Append(text, std::strlen(text));
        break;
      }
      case 'd':
      case 'i': {
        const std::intmax_t value = SignedArgument(length, arguments);
        if (value < 0) {
          out.Append('-');
          // Negated in the unsigned type, so the most negative value survives.
          AppendUnsigned(out, std::uintmax_t{0} - static_cast<std::uintmax_t>(value), 10, false);
        } else {
          AppendUnsigned(out, static_cast<std::uintmax_t>(value), 10, false);
        }
        break;
      }
      case 'u':
        AppendUnsigned(out, UnsignedArgument(length, arguments), 10, false);
        break;
      case 'x':
        AppendUnsigned(out, UnsignedArgument(length, arguments), 16, false);
        break;
      case 'X':
        AppendUnsigned(out, UnsignedArgument(length, arguments), 16, true);
        break;
      default:
        return false;
    }
  }
}

}  // namespace

std::size_t FormatMessage(char* buffer, std::size_t size, const char* format,
                          std::va_list arguments) {
  if (size == 0) return 0;
  if (format == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  // Tried directly on a copy of the arguments; a conversion it does not write starts the whole
  // message again with the C library.
  Output out(buffer, size - 1);
  std::va_list copy;
  va_copy(copy, arguments);
  const bool written = FormatDirect(out, format, copy);
  va_end(copy);
  if (written) {
    buffer[out.used()] = '\0';
    return out.used();
  }
  const int wanted = std::vsnprintf(buffer, size, format, arguments);
  if (wanted < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return static_cast<std::size_t>(wanted) < size ? static_cast<std::size_t>(wanted) : size - 1;
}

}  // namespace logging
