#include "binding/json_bridge.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The SSE2 paths of the reader skip whitespace and scan plain string runs 16 bytes at a time; on
// token-like bodies (long base64 strings) that cuts the tokenising cost by about three. The
// packaged version's vector scanners only notice control bytes up to 0x19, so 0x1A-0x1F would
// slip through as ordinary characters: input holding such a byte is read by the plain scanners
// instead (see parseJson). Output is written by JsonTextWriter, which escapes every control byte.
//
// Those vector loads are aligned 16-byte blocks, so the block holding the terminating NUL may
// reach a few bytes past the end of the text; that never crosses a page, but AddressSanitizer
// rightly reports it, so sanitised builds use the plain scanners.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ULIX_JSON_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ULIX_JSON_ADDRESS_SANITIZER 1
#endif
#if !defined(RAPIDJSON_SSE2) && !defined(ULIX_JSON_ADDRESS_SANITIZER) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define RAPIDJSON_SSE2
#endif
#include "binding/binding_static_type.h"
#include "binding/binding_type_registry.h"
#include "platform/memory_counters.h"
#include "rapidjson/internal/dtoa.h"
#include "rapidjson/internal/itoa.h"
#include "rapidjson/reader.h"
#include "wire/base64.h"

namespace binding {
namespace {

// GenericStringStream under another name. The reader's vector scanners are written for
// rapidjson::StringStream only, so this stream gets the byte-by-byte ones.
class PlainStringStream {
 public:
  using Ch = char;

  explicit PlainStringStream(const char* text) : next_(text), head_(text) {}

  char Peek() const { return *next_; }
  char Take() { return *next_++; }
  std::size_t Tell() const { return static_cast<std::size_t>(next_ - head_); }
  char* PutBegin() { return nullptr; }
  void Put(char) {}
  void Flush() {}
  std::size_t PutEnd(char*) { return 0; }

 private:
  const char* next_;
  const char* head_;
};

// Valid JSON has no raw byte below 0x20 outside whitespace; these are the ones the vector
// scanners miss. Without the vector scanners there is nothing to look for.
bool HasUnscannedControlByte([[maybe_unused]] const char* text,
                             [[maybe_unused]] std::size_t length) {
#if defined(RAPIDJSON_SSE2)
  std::size_t i = 0;
  const __m128i first = _mm_set1_epi8(0x1A);
  const __m128i span = _mm_set1_epi8(5);
  const auto control = [&](std::size_t at) {
    const __m128i offset =
        _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at)), first);
    return _mm_cmpeq_epi8(_mm_min_epu8(offset, span), offset);
  };
  // Four blocks a step with one test: the whole body passes through here.
  for (; i + 64 <= length; i += 64) {
    const __m128i any = _mm_or_si128(_mm_or_si128(control(i), control(i + 16)),
                                     _mm_or_si128(control(i + 32), control(i + 48)));
    if (_mm_movemask_epi8(any) != 0) return true;
  }
  for (; i + 16 <= length; i += 16) {
    const __m128i offset =
        _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i)), first);
    // offset <= 5, unsigned: min(offset, 5) == offset
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(offset, span), offset)) != 0) return true;
  }
  for (; i < length; ++i) {
    if (static_cast<unsigned char>(text[i] - 0x1A) < 6) return true;
  }
#endif
  return false;
}

// Whether the writer would change any byte of `text`: control bytes, quote and backslash.
bool NeedsEscape(std::string_view text) {
  const char* bytes = text.data();
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i last_control = _mm_set1_epi8(0x1F);
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(block, last_control), block);
    const __m128i special = _mm_or_si128(
        control, _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)));
    if (_mm_movemask_epi8(special) != 0) return true;
  }
#endif
  for (; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x20 || c == '"' || c == '\\') return true;
  }
  return false;
}

// RapidJSON's reader stack comes from the plug-in's counting heap, so the host's memory statistics
// cover it like every other allocation.
class CountingJsonAllocator {
 public:
  [[maybe_unused]] static constexpr bool kNeedFree = true;
  void* Malloc(std::size_t size) { return size != 0 ? platform::Allocate(size) : nullptr; }
  void* Realloc(void* block, std::size_t /*old_size*/, std::size_t new_size) {
    if (new_size == 0) {
      platform::Free(block);
      return nullptr;
    }
    return platform::Reallocate(block, new_size);
  }
  static void Free(void* block) noexcept { platform::Free(block); }
  bool operator==(const CountingJsonAllocator&) const noexcept { return true; }
  bool operator!=(const CountingJsonAllocator&) const noexcept { return false; }
};

