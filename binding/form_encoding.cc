#include "binding/form_encoding.h"

#include <array>

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

std::vector<std::pair<std::string_view, std::string_view>> SplitForm(std::string_view body) {
  std::vector<std::pair<std::string_view, std::string_view>> pairs;
  while (!body.empty()) {
    const std::size_t amp = body.find('&');
    const std::string_view piece = body.substr(0, amp);
    body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
    if (piece.empty()) continue;
    const std::size_t equals = piece.find('=');
    if (equals == std::string_view::npos) {
      pairs.emplace_back(piece, std::string_view());
    } else {
      pairs.emplace_back(piece.substr(0, equals), piece.substr(equals + 1));
    }
  }
  return pairs;
}

std::string_view FormValue(std::string_view body, std::string_view name) {
  for (const auto& [key, value] : SplitForm(body)) {
    if (key == name) return value;
  }
  return {};
}

}  // namespace binding
