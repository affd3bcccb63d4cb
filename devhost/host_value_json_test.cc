#include "devhost/host_value_json.h"

#include <gtest/gtest.h>

#include <string>

namespace devhost {
namespace {

TEST(HostValueJson, StoredDocumentsComeBackAsTheyWent) {
  const char* const documents[] = {
      R"(null)",
      R"(true)",
      R"(-42)",
      R"(18446744073709551615)",
      R"(1.5)",
      R"("line\nbreak \"quoted\" \\ tab\t")",
      R"([])",
      R"({})",
      R"({"install-identifier":"0a1b","kount":{"merchant":"m1"},"list":[1,"two",[false,null]]})",
  };
  for (const char* document : documents) {
    SCOPED_TRACE(document);
    std::string error;
    std::optional<OwnedHostValue> value = OwnedHostValue::ParseJson(document, error);
    ASSERT_TRUE(value) << error;
    EXPECT_EQ(HostValueToJson(value->record()), document);
  }
}

TEST(HostValueJson, RejectsWhatIsNotOneDocument) {
  for (const char* text : {"", "{", "[1,]", "1 2"}) {
    SCOPED_TRACE(text);
    std::string error;
    EXPECT_FALSE(OwnedHostValue::ParseJson(text, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(HostValueJson, WritesBytesAsBase64AndSkipsAbsentEntries) {
  const std::uint8_t bytes[] = {0xff, 0x00, 'a', 'b'};
  HostValue blob{};
  blob.kind = kHostValueOwnedBytes;
  blob.payload.bytes.data = bytes;
  blob.payload.bytes.length = sizeof bytes;
  HostValue text{};
  text.kind = kHostValueText;
  text.payload.text.data = "abcdef";
  text.payload.text.length = 3;  // the length wins over the NUL
  HostObjectEntry entries[3] = {};
  entries[0].key = "blob";
  entries[0].value = blob;
  entries[0].present = 1;
  entries[1].key = "gone";
  entries[1].value = text;
  entries[1].present = 0;
  entries[2].key = "text";
  entries[2].value = text;
  entries[2].present = 1;
  HostValue object{};
  object.kind = kHostValueObject;
  object.payload.object.entries = entries;
  object.payload.object.count = 3;
  EXPECT_EQ(HostValueToJson(object), R"({"blob":"/wBhYg==","text":"abc"})");
}

// Lists and objects of texts built by the host are read back by the event hub's and host
// operations' tests; what those never build is an empty list or an empty text.
TEST(HostValueJson, BuildsEmptyTextListsAndTexts) {
  EXPECT_EQ(HostValueToJson(OwnedHostValue::TextList({}).record()), "[]");
  EXPECT_EQ(HostValueToJson(OwnedHostValue::TextList({""}).record()), R"([""])");
}

}  // namespace
}  // namespace devhost
