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

TEST(Base64Encode, PadsToWholeGroupsAndTheUrlFormDoesNot) {
  struct Row {
    std::string_view bytes;
    std::string_view padded;
    std::string_view url;
  };
  const Row rows[] = {
      {"", "", ""},
      {"f", "Zg==", "Zg"},
      {"fo", "Zm8=", "Zm8"},
      {"foo", "Zm9v", "Zm9v"},
      {"foob", "Zm9vYg==", "Zm9vYg"},
      {"\xFB\xFF\xBF", "+/+/", "-_-_"},
      {std::string_view("\0\xFF", 2), "AP8=", "AP8"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.padded);
    EXPECT_EQ(Base64Encode(row.bytes), row.padded);
    EXPECT_EQ(Base64Encode(Bytes(row.bytes)), row.padded);
    EXPECT_EQ(Base64UrlEncode(row.bytes), row.url);
    EXPECT_EQ(Base64UrlDecode(row.url), row.bytes);
  }
}

TEST(Base64UrlDecode, ReadsEitherAlphabetWithOrWithoutPaddingAndStopsSilently) {
  struct Row {
    std::string_view segment;
    std::string_view bytes;
  };
  const Row rows[] = {
      {"", ""},
      {"Zm9v", "foo"},       // no padding needed
      {"Zm9vYmE", "fooba"},  // needs "="
      {"Zm9vYg", "foob"},    // needs "=="
      {"Zm9vYg==", "foob"},  // already padded
      {"Zm9vY", "foo"},      // one spare character gives no byte
      {"e30", "{}"},
      {"+/+/", "\xFB\xFF\xBF"},  // the standard alphabet reads too
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
