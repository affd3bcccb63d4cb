#include "logging/positional_formatter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

namespace logging {
namespace {

// A specification longer than this is taken as a broken template rather than rendered.
constexpr std::size_t kMaxSpecificationLength = 60;

constexpr std::string_view kFlagCharacters = "-+ #0";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsIntegerType(FormatArgument::Type type) {
  return type == FormatArgument::Type::kInt32 || type == FormatArgument::Type::kUInt32 ||
         type == FormatArgument::Type::kInt64 || type == FormatArgument::Type::kUInt64;
}

bool Is64BitType(FormatArgument::Type type) {
  return type == FormatArgument::Type::kInt64 || type == FormatArgument::Type::kUInt64;
}

char DefaultLetter(FormatArgument::Type type) {
  switch (type) {
    case FormatArgument::Type::kString:
      return 's';
    case FormatArgument::Type::kInt32:
    case FormatArgument::Type::kInt64:
      return 'd';
    case FormatArgument::Type::kUInt32:
    case FormatArgument::Type::kUInt64:
      return 'u';
    case FormatArgument::Type::kDouble:
      return 'g';
  }
  return 's';
}

std::string_view AllowedLetters(FormatArgument::Type type) {
  switch (type) {
    case FormatArgument::Type::kString:
      return "s";
    case FormatArgument::Type::kInt32:
    case FormatArgument::Type::kInt64:
      return "dciouxX";
    case FormatArgument::Type::kUInt32:
    case FormatArgument::Type::kUInt64:
      return "ucdioxX";
    case FormatArgument::Type::kDouble:
      return "gaefGAEF";
  }
  return "s";
}

// Reads a decimal number without overflowing; values past the int range saturate so that they
// compare above any argument count and make printf refuse the width.
std::size_t ReadNumber(std::string_view text, std::size_t& pos) {
  std::size_t value = 0;
  constexpr std::size_t kCap = static_cast<std::size_t>(std::numeric_limits<int>::max()) + 1;
  while (pos < text.size() && IsDigit(text[pos])) {
    value = value * 10 + static_cast<std::size_t>(text[pos] - '0');
    if (value > kCap) value = kCap;
    ++pos;
  }
  return value;
}

// Width or precision: absent, written digits, or taken from an argument.
struct Dimension {
  bool present = false;
  std::string digits;          // as written, when not taken from an argument
  bool from_argument = false;  // "*" or "*N$"
  std::size_t argument = 0;    // 1-based; 0 means "the next one in order"
};

// One parsed specification, before its arguments are resolved.
struct Specification {
  std::size_t argument = 0;  // 1-based; 0 means "the next one in order"
  bool written = false;      // false for a bare "%N", rendered with the type's defaults
  std::string flags;
  Dimension width;
  Dimension precision;
  std::string length;
  char letter = 0;
};

enum class ParseOutcome { kOk, kStop };

class Renderer {
 public:
  Renderer(std::span<const FormatArgument> arguments, std::size_t buffer_size)
      : arguments_(arguments), limit_(buffer_size == 0 ? 0 : buffer_size - 1) {
    out_.reserve(limit_ < 256 ? limit_ : 256);
  }

  bool Full() const { return out_.size() >= limit_; }

  void Append(std::string_view text) {
    std::size_t room = limit_ - out_.size();
    out_.append(text.substr(0, room));
  }

  // Takes the argument a specification names; nullptr when it lies beyond the last.
  const FormatArgument* Take(std::size_t position) {
    if (position == 0) {
      if (next_ >= arguments_.size()) return nullptr;
      return &arguments_[next_++];
    }
    if (position > arguments_.size()) return nullptr;
    return &arguments_[position - 1];
  }

  // Parses the conversion whose "%" is at `start`; `pos` ends after its conversion letter.
  ParseOutcome Parse(std::string_view format, std::size_t start, std::size_t& pos,
                     Specification& spec) {
    pos = start + 1;
    if (pos < format.size() && format[pos] >= '1' && format[pos] <= '9') {
      std::size_t number_start = pos;
      std::size_t number = ReadNumber(format, pos);
      bool dollar = pos < format.size() && format[pos] == '$';
      if (number <= arguments_.size()) {
        spec.argument = number;
        if (!dollar) return ParseOutcome::kOk;
        spec.written = true;
        ++pos;
      } else if (dollar) {
        return ParseOutcome::kStop;  // names an argument that was never passed
      } else {
        // The digits were a width of an ordinary specification.
        spec.written = true;
        spec.width.present = true;
        spec.width.digits = std::string(format.substr(number_start, pos - number_start));
        return ParseRest(format, start, pos, spec, /*after_width=*/true);
      }
    } else {
      spec.written = true;
    }
    return ParseRest(format, start, pos, spec, /*after_width=*/false);
  }

