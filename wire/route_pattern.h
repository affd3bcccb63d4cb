// Path templates of endpoints ("/ulix-auth/v1/config/{platformId}") compiled once into a
// matcher: the plug-in matches the path of each request it serves against its endpoint's, and
// a host chooses among the endpoints of a catalogue with the same matcher. Header-only, with no
// dependency on the runtime.
#ifndef WIRE_ROUTE_PATTERN_H_
#define WIRE_ROUTE_PATTERN_H_

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace wire {

// One trailing "/" is dropped from a template longer than one character: "/a/b/" serves "/a/b".
inline std::string_view TrimTemplate(std::string_view path_template) {
  if (path_template.size() > 1 && path_template.back() == '/') path_template.remove_suffix(1);
  return path_template;
}

// Walks a template left to right: every character outside braces goes to `literal`; every
// closed "{name}", "{+name}" or "{#name}" goes to `parameter` with its kind (0, '+' or '#') and
// its name. An unclosed "{" swallows the rest of the template, as it does in the pattern. The
// one reading of a template: the matcher, the pattern text and the hosts' documents use it.
template <typename Literal, typename Parameter>
void ScanTemplate(std::string_view path_template, Literal literal, Parameter parameter) {
  std::size_t i = 0;
  while (i < path_template.size()) {
    if (path_template[i] != '{') {
      literal(path_template[i++]);
      continue;
    }
    ++i;
    char kind = 0;
    if (i < path_template.size() && (path_template[i] == '+' || path_template[i] == '#')) {
      kind = path_template[i++];
    }
    const std::size_t close = path_template.find('}', i);
    if (close == std::string_view::npos) return;
    parameter(kind, path_template.substr(i, close - i));
    i = close + 1;
  }
}

// The ECMAScript pattern of a template: outside braces ^ $ . * + ? ( ) [ ] | and backslash are
// escaped; "{name}" becomes "([^/]*)", "{+name}" "(.*)" and "{#name}" "#(.*)". Parameter names
// are appended to `names` in order. Used to check the compiled matcher and to measure it.
inline std::string TemplateToPattern(std::string_view path_template,
                                     std::vector<std::string>* names) {
  static constexpr std::string_view kEscaped = "^$.*+?()[]|\\";
  std::string pattern;
  ScanTemplate(
      path_template,
      [&pattern](char c) {
        if (kEscaped.find(c) != std::string_view::npos) pattern.push_back('\\');
        pattern.push_back(c);
      },
      [&pattern, names](char kind, std::string_view name) {
        pattern.append(kind == '+' ? "(.*)" : kind == '#' ? "#(.*)" : "([^/]*)");
        if (names != nullptr) names->emplace_back(name);
      });
  return pattern;
}

// A template compiled for matching whole request paths. It accepts exactly the texts the
// template's ECMAScript pattern matches and captures what its groups would (greedy, leftmost
// first): a plain parameter takes one segment without "/", a "+" parameter any rest, a "#"
// parameter "#" and then any rest, where "any" stops at CR and LF as "." does. Immutable after
// Compile, so any thread may match.
class RoutePattern {
 public:
  // `path_template` as registered (TrimTemplate is the caller's business).
  static RoutePattern Compile(std::string_view path_template) {
    RoutePattern route;
    route.text_ = std::string(path_template);
    route.literal_ = path_template.find('{') == std::string_view::npos;
    if (route.literal_) {
      route.literal_length_ = path_template.size();
      return route;
    }
    auto add_literal = [&route](std::string_view text) {
      if (text.empty()) return;
      route.literal_length_ += text.size();
      if (!route.pieces_.empty() && route.pieces_.back().kind == PieceKind::kLiteral) {
        route.pieces_.back().text.append(text);
      } else {
        route.pieces_.push_back(Piece{PieceKind::kLiteral, std::string(text)});
      }
    };
    ScanTemplate(
        path_template, [&add_literal](char c) { add_literal(std::string_view(&c, 1)); },
        [&route, &add_literal](char kind, std::string_view name) {
          if (kind == '#') add_literal("#");
          route.pieces_.push_back(
              Piece{kind == 0 ? PieceKind::kSegment : PieceKind::kRest, {}, route.names_.size()});
          route.names_.emplace_back(name);
        });
    std::size_t after = 0;
    for (std::size_t i = route.pieces_.size(); i-- > 0;) {
      route.pieces_[i].min_after = after;
      if (route.pieces_[i].kind == PieceKind::kLiteral) after += route.pieces_[i].text.size();
    }
    return route;
  }

  const std::vector<std::string>& ParameterNames() const { return names_; }
  // How many bytes of a matching path the template fixes: among several templates that match
  // a path, hosts choose the one that fixes the most.
  std::size_t LiteralLength() const { return literal_length_; }

  // Whole-text match. On success `captures` holds one view into `path` per parameter, in order.
  bool Match(std::string_view path, std::vector<std::string_view>& captures) const {
    captures.clear();
    if (literal_) return path == text_;
    captures.resize(names_.size());
    if (MatchFrom(0, path, 0, captures)) return true;
    captures.clear();
    return false;
  }

 private:
  enum class PieceKind { kLiteral, kSegment, kRest };
  struct Piece {
    PieceKind kind;
    std::string text;           // kLiteral only
    std::size_t capture = 0;    // parameter rank of kSegment and kRest
    std::size_t min_after = 0;  // bytes the literals after this piece need at least
  };

  bool MatchFrom(std::size_t index, std::string_view path, std::size_t position,
                 std::vector<std::string_view>& captures) const {
    if (index == pieces_.size()) return position == path.size();
    const Piece& piece = pieces_[index];
    if (piece.kind == PieceKind::kLiteral) {
      if (path.size() - position < piece.text.size() ||
          std::memcmp(path.data() + position, piece.text.data(), piece.text.size()) != 0) {
        return false;
      }
      return MatchFrom(index + 1, path, position + piece.text.size(), captures);
    }
    // The longest run the group's character class allows, then shorter ones: the order in
    // which a backtracking matcher tries a greedy "*".
    const char* stops = piece.kind == PieceKind::kSegment ? "/" : "\r\n";
    if (path.size() - position < piece.min_after) return false;
    std::size_t end = path.find_first_of(stops, position);
    if (end == std::string_view::npos) end = path.size();
    if (path.size() - piece.min_after < end) end = path.size() - piece.min_after;
    const bool last = index + 1 == pieces_.size();
    for (std::size_t stop = end + 1; stop-- > position;) {
      if (last && stop != path.size()) return false;
      captures[piece.capture] = path.substr(position, stop - position);
      if (MatchFrom(index + 1, path, stop, captures)) return true;
    }
    return false;
  }

  bool literal_ = true;
  std::size_t literal_length_ = 0;
  std::string text_;
  std::vector<Piece> pieces_;
  std::vector<std::string> names_;
};

}  // namespace wire

#endif  // WIRE_ROUTE_PATTERN_H_
