#include "Plugins/zpk-be-ulix-auth/client/claim_reader.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <utility>

namespace ulix_auth::json {

// ---- Object -------------------------------------------------------------------------------------

Object::Object() = default;
Object::Object(const Object& other) = default;
Object::Object(Object&& other) noexcept = default;
Object& Object::operator=(const Object& other) = default;
Object& Object::operator=(Object&& other) noexcept = default;
Object::~Object() = default;

Element& Object::operator[](std::string_view name) {
  for (Member& member : members_) {
    if (member.name == name) return member.element;
  }
  members_.push_back(Member{std::string(name), Element()});
  return members_.back().element;
}

const Element* Object::Find(std::string_view name) const {
  for (const Member& member : members_) {
    if (member.name == name) return &member.element;
  }
  return nullptr;
}

Element& Object::Insert(std::string name, Element element) {
  if (Find(name) != nullptr) throw Exception("Object member already exists: " + name);
  // Claim objects are small; growing one member at a time would move them all again and again.
  if (members_.capacity() == 0) members_.reserve(8);
  members_.push_back(Member{std::move(name), std::move(element)});
  return members_.back().element;
}

bool Object::operator==(const Object& other) const { return members_ == other.members_; }

// ---- Element ------------------------------------------------------------------------------------

Element Element::Boolean(bool value) {
  Element element;
  element.kind_ = Kind::kBoolean;
  element.boolean_ = value;
  return element;
}

Element Element::Number(double value) {
  Element element;
  element.kind_ = Kind::kNumber;
  element.number_ = value;
  return element;
}

Element Element::String(std::string value) {
  Element element;
  element.kind_ = Kind::kString;
  element.string_ = std::move(value);
  return element;
}

Element Element::FromArray(Array items) {
  Element element;
  element.kind_ = Kind::kArray;
  element.array_ = std::move(items);
  return element;
}

Element Element::FromObject(Object object) {
  Element element;
  element.kind_ = Kind::kObject;
  element.object_ = std::move(object);
  return element;
}

void Element::Reset(Kind kind) {
  boolean_ = false;
  number_ = 0;
  string_.clear();
  array_.clear();
  object_ = Object();
  kind_ = kind;
}

double& Element::AsNumber() {
  if (kind_ != Kind::kNumber) Reset(Kind::kNumber);
  return number_;
}

std::string& Element::AsString() {
  if (kind_ != Kind::kString) Reset(Kind::kString);
  return string_;
}

Object& Element::AsObject() {
  if (kind_ != Kind::kObject) Reset(Kind::kObject);
  return object_;
}

bool Element::operator==(const Element& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::kNull:
      return true;
    case Kind::kBoolean:
      return boolean_ == other.boolean_;
    case Kind::kNumber:
      return number_ == other.number_;
    case Kind::kString:
      return string_ == other.string_;
    case Kind::kArray:
      return array_ == other.array_;
    case Kind::kObject:
      return object_ == other.object_;
  }
  return false;
}

// ---- Reader -------------------------------------------------------------------------------------

