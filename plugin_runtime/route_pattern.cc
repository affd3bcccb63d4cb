#include "plugin_runtime/route_pattern.h"

#include <cstring>

namespace plugin_runtime {
namespace {

constexpr std::string_view kEscaped = "^$.*+?()[]|\\";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Walks a template left to right: every character outside braces goes to `literal`; every
// closed "{name}", "{+name}" or "{#name}" goes to `parameter` with its kind (0, '+' or '#') and
// its name. An unclosed "{" swallows the rest of the template, as it does in the pattern.
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

}  // namespace

std::string_view TrimTemplate(std::string_view path_template) {
  if (path_template.size() > 1 && path_template.back() == '/') path_template.remove_suffix(1);
  return path_template;
}

std::string TemplateToPattern(std::string_view path_template, std::vector<std::string>* names) {
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

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
      i += 2;
    } else if (c == '+') {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

RoutePattern RoutePattern::Compile(std::string_view path_template) {
  RoutePattern route;
  route.text_ = std::string(path_template);
  route.literal_ = path_template.find('{') == std::string_view::npos;
  if (route.literal_) return route;

  auto add_literal = [&route](std::string_view text) {
    if (text.empty()) return;
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

bool RoutePattern::Match(std::string_view path, std::vector<std::string_view>& captures) const {
  captures.clear();
  if (literal_) return path == text_;
  captures.resize(names_.size());
  if (MatchFrom(0, path, 0, captures)) return true;
  captures.clear();
  return false;
}

bool RoutePattern::MatchFrom(std::size_t index, std::string_view path, std::size_t position,
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
  // The longest run the group's character class allows, then shorter ones: the order in which
  // a backtracking matcher tries a greedy "*".
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

}  // namespace plugin_runtime