using JsonReader =
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, CountingJsonAllocator>;
constexpr std::size_t kReaderStackMinBytes = 256;
constexpr std::size_t kReaderStackMaxBytes = 4096;

// The reader's explanation for each of its error codes.
std::string_view JsonErrorText(rapidjson::ParseErrorCode code) {
  switch (code) {
    case rapidjson::kParseErrorNone:
      return "No error.";
    case rapidjson::kParseErrorDocumentEmpty:
      return "The document is empty.";
    case rapidjson::kParseErrorDocumentRootNotSingular:
      return "The document root must not be followed by other values.";
    case rapidjson::kParseErrorValueInvalid:
      return "Invalid value.";
    case rapidjson::kParseErrorObjectMissName:
      return "Missing a name for object member.";
    case rapidjson::kParseErrorObjectMissColon:
      return "Missing a colon after a name of object member.";
    case rapidjson::kParseErrorObjectMissCommaOrCurlyBracket:
      return "Missing a comma or '}' after an object member.";
    case rapidjson::kParseErrorArrayMissCommaOrSquareBracket:
      return "Missing a comma or ']' after an array element.";
    case rapidjson::kParseErrorStringUnicodeEscapeInvalidHex:
      return "Incorrect hex digit after \\u escape in string.";
    case rapidjson::kParseErrorStringUnicodeSurrogateInvalid:
      return "The surrogate pair in string is invalid.";
    case rapidjson::kParseErrorStringEscapeInvalid:
      return "Invalid escape character in string.";
    case rapidjson::kParseErrorStringMissQuotationMark:
      return "Missing a closing quotation mark in string.";
    case rapidjson::kParseErrorStringInvalidEncoding:
      return "Invalid encoding in string.";
    case rapidjson::kParseErrorNumberTooBig:
      return "Number too big to be stored in double.";
    case rapidjson::kParseErrorNumberMissFraction:
      return "Miss fraction part in number.";
    case rapidjson::kParseErrorNumberMissExponent:
      return "Miss exponent in number.";
    case rapidjson::kParseErrorTermination:
      return "Terminate parsing due to Handler error.";
    case rapidjson::kParseErrorUnspecificSyntaxError:
      return "Unspecific syntax error.";
    default:
      return "Unknown error.";
  }
}

// Builds the tree straight from the reader's events. Every container being filled sits on
// `open_`; its pointer stays valid because a parent only grows once its open child is closed.
//
// Given member names, a root object keeps only those members: any other member's value is read
// (so that errors and the depth limit are what they would be) but not built. A root that is not
// an object is built whole either way. The plain builder compiles the filter away.
template <bool kFiltered>
class JsonTreeBuilder {
 public:
  JsonTreeBuilder(BindingValue& root, std::span<const std::string_view> kept_members)
      : root_(root), kept_members_(kept_members) {
    open_.reserve(16);
    for (std::string_view name : kept_members) {
      kept_lengths_ |= name.size() < 64 ? std::uint64_t{1} << name.size() : kLongNames;
    }
  }

  bool depth_exceeded() const { return depth_exceeded_; }

