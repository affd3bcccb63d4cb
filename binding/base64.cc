#include "binding/base64.h"

#include <array>

namespace binding {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kStop = 0xFF;

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
constexpr std::array<std::uint8_t, 256> kUrlTable = MakeUrlTable();

}  // namespace

void AssignBase64(std::span<const std::uint8_t> bytes, std::string& out) {
  out.clear();
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out.push_back(kAlphabet[group >> 18]);
    out.push_back(kAlphabet[(group >> 12) & 0x3F]);
    out.push_back(kAlphabet[(group >> 6) & 0x3F]);
    out.push_back(kAlphabet[group & 0x3F]);
  }
  const std::size_t rest = bytes.size() - i;
  if (rest != 0) {
    const std::uint32_t group = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
    out.push_back(kAlphabet[group >> 18]);
    out.push_back(kAlphabet[(group >> 12) & 0x3F]);
    out.push_back(rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=');
    out.push_back('=');
  }
}

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
  std::string out;
  AssignBase64(bytes, out);
  return out;
}

std::string Base64UrlDecode(std::string_view segment) {
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

}  // namespace binding