  // Renders one specification; false stops the whole output.
  bool Render(const Specification& spec) {
    int width = 0;
    int precision = 0;
    if (spec.width.present && spec.width.from_argument &&
        !ResolveDimension(spec.width.argument, width)) {
      return false;
    }
    if (spec.precision.present && spec.precision.from_argument &&
        !ResolveDimension(spec.precision.argument, precision)) {
      return false;
    }
    const FormatArgument* argument = Take(spec.argument);
    if (argument == nullptr) return false;
    if (spec.letter == 'n') return true;  // the count conversion writes nothing here

    FormatArgument::Type type = argument->type();
    std::string conversion = "%";
    if (spec.written) {
      conversion += spec.flags;
      if (spec.width.present) {
        if (spec.width.from_argument) {
          // A negative width taken from an argument means left alignment, as in printf.
          if (width < 0) {
            conversion += '-';
            width =
                width == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : -width;
          }
          conversion += std::to_string(width);
        } else {
          conversion += spec.width.digits;
        }
      }
      if (spec.precision.present) {
        if (!spec.precision.from_argument) {
          conversion += '.';
          conversion += spec.precision.digits;
        } else if (precision >= 0) {
          // A negative precision from an argument counts as no precision at all.
          conversion += '.';
          conversion += std::to_string(precision);
        }
      }
    }
    char letter = spec.written ? spec.letter : DefaultLetter(type);
    if (AllowedLetters(type).find(letter) == std::string_view::npos) letter = DefaultLetter(type);
    std::string length = spec.written ? spec.length : std::string();
    return Emit(conversion, length, letter, *argument);
  }

  std::string Finish() { return std::move(out_); }

 private:
  ParseOutcome ParseRest(std::string_view format, std::size_t start, std::size_t& pos,
                         Specification& spec, bool after_width) {
    if (!after_width) {
      while (pos < format.size() && kFlagCharacters.find(format[pos]) != std::string_view::npos) {
        spec.flags += format[pos++];
      }
      ParseDimension(format, pos, spec.width);
    }
    if (pos < format.size() && format[pos] == '.') {
      ++pos;
      spec.precision.present = true;
      ParseDimension(format, pos, spec.precision);
      if (!spec.precision.from_argument && spec.precision.digits.empty()) {
        spec.precision.digits.push_back('0');  // "." alone means precision 0
      }
    }
    ParseLength(format, pos, spec.length);
    if (pos >= format.size()) return ParseOutcome::kStop;  // the template ends inside it
    spec.letter = format[pos++];
    if (pos - start > kMaxSpecificationLength) return ParseOutcome::kStop;
    return ParseOutcome::kOk;
  }

  static void ParseDimension(std::string_view format, std::size_t& pos, Dimension& dimension) {
    if (pos < format.size() && format[pos] == '*') {
      ++pos;
      dimension.present = true;
      dimension.from_argument = true;
      // "*N$" names the argument; digits without the "$" are not part of the star.
      std::size_t look = pos;
      if (look < format.size() && format[look] >= '1' && format[look] <= '9') {
        std::size_t number = ReadNumber(format, look);
        if (look < format.size() && format[look] == '$') {
          dimension.argument = number;
          pos = look + 1;
        }
      }
      return;
    }
    std::size_t digits_start = pos;
    while (pos < format.size() && IsDigit(format[pos])) ++pos;
    if (pos > digits_start) {
      dimension.present = true;
      dimension.digits = std::string(format.substr(digits_start, pos - digits_start));
    }
  }

  static void ParseLength(std::string_view format, std::size_t& pos, std::string& length) {
    if (pos >= format.size()) return;
    char c = format[pos];
    if (c == 'h' || c == 'l') {
      length += c;
      ++pos;
      if (pos < format.size() && format[pos] == c) {
        length += c;
        ++pos;
      }
    } else if (c == 'L' || c == 'j' || c == 't' || c == 'z') {
      length += c;
      ++pos;
    }
  }

