#include "devhost/openapi_document.h"

#include <gtest/gtest.h>

#include <string>

#include "devhost/test_catalogue.h"
#include "rapidjson/document.h"
#include "rapidjson/pointer.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"

namespace devhost {
namespace {

class OpenApiDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string text =
        BuildOpenApiDocument(devhost_test::EchoCatalogue(), "echo", "2.5.1", "http://127.0.0.1:1");
    document_.Parse(text.c_str());
    ASSERT_FALSE(document_.HasParseError()) << text;
  }
  // Compact JSON at a JSON pointer ("" when absent).
  std::string At(const char* pointer) {
    const rapidjson::Value* value = rapidjson::Pointer(pointer).Get(document_);
    if (value == nullptr) return "";
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value->Accept(writer);
    return buffer.GetString();
  }
  rapidjson::Document document_;
};

TEST_F(OpenApiDocumentTest, DescribesEachEndpointUnderItsPathAndMethod) {
  EXPECT_EQ(At("/openapi"), R"("3.1.0")");
  EXPECT_EQ(At("/info"), R"({"title":"echo","version":"2.5.1"})");
  EXPECT_EQ(At("/paths/~1items/get/operationId"), R"("GetItems")");
  EXPECT_EQ(At("/paths/~1items/post/operationId"), R"("PostItems")");
  EXPECT_EQ(At("/paths/~1items~1{id}/get/parameters"),
            R"([{"name":"id","in":"path","required":true,"description":"Item id",)"
            R"("schema":{"type":"string"}}])");
  EXPECT_EQ(At("/paths/~1items/post/requestBody/content/application~1json/schema"),
            R"({"$ref":"#/components/schemas/EchoItem"})");
  EXPECT_EQ(At("/paths/~1items~1{id}/delete/responses/204/description"), R"("Done")");
  EXPECT_EQ(At("/paths/~1items~1{id}/get/responses/200/content/application~1json/schema"),
            R"({"$ref":"#/components/schemas/EchoItem"})");
  // A rest-of-path parameter is an ordinary one to OpenAPI.
  EXPECT_NE(At("/paths/~1raw~1{rest}/get"), "");
  EXPECT_EQ(At("/paths/~1fail/get/tags"), R"(["Plugins","Plugin echo"])");
}

TEST_F(OpenApiDocumentTest, DescribesTypesFromTheirRecords) {
  EXPECT_EQ(At("/components/schemas/EchoItem/properties"),
            R"({"name":{"type":"string"},"count":{"type":"integer","minimum":0,"format":"int64"},)"
            R"("colour":{"$ref":"#/components/schemas/EchoColour"},)"
            R"("labels":{"type":"array","items":{"type":"string"}}})");
  EXPECT_EQ(At("/components/schemas/EchoColour/enum"), R"(["Blue","Red"])");
  EXPECT_EQ(At("/components/securitySchemes/secret/scheme"), R"("bearer")");
}

TEST(OpenApiDocument, DropsOneTrailingSlashWritesEveryParameterPlainAndNamesSchemasSafely) {
  EXPECT_EQ(OpenApiPath("/items/{id}/"), "/items/{id}");
  EXPECT_EQ(OpenApiPath("/raw/{+rest}"), "/raw/{rest}");
  EXPECT_EQ(OpenApiPath("/x/{#frag}"), "/x/{frag}");
  EXPECT_EQ(OpenApiPath("/"), "/");
  EXPECT_EQ(SchemaName("UlixAuthAuthorization"), "UlixAuthAuthorization");
  EXPECT_EQ(SchemaName("Vorn::Client Event"), "Vorn__Client_Event");
  EXPECT_EQ(SchemaName(""), "_");
}

}  // namespace
}  // namespace devhost
