#include "binding/form_encoding.h"

#include <array>

#include "wire/url_decode.h"

namespace binding {
namespace {

constexpr std::array<bool, 256> MakeKeptTable() {
  std::array<bool, 256> kept{};
  for (int c = 'A'; c <= 'Z'; ++c) kept[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) kept[c] = true;
  for (int c = '0'; c <= '9'; ++c) kept[c] = true;
  kept['-'] = kept['_'] = kept['.'] = kept['~'] = true;
  return kept;
}
constexpr std::array<bool, 256> kKept = MakeKeptTable();

}  // namespace

void AppendFormEncoded(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t escaped = 0;
  for (unsigned char c : text) escaped += kKept[c] ? 0 : 1;
  const std::size_t start = out.size();
  out.resize(start + text.size() + 2 * escaped);
  char* write = out.data() + start;
  for (unsigned char c : text) {
    if (kKept[c]) {
      *write++ = static_cast<char>(c);
    } else {
      write[0] = '%';
      write[1] = kHex[c >> 4];
      write[2] = kHex[c & 0x0F];
      write += 3;
    }
  }
}

std::string FormEncode(std::string_view text) {
  std::string out;
  AppendFormEncoded(text, out);
  return out;
}

std::string_view FormValue(std::string_view body, std::string_view name) {
  for (const auto& [key, value] : wire::SplitPairs(body)) {
    if (key == name) return value;
  }
  return {};
}

}  // namespace binding
