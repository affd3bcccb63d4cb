#include "binding/message_pack_reader.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "logging/positional_formatter.h"

namespace binding {
namespace {

// What the first byte of an encoded value announces.
enum class ByteClass : std::uint8_t {
  kPositiveFixint,
  kFixmap,
  kFixarray,
  kFixstr,
  kNil,
  kFalse,
  kTrue,
  kBin8,
  kBin16,
  kBin32,
  kFloat32,
  kFloat64,
  kUint8,
  kUint16,
  kUint32,
  kUint64,
  kInt8,
  kInt16,
  kInt32,
  kInt64,
  kStr8,
  kStr16,
  kStr32,
  kArray16,
  kArray32,
  kMap16,
  kMap32,
  kNegativeFixint,
  // 0xC1 (never used) and the extension types, which no body of ours carries.
  kUnsupported,
};

constexpr std::array<ByteClass, 256> MakeByteClasses() {
  std::array<ByteClass, 256> classes{};
  for (int byte = 0; byte < 256; ++byte) {
    ByteClass c = ByteClass::kUnsupported;
    if (byte <= 0x7F) {
      c = ByteClass::kPositiveFixint;
    } else if (byte <= 0x8F) {
      c = ByteClass::kFixmap;
    } else if (byte <= 0x9F) {
      c = ByteClass::kFixarray;
    } else if (byte <= 0xBF) {
      c = ByteClass::kFixstr;
    } else if (byte >= 0xE0) {
      c = ByteClass::kNegativeFixint;
    }
    classes[byte] = c;
  }
  classes[0xC0] = ByteClass::kNil;
  classes[0xC2] = ByteClass::kFalse;
  classes[0xC3] = ByteClass::kTrue;
  classes[0xC4] = ByteClass::kBin8;
  classes[0xC5] = ByteClass::kBin16;
  classes[0xC6] = ByteClass::kBin32;
  classes[0xCA] = ByteClass::kFloat32;
  classes[0xCB] = ByteClass::kFloat64;
  classes[0xCC] = ByteClass::kUint8;
  classes[0xCD] = ByteClass::kUint16;
  classes[0xCE] = ByteClass::kUint32;
  classes[0xCF] = ByteClass::kUint64;
  classes[0xD0] = ByteClass::kInt8;
  classes[0xD1] = ByteClass::kInt16;
  classes[0xD2] = ByteClass::kInt32;
  classes[0xD3] = ByteClass::kInt64;
  classes[0xD9] = ByteClass::kStr8;
  classes[0xDA] = ByteClass::kStr16;
  classes[0xDB] = ByteClass::kStr32;
  classes[0xDC] = ByteClass::kArray16;
  classes[0xDD] = ByteClass::kArray32;
  classes[0xDE] = ByteClass::kMap16;
  classes[0xDF] = ByteClass::kMap32;
  return classes;
}

constexpr std::array<ByteClass, 256> kByteClasses = MakeByteClasses();

template <typename T>
T FromBigEndian(T value) {
  if constexpr (std::endian::native == std::endian::big || sizeof(T) == 1) {
    return value;
  } else if constexpr (sizeof(T) == 2) {
    return __builtin_bswap16(value);
  } else if constexpr (sizeof(T) == 4) {
    return __builtin_bswap32(value);
  } else {
    return __builtin_bswap64(value);
  }
}

class MessagePackReader {
 public:
  MessagePackReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {
    frames_.reserve(16);
  }

  MessagePackReadResult Read() {
    // About one distinct text per 32 bytes, as for JSON: the string table is sized once.
    read_.result.value.reserveTexts(std::min<std::size_t>(size_ / 32, 4096));
    frames_.emplace_back(&read_.result.value);
    while (read_.result.ok && position_ < size_ && SelectTarget()) ReadOne();
    // Input that ended inside maps leaves them as read so far, in key order like every other;
    // inner ones first, since ordering a map moves its entries.
    if (read_.result.ok) {
      for (std::size_t i = frames_.size(); i-- > 0;) {
        if (frames_[i].state == FrameState::kStructure) {
          frames_[i].value->sortFields(BindingValue::RepeatedKeys::kKeepLastNonEmpty, Memo(i));
        }
      }
    }
    read_.consumed = position_;
    return std::move(read_);
  }

 private:
  enum class FrameState : std::uint8_t { kValue, kCollection, kStructure };

  // One open value. A frame's value is a child of the frame below it, which does not change while
  // this frame is open, so the pointer stays valid.
  struct Frame {
    explicit Frame(BindingValue* target) : value(target) {}

    BindingValue* value;
    FrameState state = FrameState::kValue;
    std::string_view key;  // the last key read, pointing into the input
    std::uint64_t index = 0;
    std::uint64_t count = 0;  // entries expected; twice the pair count for a map
  };

