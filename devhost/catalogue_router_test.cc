#include "devhost/catalogue_router.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "devhost/test_catalogue.h"

namespace devhost {
namespace {

class CatalogueRouterTest : public ::testing::Test {
 protected:
  ApiAnswer Call(std::string method, std::string path, std::string query = "",
                 std::string type = "", std::string body = "") {
    ApiRequest request;
    request.method = std::move(method);
    request.path = std::move(path);
    request.query = std::move(query);
    request.content_type = std::move(type);
    request.body = std::move(body);
    request.headers = {{"x-probe", "seen"}};
    return router_.Handle(request);
  }
  void TearDown() override { EXPECT_EQ(devhost_test::OutstandingEchoResponses(), 0); }

  CatalogueRouter router_{devhost_test::EchoCatalogue()};
};

TEST_F(CatalogueRouterTest, DispatchesToTheEndpointThatServesMethodAndPathAndAnswersForIt) {
  const std::tuple<ApiAnswer, int, const char*> rows[] = {
      {Call("GET", "/items"), 200,
       R"({"method":2,"path":"/items","query":{},"body":"","type":"","probe":"seen"})"},
      {Call("GET", "/items/a%20b", "verbose&filter.items.3=7&name=x%2By"), 200,
       R"({"method":2,"path":"/items/a%20b","query":{"verbose":"","filter.items.3":"7",)"
       R"("name":"x+y"},"body":"","type":"","probe":"seen"})"},
      {Call("POST", "/items", "", "application/x-yaml", "name: x\n"), 200,
       R"({"method":6,"path":"/items","query":{},"body":"name: x\n",)"
       R"("type":"application/x-yaml","probe":"seen"})"},
      {Call("DELETE", "/items/7"), 204, ""},
      {Call("GET", "/fail"), 404, R"({"httpStatus":404,"message":"Item not found."})"},
      {Call("GET", "/broken"), 400,
       R"({"httpStatus":400,"message":"Unsupported body content type"})"},
      {Call("GET", "/raw/a/b"), 200, "chunk-1chunk-2"},
      {Call("GET", "/nothing"), 404,
       R"({"httpStatus":404,"message":"No endpoint serves /nothing."})"},
      {Call("PUT", "/items"), 405,
       R"({"httpStatus":405,"message":"No endpoint serves PUT on /items."})"},
      {Call("BREW", "/items"), 405,
       R"({"httpStatus":405,"message":"No endpoint serves BREW on /items."})"},
  };
  for (const auto& [answer, status, body] : rows) {
    EXPECT_EQ(answer.status, status) << body;
    EXPECT_EQ(answer.body, body);
  }
  EXPECT_EQ(std::get<0>(rows[0]).content_type, "application/json");
}

TEST(MethodCode, KnowsTheStandardMethodsAndCallsTheRestCustom) {
  // GET, POST and DELETE are exercised by the router's tests above.
  EXPECT_EQ(MethodCode("OPTIONS"), kHostMethodOptions);
  EXPECT_EQ(MethodCode("get"), kHostMethodCustom);
  EXPECT_EQ(MethodCode("BREW"), kHostMethodCustom);
}

TEST(ErrorBody, KeepsWellFormedUtf8AndReplacesEveryOtherByte) {
  struct Row {
    std::string_view message;
    std::string_view json_message;
  };
  const Row rows[] = {
      {"plain", "plain"},
      // The last code points before and the first after the surrogates, and the very last.
      {"\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf", "\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82"},
      {"a\xff"
       "b",
       "a\xef\xbf\xbd"
       "b"},                                                     // never a lead byte
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},                  // overlong "/"
      {"\xe2\x82", "\xef\xbf\xbd\xef\xbf\xbd"},                  // cut short
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // a surrogate
      {"\xf4\x90\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // past U+10FFFF
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.message));
    EXPECT_EQ(ErrorBody(404, row.message),
              "{\"httpStatus\":404,\"message\":\"" + std::string(row.json_message) + "\"}");
  }
}

}  // namespace
}  // namespace devhost