  bool ResolveDimension(std::size_t position, int& value) {
    const FormatArgument* argument = Take(position);
    if (argument == nullptr || !IsIntegerType(argument->type())) return false;
    bool is_signed = argument->type() == FormatArgument::Type::kInt32 ||
                     argument->type() == FormatArgument::Type::kInt64;
    if (is_signed) {
      std::int64_t number = argument->signed_value();
      if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
        return false;
      }
      value = static_cast<int>(number);
    } else {
      std::uint64_t number = argument->unsigned_value();
      if (number > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) return false;
      value = static_cast<int>(number);
    }
    return true;
  }

  // Hands the finished conversion to printf with the value cast to what the length modifier
  // makes printf read, so a written modifier never reads the wrong amount of memory.
  bool Emit(std::string conversion, const std::string& length, char letter,
            const FormatArgument& argument) {
    FormatArgument::Type type = argument.type();
    switch (type) {
      case FormatArgument::Type::kString: {
        conversion += 's';
        std::string text(argument.text());
        return Print(conversion, text.c_str());
      }
      case FormatArgument::Type::kDouble: {
        if (length == "L") {
          conversion += 'L';
          conversion += letter;
          return Print(conversion, static_cast<long double>(argument.double_value()));
        }
        conversion += letter;
        return Print(conversion, argument.double_value());
      }
      default:
        break;
    }
    bool is_signed = type == FormatArgument::Type::kInt32 || type == FormatArgument::Type::kInt64;
    // Keep the argument's own value; printf then reinterprets it through the letter and length.
    std::uint64_t bits =
        is_signed ? static_cast<std::uint64_t>(argument.signed_value()) : argument.unsigned_value();
    if (letter == 'c') {
      conversion += 'c';
      return Print(conversion, static_cast<int>(bits));
    }
    std::string modifier = length;
    if (modifier.empty() && Is64BitType(type)) modifier = "ll";
    if (modifier == "L") modifier = "ll";  // "L" is only defined for floating conversions
    conversion += modifier;
    conversion += letter;
    if (modifier.empty() || modifier == "h" || modifier == "hh") {
      return Print(conversion, static_cast<int>(static_cast<std::uint32_t>(bits)));
    }
    if (modifier == "l") return Print(conversion, static_cast<long>(bits));
    if (modifier == "j") return Print(conversion, static_cast<std::intmax_t>(bits));
    if (modifier == "z") return Print(conversion, static_cast<std::size_t>(bits));
    if (modifier == "t") return Print(conversion, static_cast<std::ptrdiff_t>(bits));
    return Print(conversion, static_cast<long long>(bits));
  }

  template <typename T>
  bool Print(const std::string& conversion, T value) {
    std::size_t room = limit_ - out_.size();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    char small[256];
    int written = std::snprintf(small, sizeof(small), conversion.c_str(), value);
    if (written < 0) return false;  // printf refused it (a width past the int range, say)
    std::size_t kept = std::min(static_cast<std::size_t>(written), room);
    if (static_cast<std::size_t>(written) < sizeof(small)) {
      out_.append(small, kept);
    } else {
      // Wide fields: render again straight into the output, which keeps one byte past its size
      // for the terminator.
      std::size_t old_size = out_.size();
      out_.resize(old_size + kept);
      std::snprintf(out_.data() + old_size, kept + 1, conversion.c_str(), value);
    }
#pragma GCC diagnostic pop
    return true;
  }

  std::span<const FormatArgument> arguments_;
  std::size_t limit_;
  std::size_t next_ = 0;
  std::string out_;
};

}  // namespace

std::string FormatPositional(std::string_view format, std::span<const FormatArgument> arguments,
                             std::size_t buffer_size) {
  Renderer renderer(arguments, buffer_size);
  std::size_t pos = 0;
  while (pos < format.size() && !renderer.Full()) {
    std::size_t percent = format.find('%', pos);
    if (percent == std::string_view::npos) {
      renderer.Append(format.substr(pos));
      break;
    }
    renderer.Append(format.substr(pos, percent - pos));
    if (percent + 1 < format.size() && format[percent + 1] == '%') {
      renderer.Append("%");
      pos = percent + 2;
      continue;
    }
    Specification spec;
    if (renderer.Parse(format, percent, pos, spec) == ParseOutcome::kStop) break;
    if (!renderer.Render(spec)) break;
  }
  return renderer.Finish();
}

}  // namespace logging