  bool Null() {
    if (Skipped()) return true;
    BindingValue& target = Target();
    if (!target.isEmpty()) target.clear();
    return true;
  }
  bool Bool(bool value) {
    if (!Skipped()) Target().setBool(value);
    return true;
  }
  // The reader calls the signed callbacks only for numbers written with a minus sign.
  bool Int(int value) {
    if (!Skipped()) Target().setSigned(value);
    return true;
  }
  bool Int64(std::int64_t value) {
    if (!Skipped()) Target().setSigned(value);
    return true;
  }
  bool Uint(unsigned value) {
    if (!Skipped()) Target().setUnsigned(value);
    return true;
  }
  bool Uint64(std::uint64_t value) {
    if (!Skipped()) Target().setUnsigned(value);
    return true;
  }
  bool Double(double value) {
    if (!Skipped()) Target().setFloat(value);
    return true;
  }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }  // not requested
  bool String(const char* text, rapidjson::SizeType length, bool) {
    if (!Skipped()) Target().setString(std::string_view(text, length));
    return true;
  }
  bool StartObject() {
    if (!CanOpen()) return false;
    if (OpenSkipped()) return true;
    BindingValue& target = Target();
    // A repeated member name keeps the last value, not a merge of both.
    if (!target.isEmpty()) target.clear();
    target.reserveFields(0);
    open_.push_back(&target);
    return true;
  }
  // Members are appended as they come and put in key order once the object closes; a repeated
  // name keeps its last value, null included.
  bool Key(const char* name, rapidjson::SizeType length, bool) {
    const std::string_view key(name, length);
    if constexpr (kFiltered) {
      if (skipped_depth_ != 0) return true;
      if (open_.size() == 1 && !IsKept(key)) {
        skip_value_ = true;
        return true;
      }
    }
    member_ = &open_.back()->appendFieldUnsorted(key, Memo());
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    if (kFiltered && skipped_depth_ != 0) {
      --skipped_depth_;
      return true;
    }
    open_.back()->sortFields(BindingValue::RepeatedKeys::kKeepLast, Memo());
    open_.pop_back();
    return true;
  }
  bool StartArray() {
    if (!CanOpen()) return false;
    if (OpenSkipped()) return true;
    BindingValue& target = Target();
    if (!target.isEmpty()) target.clear();
    // Room for a few elements at once spares the first two doublings of most arrays.
    target.reserve(4);
    open_.push_back(&target);
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    if (kFiltered && skipped_depth_ != 0) {
      --skipped_depth_;
      return true;
    }
    open_.pop_back();
    return true;
  }

 private:
  BindingValue& Target() {
    if (open_.empty()) return root_;
    BindingValue* container = open_.back();
    return container->isCollection() ? container->appendElement() : *member_;
  }

  bool IsKept(std::string_view key) const {
    // Most names are told apart by their length alone.
    const std::uint64_t length_bit = key.size() < 64 ? std::uint64_t{1} << key.size() : kLongNames;
    if ((kept_lengths_ & length_bit) == 0) return false;
    return std::find(kept_members_.begin(), kept_members_.end(), key) != kept_members_.end();
  }

  // True for a value read but not built: the value of a member left out, or anything inside
  // one.
  bool Skipped() {
    if constexpr (!kFiltered) return false;
    if (skipped_depth_ != 0) return true;
    if (!skip_value_) return false;
    skip_value_ = false;
    return true;
  }
  // Opens an array or object that is not built; true when it is one.
  bool OpenSkipped() {
    if (!Skipped()) return false;
    ++skipped_depth_;
    return true;
  }

  // Objects at one depth tend to share a shape (the records of an array), so each of the first
  // few depths remembers the last object closed there.
  BindingFieldMemo* Memo() {
    const std::size_t depth = open_.size() - 1;
    return depth < kMemoDepths ? &memos_[depth] : nullptr;
  }

  bool CanOpen() {
    if (open_.size() + skipped_depth_ < kMaxJsonDepth) return true;
    depth_exceeded_ = true;
    return false;
  }

  static constexpr std::size_t kMemoDepths = 4;

  BindingValue& root_;
  BindingValue* member_ = nullptr;
  std::vector<BindingValue*> open_;
  std::span<const std::string_view> kept_members_;
  // Bit n of kept_lengths_: a kept name is n bytes long. Bit 0 stands for 0 and for 64 or more;
  // the search then decides.
  static constexpr std::uint64_t kLongNames = std::uint64_t{1};
  std::uint64_t kept_lengths_ = 0;
  std::size_t skipped_depth_ = 0;  // arrays and objects open inside a value left out
  bool skip_value_ = false;        // the next value belongs to a member left out
  bool depth_exceeded_ = false;
  BindingFieldMemo memos_[kMemoDepths];
};

std::optional<std::string_view> EnumeratorName(const BindingTypeRegistry* registry,
                                               BindingEnumPair value) {
  if (registry == nullptr || value.type == nullptr) return std::nullopt;
  const BindingTypeDescriptor* descriptor = registry->findType(value.type->id());
  if (descriptor == nullptr || !descriptor->isEnum) return std::nullopt;
  const BindingEnumValue* enumerator = descriptor->findEnumValue(value.value);
  if (enumerator == nullptr) return std::nullopt;
  return std::string_view(enumerator->name);
}

