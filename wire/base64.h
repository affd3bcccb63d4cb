// Base64 in the shapes the host interface meets: the standard padded alphabet that blobs are
// written in, and the URL-safe, unpadded segments of signed tokens, which are read leniently.
// Header-only, with no dependency on the runtime.
#ifndef WIRE_BASE64_H_
#define WIRE_BASE64_H_

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace wire {
namespace base64_internal {

inline constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr char kUrlAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
inline constexpr std::uint8_t kStop = 0xFF;

// Sextet of every byte for token segments: the standard alphabet plus "-" and "_", which the
// URL-safe form writes for "+" and "/". "=" and everything else stop the decoding.
constexpr std::array<std::uint8_t, 256> MakeUrlTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = kStop;
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  table['-'] = 62;
  table['_'] = 63;
  return table;
}
inline constexpr std::array<std::uint8_t, 256> kUrlTable = MakeUrlTable();

// Appends the encoding of `bytes` in `alphabet`, with "=" padding when `pad`.
inline void Append(const std::uint8_t* bytes, std::size_t size, const char* alphabet, bool pad,
                   std::string& out) {
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out.push_back(alphabet[group >> 18]);
    out.push_back(alphabet[(group >> 12) & 0x3F]);
    out.push_back(alphabet[(group >> 6) & 0x3F]);
    out.push_back(alphabet[group & 0x3F]);
  }
  const std::size_t rest = size - i;
  if (rest == 0) return;
  const std::uint32_t group = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
  out.push_back(alphabet[group >> 18]);
  out.push_back(alphabet[(group >> 12) & 0x3F]);
  if (rest == 2) out.push_back(alphabet[(group >> 6) & 0x3F]);
  if (pad) out.append(rest == 2 ? "=" : "==");
}

}  // namespace base64_internal

// Standard alphabet ("A".."Z", "a".."z", "0".."9", "+", "/") with "=" padding to a multiple of
// four characters, replacing the content of `out` (its capacity is reused).
inline void AssignBase64(std::span<const std::uint8_t> bytes, std::string& out) {
  out.clear();
  out.reserve((bytes.size() + 2) / 3 * 4);
  base64_internal::Append(bytes.data(), bytes.size(), base64_internal::kAlphabet, true, out);
}

inline std::string Base64Encode(std::span<const std::uint8_t> bytes) {
  std::string out;
  AssignBase64(bytes, out);
  return out;
}
inline std::string Base64Encode(std::string_view bytes) {
  return Base64Encode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// One segment of a compact token: "-" and "_" for "+" and "/", no padding.
inline std::string Base64UrlEncode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  base64_internal::Append(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                          base64_internal::kUrlAlphabet, false, out);
  return out;
}

// Decodes one segment of a compact token: "-" and "_" read as "+" and "/", a length of 2 or 3
// modulo 4 is padded with "==" or "=", and decoding stops silently at the first "=" or the first
// character outside the alphabet, keeping what came before. Never fails; the result is bytes.
inline std::string Base64UrlDecode(std::string_view segment) {
  using base64_internal::kStop;
  using base64_internal::kUrlTable;
  // Padding the segment to a multiple of four only completes its last group; a decoder that
  // keeps the bytes of a partial group (two sextets give one byte, three give two, one gives
  // none) produces the same bytes without copying the segment, so none is appended here.
  std::string out;
  out.resize(segment.size() / 4 * 3 + 3);
  char* write = out.data();
  const auto* read = reinterpret_cast<const unsigned char*>(segment.data());
  const auto* end = read + segment.size();
  // Whole groups first: four sextets, three bytes.
  while (end - read >= 4) {
    const std::uint8_t a = kUrlTable[read[0]], b = kUrlTable[read[1]], c = kUrlTable[read[2]],
                       d = kUrlTable[read[3]];
    if (((a | b | c | d) & 0xC0) != 0) break;  // a stop among them
    const std::uint32_t group = (a << 18) | (b << 12) | (c << 6) | d;
    write[0] = static_cast<char>(group >> 16);
    write[1] = static_cast<char>(group >> 8);
    write[2] = static_cast<char>(group);
    write += 3;
    read += 4;
  }
  // The tail, or the group holding a stop: every sextet up to the stop, bytes as bits complete.
  std::uint32_t bits = 0;
  int bit_count = 0;
  for (; read != end; ++read) {
    const std::uint8_t sextet = kUrlTable[*read];
    if (sextet == kStop) break;
    bits = (bits << 6) | sextet;
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      *write++ = static_cast<char>(bits >> bit_count);
    }
  }
  out.resize(static_cast<std::size_t>(write - out.data()));
  return out;
}

}  // namespace wire

#endif  // WIRE_BASE64_H_
