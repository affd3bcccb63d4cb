#include "devhost/host_value_json.h"

#include <gtest/gtest.h>

#include <string>

namespace devhost {
namespace {

TEST(HostValueJson, StoredDocumentsComeBackAsTheyWentAndWhatIsNotOneDocumentIsRefused) {
  for (
      const char* document :
      {"null", "true", "-42", "18446744073709551615", "1.5", R"("line\nbreak \"quoted\" \\ tab\t")",
       "[]", "{}",
       R"({"install-identifier":"0a1b","kount":{"merchant":"m1"},"list":[1,"two",[false,null]]})"}) {
    std::string error;
    const std::optional<OwnedHostValue> value = OwnedHostValue::ParseJson(document, error);
    ASSERT_TRUE(value) << error;
    EXPECT_EQ(HostValueToJson(value->record()), document);
  }
  for (const char* text : {"", "{", "[1,]", "1 2"}) {
    std::string error;
    EXPECT_FALSE(OwnedHostValue::ParseJson(text, error)) << text;
    EXPECT_NE(error, "") << text;
  }
}

TEST(HostValueJson, WritesBytesAsBase64SkipsAbsentEntriesAndBuildsEmptyTextsAndLists) {
  const std::uint8_t bytes[] = {0xff, 0x00, 'a', 'b'};
  const HostValue blob{.kind = kHostValueOwnedBytes, .payload = {.bytes = {bytes, sizeof bytes}}};
  // The length wins over the NUL.
  const HostValue text{.kind = kHostValueText, .payload = {.text = {"abcdef", 3}}};
  HostObjectEntry entries[] = {{"blob", blob, 1}, {"gone", text, 0}, {"text", text, 1}};
  const HostValue object{.kind = kHostValueObject, .payload = {.object = {entries, 3}}};
  EXPECT_EQ(HostValueToJson(object), R"({"blob":"/wBhYg==","text":"abc"})");
  // Lists and objects of texts are read back by the event hub's and host operations' tests;
  // what those never build is an empty list or an empty text.
  EXPECT_EQ(HostValueToJson(OwnedHostValue::TextList({}).record()), "[]");
  EXPECT_EQ(HostValueToJson(OwnedHostValue::TextList({""}).record()), R"([""])");
}

}  // namespace
}  // namespace devhost
