#include "binding/base64.h"

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace binding {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(Base64Encode, PadsToWholeGroups) {
  EXPECT_EQ(Base64Encode(Bytes("")), "");
  EXPECT_EQ(Base64Encode(Bytes("f")), "Zg==");
  EXPECT_EQ(Base64Encode(Bytes("fo")), "Zm8=");
  EXPECT_EQ(Base64Encode(Bytes("foo")), "Zm9v");
  EXPECT_EQ(Base64Encode(Bytes("foob")), "Zm9vYg==");
  EXPECT_EQ(Base64Encode(std::vector<std::uint8_t>{0xFB, 0xFF, 0xBF}), "+/+/");
}

TEST(Base64UrlDecode, ReadsSegmentsWithAndWithoutPadding) {
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
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.segment);
    EXPECT_EQ(Base64UrlDecode(row.segment), row.bytes);
  }
}

TEST(Base64UrlDecode, ReadsUrlSafeCharactersAsTheStandardOnes) {
  EXPECT_EQ(Base64UrlDecode("-_-_"), std::string("\xFB\xFF\xBF"));
  EXPECT_EQ(Base64UrlDecode("-_-_"), Base64UrlDecode("+/+/"));
}

TEST(Base64UrlDecode, StopsSilentlyAtPaddingOrForeignCharacters) {
  EXPECT_EQ(Base64UrlDecode("Zm8=Zm9v"), "fo");
  EXPECT_EQ(Base64UrlDecode("Zm9v!Zm9v"), "foo");
  EXPECT_EQ(Base64UrlDecode("Zm9vYm.Fy"), "foob");
  EXPECT_EQ(Base64UrlDecode("Zm\x80v"), "f");
  EXPECT_EQ(Base64UrlDecode("*"), "");
}

TEST(Base64UrlDecode, KeepsZeroAndHighBytes) {
  EXPECT_EQ(Base64UrlDecode("AP8A"), std::string("\x00\xFF\x00", 3));
}

}  // namespace
}  // namespace binding
