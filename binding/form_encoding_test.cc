#include "binding/form_encoding.h"

#include <string>

#include "gtest/gtest.h"

namespace binding {
namespace {

TEST(FormEncoding, KeepsUnreservedBytesEscapesTheRestAndAppendsAfterWhatIsThere) {
  EXPECT_EQ(FormEncode("aZ09-_.~"), "aZ09-_.~");
  EXPECT_EQ(FormEncode("pc|ann a+b"), "pc%7Cann%20a%2Bb");
  std::string body = "password=";
  AppendFormEncoded("p w", body);
  EXPECT_EQ(body, "password=p%20w");
}

TEST(FormValue, IsTheValueOfTheFirstPairOfTheNameEscapesKept) {
  EXPECT_EQ(FormValue("a=1&grant_type=refresh_token&grant_type=x", "grant_type"), "refresh_token");
  EXPECT_EQ(FormValue("a=%20&b", "a"), "%20");
  EXPECT_EQ(FormValue("a=1", "grant_type"), "");
}

}  // namespace
}  // namespace binding
