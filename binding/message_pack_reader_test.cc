#include "binding/message_pack_reader.h"

#include <cstdint>
#include <string>
#include <vector>

#include "binding/json_bridge.h"
#include "gtest/gtest.h"

namespace binding {
namespace {

using Bytes = std::vector<std::uint8_t>;

MessagePackReadResult Read(const Bytes& bytes) {
  return parseMessagePack(bytes.data(), bytes.size());
}

// "Invalid MessagePack data. <what> at position <at> is truncated."
std::string Truncated(const std::string& what, int at, const char* verb = "is") {
  return "Invalid MessagePack data. " + what + " at position " + std::to_string(at) + " " + verb +
         " truncated.";
}

TEST(MessagePackReader, ReadsEveryClassBigEndianOrSaysWhereTheInputIsMalformed) {
  struct Case {
    Bytes bytes;
    std::string text;  // the kind and JSON of what was read, or the failure's message
    std::size_t consumed;
  };
  const std::string not_string_key =
      "Invalid MessagePack data at position 2. Map keys must be strings.";
  const Case cases[] = {
      // Scalars of every class.
      {{0x00}, "signed 0", 1},
      {{0x7F}, "signed 127", 1},
      {{0xE0}, "signed -32", 1},
      {{0xFF}, "signed -1", 1},
      {{0xC2}, "bool false", 1},
      {{0xC3}, "bool true", 1},
      {{0xCC, 0xFF}, "unsigned 255", 2},
      {{0xCD, 0x12, 0x34}, "unsigned 4660", 3},
      {{0xCE, 0xDE, 0xAD, 0xBE, 0xEF}, "unsigned 3735928559", 5},
      {{0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, "unsigned 18446744073709551614", 9},
      {{0xD0, 0x80}, "signed -128", 2},
      {{0xD1, 0xFF, 0x00}, "signed -256", 3},
      {{0xD2, 0x80, 0x00, 0x00, 0x00}, "signed -2147483648", 5},
      {{0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, "signed -9223372036854775808", 9},
      {{0xCA, 0x3F, 0xC0, 0x00, 0x00}, "float 1.5", 5},
      {{0xCB, 0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}, "float 3.141592653589793", 9},
      {{0xA3, 'a', 'b', 'c'}, "string \"abc\"", 4},
      {{0xA0}, "string \"\"", 1},
      {{0xD9, 0x02, 'h', 'i'}, "string \"hi\"", 4},
      {{0xDA, 0x00, 0x01, 'x'}, "string \"x\"", 4},
      {{0xDB, 0x00, 0x00, 0x00, 0x02, 0xC3, 0xA9}, "string \"\xC3\xA9\"", 7},
      {{0xC4, 0x03, 0x00, 0xFF, 0x10}, "blob \"AP8Q\"", 5},
      {{0xC5, 0x00, 0x01, 0x7F}, "blob \"fw==\"", 4},
      {{0xC6, 0x00, 0x00, 0x00, 0x00}, "blob \"\"", 5},
      // Containers.
      {{0x93, 0x01, 0xFF, 0xC0}, "collection [1,-1,null]", 4},
      // {"b": [true], "a": {}} then one byte too many, which the caller must see.
      {{0x82, 0xA1, 'b', 0x91, 0xC3, 0xA1, 'a', 0x80, 0x01}, R"(structure {"a":{},"b":[true]})", 8},
      // 16- and 32-bit headers announce counts the same way as the fixed forms.
      {{0xDC, 0x00, 0x01, 0xDE, 0x00, 0x01, 0xA1, 'k', 0xDD, 0x00, 0x00, 0x00, 0x00},
       R"(collection [{"k":[]}])",
       13},
      // A repeated key replaces containers, but nil keeps the value, next to it or not, in a map
      // that ends with the input or inside an array.
      {{0x84, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x91, 0x03, 0xA1, 'b', 0x01, 0xA1, 'b', 0xC0},
       R"(structure {"a":[3],"b":1})",
       16},
      {{0x92, 0x83, 0xA1, 'b', 0x01, 0xA1, 'a', 0x02, 0xA1, 'b', 0xC0, 0xC3},
       R"(collection [{"a":2,"b":1},true])",
       12},
      // Input that ends inside containers keeps what was read, maps in key order.
      {{}, "empty ", 0},
      {{0x92, 0x01}, "collection [1]", 2},
      {{0x83, 0xA1, 'z', 0x01, 0xA1, 'm', 0x83, 0xA1, 'y', 0x02, 0xA1, 'b', 0x03, 0xA1, 'b'},
       R"(structure {"m":{"b":3,"y":2},"z":1})",
       15},
      // A header announcing four billion elements reserves no more than the input could hold.
      {{0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02}, "collection [1,2]", 7},
      {{0xDF, 0xFF, 0xFF, 0xFF, 0xFF}, "structure {}", 5},
      // Malformed input.
      {{0x81, 0x01, 0x02}, not_string_key, 2},
      {{0x81, 0x90}, not_string_key, 2},
      {{0xCC}, Truncated("8-bit integer value", 1), 1},
      {{0xCD, 0x01}, Truncated("16-bit integer value", 1), 1},
      {{0x91, 0xCA, 0, 0, 0}, Truncated("32-bit integer value", 2), 2},
      {{0xD3, 1, 2, 3, 4, 5, 6, 7}, Truncated("64-bit integer value", 1), 1},
      {{0xDC, 0x00}, Truncated("16-bit integer value", 1), 1},
      {{0xB1, 0x61, 0x62}, Truncated("String of size 17", 1), 1},  // five bits of fixstr length
      {{0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}, Truncated("String of size 4294967295", 5), 5},
      {{0x81, 0xD9, 0x05, 'k'}, Truncated("String of size 5", 3), 3},
      {{0xC4, 0x02, 0x00}, Truncated("Raw bytes of size 2", 2, "are"), 2},
      {{0xD4, 0x00, 0x00}, "Invalid MessagePack data at position 1.", 1},
      {{0x91, 0xC1}, "Invalid MessagePack data at position 2.", 2},
      {{0xC7, 0x01, 0x05, 0x00}, "Invalid MessagePack data at position 1.", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    const MessagePackReadResult read = Read(c.bytes);
    const BindingValue& value = read.result.value;
    EXPECT_EQ(read.result.ok == 1
                  ? std::string(BindingValueKindName(value.kind())) + " " + toJson(value)
                  : std::string(errorText(read.result)),
              c.text);
    EXPECT_EQ(read.consumed, c.consumed);
  }
}

TEST(MessagePackReader, DeepNestingFailsInsteadOfExhaustingTheStack) {
  Bytes deep(100000, 0x91);
  EXPECT_EQ(errorText(Read(deep).result),
            "Invalid MessagePack data at position 513. Containers nested deeper than 512 levels "
            "are not supported.");
  Bytes allowed(512, 0x91);
  allowed.push_back(0xC3);
  EXPECT_EQ(toJson(Read(allowed).result.value),
            std::string(512, '[') + "true" + std::string(512, ']'));
}

}  // namespace
}  // namespace binding