  // Walks the frames down to the value the next type byte belongs to. False when the top-level
  // value is complete.
  bool SelectTarget() {
    expecting_key_ = false;
    while (!frames_.empty()) {
      Frame& top = frames_.back();
      if (top.state == FrameState::kValue) return true;
      if (top.index == top.count) {
        if (top.state == FrameState::kStructure) {
          top.value->sortFields(BindingValue::RepeatedKeys::kKeepLastNonEmpty,
                                Memo(frames_.size() - 1));
        }
        frames_.pop_back();
        continue;
      }
      if (top.state == FrameState::kCollection) {
        BindingValue* element = &top.value->appendElement();
        ++top.index;
        frames_.emplace_back(element);
        return true;
      }
      if (top.index % 2 == 0) {
        ++top.index;
        expecting_key_ = true;
        return true;
      }
      // Pairs are appended as they come and put in key order when the map is complete; a
      // repeated key followed by nil keeps the value it had.
      BindingValue* field = &top.value->appendFieldUnsorted(top.key, Memo(frames_.size() - 1));
      ++top.index;
      frames_.emplace_back(field);
      return true;
    }
    return false;
  }

  void ReadOne() {
    const std::uint8_t type = data_[position_++];
    const ByteClass byte_class = kByteClasses[type];
    if (expecting_key_) {
      ReadKey(type, byte_class);
      return;
    }
    BindingValue& value = *frames_.back().value;
    switch (byte_class) {
      case ByteClass::kPositiveFixint:
        value.setSigned(type);
        break;
      case ByteClass::kNegativeFixint:
        value.setSigned(static_cast<std::int8_t>(type));
        break;
      case ByteClass::kNil:
        // A repeated map key followed by nil keeps the value the key had.
        break;
      case ByteClass::kFalse:
        value.setBool(false);
        break;
      case ByteClass::kTrue:
        value.setBool(true);
        break;
      case ByteClass::kFixstr:
        ReadString(value, type & 0x1F);
        break;
      case ByteClass::kStr8:
        ReadSizedString<std::uint8_t>(value);
        break;
      case ByteClass::kStr16:
        ReadSizedString<std::uint16_t>(value);
        break;
      case ByteClass::kStr32:
        ReadSizedString<std::uint32_t>(value);
        break;
      case ByteClass::kBin8:
        ReadSizedBlob<std::uint8_t>(value);
        break;
      case ByteClass::kBin16:
        ReadSizedBlob<std::uint16_t>(value);
        break;
      case ByteClass::kBin32:
        ReadSizedBlob<std::uint32_t>(value);
        break;
      case ByteClass::kFloat32: {
        std::uint32_t bits;
        if (ReadNumber(bits)) value.setFloat(std::bit_cast<float>(bits));
        break;
      }
      case ByteClass::kFloat64: {
        std::uint64_t bits;
        if (ReadNumber(bits)) value.setFloat(std::bit_cast<double>(bits));
        break;
      }
      case ByteClass::kUint8:
        ReadInteger<std::uint8_t, std::uint8_t>(value);
        break;
      case ByteClass::kUint16:
        ReadInteger<std::uint16_t, std::uint16_t>(value);
        break;
      case ByteClass::kUint32:
        ReadInteger<std::uint32_t, std::uint32_t>(value);
        break;
      case ByteClass::kUint64:
        ReadInteger<std::uint64_t, std::uint64_t>(value);
        break;
      case ByteClass::kInt8:
        ReadInteger<std::uint8_t, std::int8_t>(value);
        break;
      case ByteClass::kInt16:
        ReadInteger<std::uint16_t, std::int16_t>(value);
        break;
      case ByteClass::kInt32:
        ReadInteger<std::uint32_t, std::int32_t>(value);
        break;
      case ByteClass::kInt64:
        ReadInteger<std::uint64_t, std::int64_t>(value);
        break;
      case ByteClass::kFixarray:
        OpenContainer(FrameState::kCollection, type & 0x0F);
        return;
      case ByteClass::kArray16:
        OpenSizedContainer<std::uint16_t>(FrameState::kCollection);
        return;
      case ByteClass::kArray32:
        OpenSizedContainer<std::uint32_t>(FrameState::kCollection);
        return;
      case ByteClass::kFixmap:
        OpenContainer(FrameState::kStructure, type & 0x0F);
        return;
      case ByteClass::kMap16:
        OpenSizedContainer<std::uint16_t>(FrameState::kStructure);
        return;
      case ByteClass::kMap32:
        OpenSizedContainer<std::uint32_t>(FrameState::kStructure);
        return;
      case ByteClass::kUnsupported:
      default:
        Fail(logging::FormatPositional("Invalid MessagePack data at position %1.", {position_}));
        return;
    }
    if (read_.result.ok) frames_.pop_back();
  }

