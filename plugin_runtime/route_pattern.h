// Path templates of endpoints ("/ulix-auth/v1/config/{platformId}") compiled once at
// registration into a matcher, and the URL decoding of the texts it captures.
#ifndef PLUGIN_RUNTIME_ROUTE_PATTERN_H_
#define PLUGIN_RUNTIME_ROUTE_PATTERN_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace plugin_runtime {

// One trailing "/" is dropped from a template longer than one character: "/a/b/" serves "/a/b".
std::string_view TrimTemplate(std::string_view path_template);

// The ECMAScript pattern of a template: outside braces ^ $ . * + ? ( ) [ ] | and backslash are
// escaped; "{name}" becomes "([^/]*)", "{+name}" "(.*)" and "{#name}" "#(.*)". Parameter names
// are appended to `names` in order. Used to check the compiled matcher and to measure it.
std::string TemplateToPattern(std::string_view path_template, std::vector<std::string>* names);

// "%" and two hexadecimal digits become that byte, "+" a space; anything else is copied.
std::string UrlDecode(std::string_view text);

// A template compiled for matching whole request paths. It accepts exactly the texts the
// template's ECMAScript pattern matches and captures what its groups would (greedy, leftmost
// first): a plain parameter takes one segment without "/", a "+" parameter any rest, a "#"
// parameter "#" and then any rest, where "any" stops at CR and LF as "." does. Immutable after
// Compile, so any thread may match.
class RoutePattern {
 public:
  // `path_template` as registered (TrimTemplate is the caller's business).
  static RoutePattern Compile(std::string_view path_template);

  // True for a template without "{": the path must equal literal() byte for byte.
  bool IsLiteral() const { return literal_; }
  const std::string& literal() const { return text_; }
  const std::vector<std::string>& ParameterNames() const { return names_; }

  // Whole-text match. On success `captures` holds one view into `path` per parameter, in order.
  bool Match(std::string_view path, std::vector<std::string_view>& captures) const;

 private:
  enum class PieceKind { kLiteral, kSegment, kRest };
  struct Piece {
    PieceKind kind;
    std::string text;           // kLiteral only
    std::size_t capture = 0;    // parameter rank of kSegment and kRest
    std::size_t min_after = 0;  // bytes the literals after this piece need at least
  };

  bool MatchFrom(std::size_t piece, std::string_view path, std::size_t position,
                 std::vector<std::string_view>& captures) const;

  bool literal_ = true;
  std::string text_;
  std::vector<Piece> pieces_;
  std::vector<std::string> names_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_ROUTE_PATTERN_H_
