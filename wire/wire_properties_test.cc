// Laws of the wire helpers over generated inputs: percent-decoding and query splitting undo any
// encoding of any bytes, base64 reads back what it wrote, and a compiled template matches and
// captures exactly what its ECMAScript pattern does.
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "rapidcheck.h"
#include "rapidcheck/gtest.h"
#include "wire/base64.h"
#include "wire/route_pattern.h"
#include "wire/url_decode.h"

namespace wire {
namespace {

// Any byte, not only printable ones.
rc::Gen<std::string> Bytes() {
  return rc::gen::container<std::string>(rc::gen::cast<char>(rc::gen::inRange(0, 256)));
}

rc::Gen<std::string> Over(std::string alphabet) {
  return rc::gen::container<std::string>(rc::gen::elementOf(std::move(alphabet)));
}

// `text` percent-encoded as a client might: the bytes in `must` always escaped, any other byte
// escaped or not at random, hexadecimal digits in either case, and with `plus` a space written
// as "+" at random. Called inside a property, which draws the choices.
std::string Encode(std::string_view text, std::string_view must, bool plus) {
  std::string out;
  for (const char c : text) {
    if (plus && c == ' ' && *rc::gen::arbitrary<bool>()) {
      out += '+';
    } else if (must.find(c) != std::string_view::npos || *rc::gen::arbitrary<bool>()) {
      const char* digits = *rc::gen::arbitrary<bool>() ? "0123456789abcdef" : "0123456789ABCDEF";
      out += {'%', digits[static_cast<unsigned char>(c) >> 4], digits[c & 0x0F]};
    } else {
      out += c;
    }
  }
  return out;
}

RC_GTEST_PROP(PercentDecode, UndoesAnyEncodingOfAnyBytes, ()) {
  const std::string text = *Bytes();
  const bool query = *rc::gen::arbitrary<bool>();
  RC_ASSERT(PercentDecode(Encode(text, query ? "%+" : "%", query), query) == text);
}

RC_GTEST_PROP(QueryPieces, ReadsBackAnyNamedValuesInOrder, ()) {
  using Pieces = std::vector<std::pair<std::string, std::string>>;
  const auto pieces = *rc::gen::container<Pieces>(rc::gen::pair(Bytes(), Bytes()));
  std::string query = *Over("&");
  for (const auto& [name, value] : pieces) {
    // A value may hold "=" unescaped: only the first "=" of a piece splits it. A name alone
    // has an empty value.
    const bool alone = !name.empty() && value.empty() && *rc::gen::arbitrary<bool>();
    query += Encode(name, "%+&=", true) + (alone ? "" : "=" + Encode(value, "%+&", true));
    query += "&" + *Over("&");
  }
  RC_ASSERT(QueryPieces(query) == pieces);
}

RC_GTEST_PROP(Base64, BothFormsOfAnyBytesReadBack, ()) {
  const std::string bytes = *Bytes();
  const std::string padded = Base64Encode(bytes);
  RC_ASSERT(padded.size() == (bytes.size() + 2) / 3 * 4);
  std::string url = padded;
  for (char& c : url) c = c == '+' ? '-' : c == '/' ? '_' : c;
  while (!url.empty() && url.back() == '=') url.pop_back();
  RC_ASSERT(Base64UrlEncode(bytes) == url);
  RC_ASSERT(Base64UrlDecode(url) == bytes);
  RC_ASSERT(Base64UrlDecode(padded) == bytes);
}

// A template of literal runs and parameters of every kind, now and then with an unclosed "{",
// and a path: the template filled in, or any text over the characters that matter.
RC_GTEST_PROP(RoutePattern, MatchesAndCapturesWhatItsPatternDoes, ()) {
  const char* const kinds[] = {"{p}", "{+r}", "{#f}"};
  std::string path_template = "/";
  std::string filled = "/";
  const int pieces = *rc::gen::inRange(0, 5);
  for (int i = 0; i < pieces; ++i) {
    const int kind = *rc::gen::inRange(0, 4);
    if (kind == 3) {
      const std::string literal = *Over("ab/.#?+x");
      path_template += literal;
      filled += literal;
    } else {
      path_template += kinds[kind];
      filled += (kind == 2 ? "#" : "") + *Over("ab/#.\r\n");
    }
  }
  if (*rc::gen::inRange(0, 8) == 0) path_template += "{open";
  const std::string path = *rc::gen::arbitrary<bool>() ? filled : "/" + *Over("ab/#.?x\r\n");

  const std::regex pattern(TemplateToPattern(path_template, nullptr), std::regex::ECMAScript);
  std::smatch expected;
  const bool regex_matched = std::regex_match(path, expected, pattern);
  std::vector<std::string_view> captures;
  RC_ASSERT(RoutePattern::Compile(path_template).Match(path, captures) == regex_matched);
  if (!regex_matched) return;
  RC_ASSERT(std::vector<std::string>(captures.begin(), captures.end()) ==
            std::vector<std::string>(expected.begin() + 1, expected.end()));
}

}  // namespace
}  // namespace wire
