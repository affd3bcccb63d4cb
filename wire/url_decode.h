// Percent-decoding of the pieces of a request target, shared by every side of the host
// interface: header-only, with no dependency on the runtime.
#ifndef WIRE_URL_DECODE_H_
#define WIRE_URL_DECODE_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wire {

// The value of a hexadecimal digit, or -1.
inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%xx" becomes its byte; a "%" without two hexadecimal digits after it stays as it is. "+"
// means a space where `plus_is_space` says so (a query, a form, the captures of a route) and
// itself elsewhere (the path of a request line, as a host reads it).
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

// Splits a query or a form body ("a=1&&b=x+y&c") into its pieces at every "&", and each piece
// into name and value at its first "=" (a piece without "=" is a name with an empty value).
// Empty pieces are skipped; escapes are left as they are.
inline std::vector<std::pair<std::string_view, std::string_view>> SplitPairs(
    std::string_view text) {
  std::vector<std::pair<std::string_view, std::string_view>> pairs;
  while (!text.empty()) {
    const std::size_t amp = text.find('&');
    const std::string_view piece = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (piece.empty()) continue;
    const std::size_t equals = piece.find('=');
    pairs.emplace_back(piece.substr(0, equals),
                       equals == std::string_view::npos ? "" : piece.substr(equals + 1));
  }
  return pairs;
}

// A query ("a=1&b=x+y") as named values, names and values decoded, in the order given.
inline std::vector<std::pair<std::string, std::string>> QueryPieces(std::string_view query) {
  std::vector<std::pair<std::string, std::string>> pieces;
  for (const auto& [name, value] : SplitPairs(query)) {
    pieces.emplace_back(PercentDecode(name, true), PercentDecode(value, true));
  }
  return pieces;
}

}  // namespace wire

#endif  // WIRE_URL_DECODE_H_