// Writes JSON text into a growing buffer, straight from the tree: separators and indentation come
// from the tree's own shape (no writer state per value), numbers from RapidJSON's converters, and
// strings are copied in one block unless they hold a byte to escape. The text is byte for byte
// what RapidJSON's writers give: compact, or pretty with four-space indentation.
template <bool kPretty>
class JsonTextWriter {
 public:
  explicit JsonTextWriter(const BindingTypeRegistry* registry) : registry_(registry) {}
  JsonTextWriter(const JsonTextWriter&) = delete;
  JsonTextWriter& operator=(const JsonTextWriter&) = delete;
  ~JsonTextWriter() { platform::Free(text_); }

  std::string_view text() const { return std::string_view(text_, size_); }

  void Write(const BindingValue& value, std::size_t depth = 0) {
    switch (value.kind()) {
      case BindingValueKind::kBool:
        if (value.getBool()) {
          Append("true");
        } else {
          Append("false");
        }
        return;
      case BindingValueKind::kSigned:
        Commit(rapidjson::internal::i64toa(value.getSigned(), Reserve(kLongestNumber)));
        return;
      case BindingValueKind::kUnsigned:
        Commit(rapidjson::internal::u64toa(value.getUnsigned(), Reserve(kLongestNumber)));
        return;
      case BindingValueKind::kFloat:
        // NaN and infinities have no JSON form; null keeps the document well-formed and the
        // member present.
        if (std::isfinite(value.getFloat())) {
          Commit(rapidjson::internal::dtoa(value.getFloat(), Reserve(kLongestNumber)));
        } else {
          Append("null");
        }
        return;
      case BindingValueKind::kString:
        WriteString(value.getString());
        return;
      case BindingValueKind::kBlob:
        wire::AssignBase64(value.getBlob(), scratch_);
        WriteVerbatim(scratch_);  // base64 needs no escape
        return;
      case BindingValueKind::kEnum:
        if (std::optional<std::string_view> name = EnumeratorName(registry_, value.getEnum())) {
          WriteString(*name);
        } else {
          Commit(rapidjson::internal::i32toa(value.getEnum().value, Reserve(kLongestNumber)));
        }
        return;
      case BindingValueKind::kCollection: {
        const std::span<const BindingValue> elements = value.elements();
        if (elements.empty()) {
          Append("[]");
          return;
        }
        Put('[');
        for (std::size_t i = 0; i < elements.size(); ++i) {
          if (i != 0) Put(',');
          NewLine(depth + 1);
          Write(elements[i], depth + 1);
        }
        NewLine(depth);
        Put(']');
        return;
      }
      case BindingValueKind::kStructure: {
        const std::span<const BindingStructureEntry> fields = value.fields();
        if (fields.empty()) {
          Append("{}");
          return;
        }
        Put('{');
        for (std::size_t i = 0; i < fields.size(); ++i) {
          if (i != 0) Put(',');
          NewLine(depth + 1);
          WriteString(fields[i].key());
          if constexpr (kPretty) {
            Append(": ");
          } else {
            Put(':');
          }
          Write(fields[i].value(), depth + 1);
        }
        NewLine(depth);
        Put('}');
        return;
      }
      default:
        Append("null");  // the empty value, or a kind without a better form
        return;
    }
  }

 private:
  // i64toa, u64toa and dtoa write at most 24 bytes.
  static constexpr std::size_t kLongestNumber = 25;
  static constexpr std::size_t kInitialBytes = 256;

  void WriteString(std::string_view text) {
    if (NeedsEscape(text)) {
      WriteEscaped(text);
    } else {
      WriteVerbatim(text);
    }
  }

  void WriteVerbatim(std::string_view text) {
    char* out = Reserve(text.size() + 2);
    out[0] = '"';
    CopyBytes(out + 1, text.data(), text.size());
    out[text.size() + 1] = '"';
    size_ += text.size() + 2;
  }

