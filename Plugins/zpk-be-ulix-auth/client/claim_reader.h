// The small JSON reader that turns the decoded segments of a token into claim objects, and the
// claim objects themselves with their tolerant access: a claim that is missing or of another
// kind than asked reads as 0, "" or an empty object instead of failing.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_CLAIM_READER_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_CLAIM_READER_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ulix_auth::json {

// Every error of the reader. A repeated member name is raised as this class itself.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Element;
struct Member;

// An ordered list of members with unique names; look-up is a linear search by exact name.
class Object {
 public:
  Object();
  Object(const Object& other);
  Object(Object&& other) noexcept;
  Object& operator=(const Object& other);
  Object& operator=(Object&& other) noexcept;
  ~Object();

  // The member `name`; a missing one is appended as null first. References stay valid until the
  // next member is added.
  Element& operator[](std::string_view name);
  // The member `name`, or null when there is none. Adds nothing.
  const Element* Find(std::string_view name) const;
  // Appends a member. Raises Exception "Object member already exists: <name>" on a repeat.
  Element& Insert(std::string name, Element element);

  const std::vector<Member>& members() const { return members_; }
  std::size_t size() const;
  bool empty() const;

  bool operator==(const Object& other) const;

 private:
  std::vector<Member> members_;
};

using Array = std::vector<Element>;

// One value of a claim object. Each element owns its value; copying copies it.
class Element {
 public:
  enum class Kind : std::uint8_t { kNull, kBoolean, kNumber, kString, kArray, kObject };

  Element() = default;  // null
  static Element Boolean(bool value);
  static Element Number(double value);
  static Element String(std::string value);
  static Element FromArray(Array items);
  static Element FromObject(Object object);

  Kind kind() const { return kind_; }
  bool IsArray() const { return kind_ == Kind::kArray; }

  // The "as" conversions: an element of another kind is first replaced in place by 0, "" or an
  // empty object; the value is then returned for reading or writing.
  double& AsNumber();
  std::string& AsString();
  Object& AsObject();
  // As AsObject()[name].
  Element& operator[](std::string_view name) { return AsObject()[name]; }

  // Array access, only when IsArray(): the number of elements (0 otherwise) and the element at
  // `index`, which must be below it.
  std::size_t ArraySize() const { return kind_ == Kind::kArray ? array_.size() : 0; }
  Element& At(std::size_t index) { return array_[index]; }
  const Element& At(std::size_t index) const { return array_[index]; }

  // Read-only views without conversion; meaningful only for the matching kind.
  bool boolean() const { return boolean_; }
  double number() const { return number_; }
  const std::string& string() const { return string_; }
  const Object& object() const { return object_; }

  bool operator==(const Element& other) const;

 private:
  void Reset(Kind kind);

  Kind kind_ = Kind::kNull;
  bool boolean_ = false;
  double number_ = 0;
  std::string string_;
  Array array_;
  Object object_;
};

struct Member {
  std::string name;
  Element element;

  bool operator==(const Member& other) const = default;
};

// Here, where Member is complete.
inline std::size_t Object::size() const { return members_.size(); }
inline bool Object::empty() const { return members_.empty(); }

class Reader {
 public:
  // A lexical error: a character that starts no token, a misspelt literal, a bad escape.
  class ScanException : public Exception {
   public:
    using Exception::Exception;
  };
  // A syntax error: tokens in the wrong order, a top level that is not an object, a number
  // that does not convert.
  class ParseException : public Exception {
   public:
    using Exception::Exception;
  };

  // Objects and arrays nested deeper than this raise a ParseException: reading and destroying
  // the claims recurse once per level, and the text comes from the network.
  static constexpr std::size_t kMaxDepth = 256;

  // Reads `text` up to its first zero byte, which must hold exactly one object, and appends its
  // members to `object`. The whole text is scanned before anything is parsed, so a lexical
  // error anywhere wins over a syntax error before it; on any error `object` is left as it was.
  // Raises ScanException, ParseException, or Exception for a repeated member name.
  static void Read(std::string_view text, Object& object);
};

}  // namespace ulix_auth::json

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_CLAIM_READER_H_
