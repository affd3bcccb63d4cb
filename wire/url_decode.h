// Percent-decoding of the pieces of a request target, shared by every side of the host
// interface: header-only, with no dependency on the runtime.
#ifndef WIRE_URL_DECODE_H_
#define WIRE_URL_DECODE_H_

#include <string>
#include <string_view>

namespace wire {

// The value of a hexadecimal digit, or -1.
inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%xx" becomes its byte; a "%" without two hexadecimal digits after it stays as it is. "+"
// means a space in a query (`plus_is_space`), and itself in a path.
inline std::string PercentDecode(std::string_view text, bool plus_is_space) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+' && plus_is_space) {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace wire

#endif  // WIRE_URL_DECODE_H_