  // As RapidJSON escapes: the short forms where JSON has them, a six-byte unicode escape with
  // upper-case hex digits for the other control bytes, every other byte as it is.
  void WriteEscaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    char* const start = Reserve(text.size() * 6 + 2);
    char* out = start;
    *out++ = '"';
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      char short_form = 0;
      switch (byte) {
        case '"':
          short_form = '"';
          break;
        case '\\':
          short_form = '\\';
          break;
        case '\b':
          short_form = 'b';
          break;
        case '\f':
          short_form = 'f';
          break;
        case '\n':
          short_form = 'n';
          break;
        case '\r':
          short_form = 'r';
          break;
        case '\t':
          short_form = 't';
          break;
        default:
          break;
      }
      if (short_form != 0) {
        *out++ = '\\';
        *out++ = short_form;
      } else if (byte < 0x20) {
        *out++ = '\\';
        *out++ = 'u';
        *out++ = '0';
        *out++ = '0';
        *out++ = kHex[byte >> 4];
        *out++ = kHex[byte & 0xF];
      } else {
        *out++ = c;
      }
    }
    *out++ = '"';
    size_ += static_cast<std::size_t>(out - start);
  }

  // Keys and most values are short: two overlapping word moves cost less than a call to memcpy.
  static void CopyBytes(char* out, const char* from, std::size_t length) {
    if (length >= 8 && length <= 16) {
      CopyHeadAndTail<std::uint64_t>(out, from, length);
    } else if (length >= 4 && length < 8) {
      CopyHeadAndTail<std::uint32_t>(out, from, length);
    } else if (length < 4) {
      for (std::size_t i = 0; i < length; ++i) out[i] = from[i];
    } else {
      std::memcpy(out, from, length);
    }
  }

  // `length` is from sizeof(Word) to 2 * sizeof(Word): the two words cover it, overlapping.
  template <typename Word>
  static void CopyHeadAndTail(char* out, const char* from, std::size_t length) {
    Word head;
    Word tail;
    std::memcpy(&head, from, sizeof(Word));
    std::memcpy(&tail, from + length - sizeof(Word), sizeof(Word));
    std::memcpy(out, &head, sizeof(Word));
    std::memcpy(out + length - sizeof(Word), &tail, sizeof(Word));
  }

  // The pretty form starts each element and member on a line of its own, indented by depth.
  void NewLine(std::size_t depth) {
    if constexpr (kPretty) {
      char* out = Reserve(1 + depth * 4);
      out[0] = '\n';
      std::memset(out + 1, ' ', depth * 4);
      size_ += 1 + depth * 4;
    }
  }

  void Put(char c) {
    *Reserve(1) = c;
    ++size_;
  }
  template <std::size_t kSize>
  void Append(const char (&text)[kSize]) {
    std::memcpy(Reserve(kSize - 1), text, kSize - 1);
    size_ += kSize - 1;
  }
  void Commit(char* end) { size_ = static_cast<std::size_t>(end - text_); }

  // Room for `bytes` more at text_ + size_.
  char* Reserve(std::size_t bytes) {
    if (capacity_ - size_ < bytes) Grow(bytes);
    return text_ + size_;
  }
  void Grow(std::size_t bytes) {
    const std::size_t capacity = std::max({kInitialBytes, capacity_ * 2, size_ + bytes});
    text_ = static_cast<char*>(platform::Reallocate(text_, capacity));
    capacity_ = capacity;
  }

  const BindingTypeRegistry* registry_;
  char* text_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::string scratch_;
};

template <typename Sink>
void Walk(const BindingValue& value, Sink& sink) {
  switch (value.kind()) {
    case BindingValueKind::kEmpty:
      sink.Null();
      return;
    case BindingValueKind::kBool:
      sink.Bool(value.getBool());
      return;
    case BindingValueKind::kSigned:
      sink.Signed(value.getSigned());
      return;
    case BindingValueKind::kUnsigned:
      sink.Unsigned(value.getUnsigned());
      return;
    case BindingValueKind::kFloat:
      sink.Double(value.getFloat());
      return;
    case BindingValueKind::kString:
      sink.String(value.getString());
      return;
    case BindingValueKind::kBlob:
      sink.Blob(value.getBlob());
      return;
    case BindingValueKind::kEnum:
      sink.Enum(value.getEnum());
      return;
    case BindingValueKind::kCollection: {
      const std::span<const BindingValue> elements = value.elements();
      sink.BeginCollection(elements.size());
      for (std::size_t i = 0; i < elements.size(); ++i) {
        sink.BeforeElement(i);
        Walk(elements[i], sink);
        sink.AfterElement(i);
      }
      sink.EndCollection();
      return;
    }
    case BindingValueKind::kStructure: {
      const std::span<const BindingStructureEntry> fields = value.fields();
      sink.BeginStructure(fields.size());
      for (const BindingStructureEntry& field : fields) {
        sink.Key(field.key());
        Walk(field.value(), sink);
        sink.AfterField();
      }
      sink.EndStructure();
      return;
    }
  }
  sink.Null();  // a kind this walk does not know has no better form
}