  void ReadKey(std::uint8_t type, ByteClass byte_class) {
    std::uint64_t length = 0;
    switch (byte_class) {
      case ByteClass::kFixstr:
        length = type & 0x1F;
        break;
      case ByteClass::kStr8:
        if (!ReadLength<std::uint8_t>(length)) return;
        break;
      case ByteClass::kStr16:
        if (!ReadLength<std::uint16_t>(length)) return;
        break;
      case ByteClass::kStr32:
        if (!ReadLength<std::uint32_t>(length)) return;
        break;
      default:
        Fail(logging::FormatPositional(
            "Invalid MessagePack data at position %1. Map keys must be strings.", {position_}));
        return;
    }
    if (!HasPayload(length,
                    "Invalid MessagePack data. String of size %1 at position %2 is truncated."))
      return;
    frames_.back().key = std::string_view(reinterpret_cast<const char*>(data_ + position_), length);
    position_ += length;
  }

  // Fixed-size big-endian read at the current position.
  template <typename T>
  bool ReadNumber(T& out) {
    if (size_ - position_ < sizeof(T)) {
      constexpr const char* kTruncated[] = {
          "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.",
          "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.",
          "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.",
          "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.",
      };
      constexpr int kIndex = sizeof(T) == 1 ? 0 : sizeof(T) == 2 ? 1 : sizeof(T) == 4 ? 2 : 3;
      Fail(logging::FormatPositional(kTruncated[kIndex], {position_}));
      return false;
    }
    T raw;
    std::memcpy(&raw, data_ + position_, sizeof(T));
    position_ += sizeof(T);
    out = FromBigEndian(raw);
    return true;
  }

  template <typename Raw, typename Stored>
  void ReadInteger(BindingValue& value) {
    Raw raw;
    if (!ReadNumber(raw)) return;
    if constexpr (std::is_signed_v<Stored>) {
      value.setSigned(static_cast<Stored>(raw));
    } else {
      value.setUnsigned(raw);
    }
  }

  template <typename T>
  bool ReadLength(std::uint64_t& length) {
    T raw;
    if (!ReadNumber(raw)) return false;
    length = raw;
    return true;
  }

  bool HasPayload(std::uint64_t length, const char* truncated_format) {
    if (length <= size_ - position_) return true;
    Fail(logging::FormatPositional(truncated_format, {length, position_}));
    return false;
  }

  void ReadString(BindingValue& value, std::uint64_t length) {
    if (!HasPayload(length,
                    "Invalid MessagePack data. String of size %1 at position %2 is truncated.")) {
      return;
    }
    // Bytes are taken as they are: the body's producer owns their encoding.
    value.setString(std::string_view(reinterpret_cast<const char*>(data_ + position_), length));
    position_ += length;
  }

  template <typename T>
  void ReadSizedString(BindingValue& value) {
    std::uint64_t length;
    if (ReadLength<T>(length)) ReadString(value, length);
  }

  template <typename T>
  void ReadSizedBlob(BindingValue& value) {
    std::uint64_t length;
    if (!ReadLength<T>(length)) return;
    if (!HasPayload(
            length,
            "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.")) {
      return;
    }
    value.setBlob(std::span<const std::uint8_t>(data_ + position_, length));
    position_ += length;
  }

  template <typename T>
  void OpenSizedContainer(FrameState state) {
    std::uint64_t count;
    if (ReadLength<T>(count)) OpenContainer(state, count);
  }

  void OpenContainer(FrameState state, std::uint64_t count) {
    // The stack holds one frame per open container plus the one being read.
    if (frames_.size() > kMaxMessagePackDepth) {
      Fail(logging::FormatPositional(
          "Invalid MessagePack data at position %1. Containers nested deeper than %2 levels are "
          "not supported.",
          {position_, kMaxMessagePackDepth}));
      return;
    }
    Frame& frame = frames_.back();
    BindingValue& value = *frame.value;
    // A repeated map key holding a container is replaced as a whole, like a scalar would be.
    if (!value.isEmpty()) value.clear();
    // Every entry takes at least one byte, so the counts a hostile header announces never reserve
    // more than the input could fill.
    const std::uint64_t remaining = size_ - position_;
    if (state == FrameState::kCollection) {
      value.reserve(count < remaining ? count : remaining);
      frame.count = count;
    } else {
      const std::uint64_t pairs_possible = remaining / 2;
      value.reserveFields(count < pairs_possible ? count : pairs_possible);
      frame.count = count * 2;
    }
    frame.state = state;
  }

  void Fail(const std::string& message) { fail(read_.result, message); }

  // Maps at one depth tend to share a shape (the records of an array), so each of the first few
  // depths remembers the last map completed there.
  BindingFieldMemo* Memo(std::size_t depth) {
    return depth < kMemoDepths ? &memos_[depth] : nullptr;
  }

  static constexpr std::size_t kMemoDepths = 4;

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  bool expecting_key_ = false;
  MessagePackReadResult read_;
  std::vector<Frame> frames_;
  // Declared after the result: their references to its keys go first.
  BindingFieldMemo memos_[kMemoDepths];
};

}  // namespace

MessagePackReadResult parseMessagePack(const void* data, std::size_t size) {
  return MessagePackReader(static_cast<const std::uint8_t*>(data), size).Read();
}

}  // namespace binding