namespace {

enum class TokenType : std::uint8_t {
  kObjectBegin,
  kObjectEnd,
  kArrayBegin,
  kArrayEnd,
  kNextElement,
  kMemberAssign,
  kString,
  kNumber,
  kBoolean,
  kNull,
};

// `value` is the token as the messages show it: the punctuation, the literal, the number's
// characters or the string's content with its escapes resolved. It points into the scanned text
// or, for a string with escapes, into the scanner's own copy.
struct Token {
  TokenType type;
  std::string_view value;
};

using ScanException = Reader::ScanException;
using ParseException = Reader::ParseException;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsNumberCharacter(char c) {
  return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+';
}

// The tokens of a whole text. Must outlive the tokens it hands out.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  std::vector<Token> Scan() {
    std::vector<Token> tokens;
    tokens.reserve(text_.size() / 6 + 4);
    const char* const begin = text_.data();
    const std::size_t size = text_.size();
    while (true) {
      while (pos_ < size && IsSpace(begin[pos_])) ++pos_;
      if (pos_ == size) return tokens;
      const char c = begin[pos_];
      switch (c) {
        case '{':
          tokens.push_back(Punctuation(TokenType::kObjectBegin));
          break;
        case '}':
          tokens.push_back(Punctuation(TokenType::kObjectEnd));
          break;
        case '[':
          tokens.push_back(Punctuation(TokenType::kArrayBegin));
          break;
        case ']':
          tokens.push_back(Punctuation(TokenType::kArrayEnd));
          break;
        case ',':
          tokens.push_back(Punctuation(TokenType::kNextElement));
          break;
        case ':':
          tokens.push_back(Punctuation(TokenType::kMemberAssign));
          break;
        case '"':
          tokens.push_back(String());
          break;
        case 't':
          tokens.push_back(Literal(TokenType::kBoolean, "true"));
          break;
        case 'f':
          tokens.push_back(Literal(TokenType::kBoolean, "false"));
          break;
        case 'n':
          tokens.push_back(Literal(TokenType::kNull, "null"));
          break;
        default:
          if (c == '-' || (c >= '0' && c <= '9')) {
            tokens.push_back(Number());
            break;
          }
          throw ScanException(std::string("Unexpected character in stream: ") + c);
      }
    }
  }

 private:
  Token Punctuation(TokenType type) { return Token{type, text_.substr(pos_++, 1)}; }

  Token Literal(TokenType type, std::string_view literal) {
    if (text_.substr(pos_, literal.size()) != literal) {
      throw ScanException("Expected string: " + std::string(literal));
    }
    pos_ += literal.size();
    return Token{type, literal};
  }

  Token Number() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsNumberCharacter(text_[pos_])) ++pos_;
    return Token{TokenType::kNumber, text_.substr(start, pos_ - start)};
  }

  Token String() {
    const std::size_t start = ++pos_;  // after the opening quote
    // Most strings hold no escape: they are handed out as a view of the text.
    std::size_t stop = start;
    while (stop < text_.size() && text_[stop] != '"' && text_[stop] != '\\') ++stop;
    if (stop == text_.size()) throw ScanException("Unexpected end of stream in string");
    if (text_[stop] == '"') {
      pos_ = stop + 1;
      return Token{TokenType::kString, text_.substr(start, stop - start)};
    }
    std::string& out = escaped_.emplace_back(text_.substr(start, stop - start));
    pos_ = stop;
    while (true) {
      if (pos_ == text_.size()) throw ScanException("Unexpected end of stream in string");
      const char c = text_[pos_++];
      if (c == '"') return Token{TokenType::kString, out};
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ == text_.size()) throw ScanException("Unexpected end of stream in string");
      const char escaped = text_[pos_++];
      switch (escaped) {
        case '"':
        case '\\':
        case '/':
          out.push_back(escaped);
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'u':
          // Code points are not decoded; the hex digits follow as ordinary characters.
          out.append("\\u");
          break;
        default:
          throw ScanException(std::string("Unrecognized escape sequence found in string: \\") +
                              escaped);
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  // Strings with escapes, resolved. A deque never moves its elements, so views stay valid.
  std::deque<std::string> escaped_;
};

class Parser {
 public:
  explicit Parser(const std::vector<Token>& tokens) : tokens_(tokens) {}

  void ParseDocument(Object& object) {
    ParseObject(object, 1);
    if (next_ != tokens_.size()) {
      throw ParseException("Expected End of token stream; found " +
                           std::string(tokens_[next_].value));
    }
  }

 private:
  // The next token, which must exist: the stream ending where a particular token belongs.
  const Token& Next() {
    if (next_ == tokens_.size()) throw ParseException("Unexpected End of token stream");
    return tokens_[next_++];
  }

  const Token& Expect(TokenType type) {
    const Token& token = Next();
    if (token.type != type) throw ParseException("Unexpected token: " + std::string(token.value));
    return token;
  }

  static void CheckDepth(std::size_t depth) {
    if (depth > Reader::kMaxDepth) throw ParseException("Nesting too deep");
  }

  void ParseObject(Object& object, std::size_t depth) {
    CheckDepth(depth);
    Expect(TokenType::kObjectBegin);
    if (next_ < tokens_.size() && tokens_[next_].type == TokenType::kObjectEnd) {
      ++next_;
      return;
    }
    while (true) {
      std::string name(Expect(TokenType::kString).value);
      Expect(TokenType::kMemberAssign);
      Element value = ParseValue(depth);
      object.Insert(std::move(name), std::move(value));
      const Token& separator = Next();
      if (separator.type == TokenType::kObjectEnd) return;
      if (separator.type != TokenType::kNextElement) {
        throw ParseException("Unexpected token: " + std::string(separator.value));
      }
    }
  }

  void ParseArray(Array& items, std::size_t depth) {
    CheckDepth(depth);
    Expect(TokenType::kArrayBegin);
    if (next_ < tokens_.size() && tokens_[next_].type == TokenType::kArrayEnd) {
      ++next_;
      return;
    }
    while (true) {
      items.push_back(ParseValue(depth));
      const Token& separator = Next();
      if (separator.type == TokenType::kArrayEnd) return;
      if (separator.type != TokenType::kNextElement) {
        throw ParseException("Unexpected token: " + std::string(separator.value));
      }
    }
  }

  Element ParseValue(std::size_t depth) {
    if (next_ == tokens_.size()) throw ParseException("Unexpected end of token stream");
    const Token& token = tokens_[next_];
    switch (token.type) {
      case TokenType::kObjectBegin: {
        Object object;
        ParseObject(object, depth + 1);
        return Element::FromObject(std::move(object));
      }
      case TokenType::kArrayBegin: {
        Array items;
        ParseArray(items, depth + 1);
        return Element::FromArray(std::move(items));
      }
      case TokenType::kString:
        ++next_;
        return Element::String(std::string(token.value));
      case TokenType::kNumber:
        ++next_;
        return Element::Number(ToNumber(token.value));
      case TokenType::kBoolean:
        ++next_;
        return Element::Boolean(token.value == "true");
      case TokenType::kNull:
        ++next_;
        return Element();
      default:
        throw ParseException("Unexpected token: " + std::string(token.value));
    }
  }

  static double ToNumber(std::string_view text) {
    // strtod wants a terminated text; numbers are short, so a buffer on the stack usually does.
    char buffer[64];
    std::string long_text;
    const char* terminated = buffer;
    if (text.size() < sizeof buffer) {
      std::memcpy(buffer, text.data(), text.size());
      buffer[text.size()] = '\0';
    } else {
      long_text.assign(text);
      terminated = long_text.c_str();
    }
    char* end = nullptr;
    const double value = std::strtod(terminated, &end);
    if (*end != '\0') {
      throw ParseException(std::string("Unexpected character in NUMBER token: ") + *end);
    }
    return value;
  }

  const std::vector<Token>& tokens_;
  std::size_t next_ = 0;
};

}  // namespace

void Reader::Read(std::string_view text, Object& object) {
  // The claims are read as a terminated text: whatever follows a zero byte is not part of it.
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  Scanner scanner(text);
  const std::vector<Token> tokens = scanner.Scan();
  Object read;
  Parser(tokens).ParseDocument(read);
  if (object.empty()) {
    object = std::move(read);
    return;
  }
  for (const Member& member : read.members()) object.Insert(member.name, member.element);
}

}  // namespace ulix_auth::json