// `text` ends at its first NUL byte, if it has one.
template <bool kFiltered>
BindingConversionResult ParseJson(std::string_view text,
                                  std::span<const std::string_view> kept_members) {
  BindingConversionResult result;
  std::size_t blank = 0;
  while (blank < text.size() && (text[blank] == ' ' || text[blank] == '\n' || text[blank] == '\r' ||
                                 text[blank] == '\t')) {
    ++blank;
  }
  if (blank == text.size()) return result;  // a blank body carries no value, which is not an error

  const char* start = text.data() + blank;
  const std::size_t length = text.size() - blank;
  JsonReader reader(nullptr, std::clamp(length, kReaderStackMinBytes, kReaderStackMaxBytes));
  JsonTreeBuilder<kFiltered> builder(result.value, kept_members);
  // About one distinct text per 32 bytes; sized for them at once, the string table is not rebuilt
  // as it fills (at 1 MB those rebuilds were a third of the reader's cache misses). Capped, so a
  // large text of few strings costs at most a 32 KB table.
  if (!kFiltered) result.value.reserveTexts(std::min<std::size_t>(length / 32, 4096));
  // One terminated copy of the text. Parsed in place, the reader hands each string over where
  // it lies (unescaped in place) instead of copying it onto its stack first. Offsets stay those
  // of `text`.
  std::unique_ptr<char, void (*)(char*)> copy(
      static_cast<char*>(platform::Allocate(text.size() + 1)),
      [](char* block) { platform::Free(block); });
  std::memcpy(copy.get(), text.data(), text.size());
  copy.get()[text.size()] = '\0';
  rapidjson::ParseResult parsed;
  if (HasUnscannedControlByte(start, length)) {
    PlainStringStream stream(copy.get());
    parsed = reader.Parse<rapidjson::kParseDefaultFlags>(stream, builder);
  } else {
    rapidjson::InsituStringStream stream(copy.get());
    parsed =
        reader.Parse<rapidjson::kParseDefaultFlags | rapidjson::kParseInsituFlag>(stream, builder);
  }
  if (parsed.IsError()) {
    std::string message = "Error: ";
    if (builder.depth_exceeded()) {
      message +=
          "Arrays and objects nest deeper than " + std::to_string(kMaxJsonDepth) + " levels.";
    } else {
      message += JsonErrorText(parsed.Code());
    }
    message += " at offset ";
    message += std::to_string(parsed.Offset());
    message += '.';
    fail(result, message);
  }
  return result;
}

}  // namespace

void WalkValue(const BindingValue& value, BindingValueSink& sink) { Walk(value, sink); }

BindingConversionResult parseJson(const char* text) { return parseJson(text, {}); }

BindingConversionResult parseJson(const char* text,
                                  std::span<const std::string_view> kept_members) {
  if (text == nullptr) return BindingConversionResult();  // no body reads like an empty one
  return kept_members.empty() ? ParseJson<false>(text, {}) : ParseJson<true>(text, kept_members);
}

BindingConversionResult parseJson(std::string_view text,
                                  std::span<const std::string_view> kept_members) {
  if (text.empty()) return BindingConversionResult();  // blank, like an empty terminated text
  const void* nul = std::memchr(text.data(), '\0', text.size());
  if (nul != nullptr) text = text.substr(0, static_cast<const char*>(nul) - text.data());
  return kept_members.empty() ? ParseJson<false>(text, {}) : ParseJson<true>(text, kept_members);
}

std::string toJson(const BindingValue& value, const BindingTypeRegistry* registry,
                   std::string_view line_ending) {
  if (value.isEmpty()) return std::string();
  if (line_ending.empty()) {
    JsonTextWriter<false> writer(registry);
    writer.Write(value);
    return std::string(writer.text());
  }
  JsonTextWriter<true> writer(registry);
  writer.Write(value);
  const std::string_view pretty = writer.text();
  if (line_ending == "\n") return std::string(pretty);
  // The writer never puts a raw line feed inside a string, so every one of them ends a line.
  std::string converted;
  converted.reserve(pretty.size() + pretty.size() / 8 * line_ending.size());
  std::size_t line_start = 0;
  for (std::size_t feed = pretty.find('\n'); feed != std::string_view::npos;
       feed = pretty.find('\n', line_start)) {
    converted.append(pretty.substr(line_start, feed - line_start));
    converted.append(line_ending);
    line_start = feed + 1;
  }
  converted.append(pretty.substr(line_start));
  return converted;
}

}  // namespace binding
