#include "wire/base64.h"

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace wire {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// The alphabet and padding; wire_properties_test.cc holds the URL form and the reading back
// to them on any bytes.
TEST(Base64Encode, PadsToWholeGroupsInTheStandardAlphabet) {
  struct Row {
    std::string_view bytes;
    std::string_view padded;
  };
  const Row rows[] = {
      {"foob", "Zm9vYg=="},
      {"\xFB\xFF\xBF", "+/+/"},
      {std::string_view("\0\xFF", 2), "AP8="},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.padded);
    EXPECT_EQ(Base64Encode(Bytes(row.bytes)), row.padded);
  }
  EXPECT_EQ(Base64UrlEncode("\xFB\xFF\xBF"), "-_-_");
}

TEST(Base64UrlDecode, ReadsEitherAlphabetWithOrWithoutPaddingAndStopsSilently) {
  struct Row {
    std::string_view segment;
    std::string_view bytes;
  };
  const Row rows[] = {
      {"Zm9vY", "foo"},  // one spare character gives no byte
      // Padding or a foreign character ends the bytes.
      {"Zm8=Zm9v", "fo"},
      {"Zm9v!Zm9v", "foo"},
      {"Zm9vYm.Fy", "foob"},
      {"Zm\x80v", "f"},
      {"*", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.segment);
    EXPECT_EQ(Base64UrlDecode(row.segment), row.bytes);
  }
}

}  // namespace
}  // namespace wire
