// What the plug-in declares to the host: its eleven records and nineteen functions, read back
// from the registry the catalogue is built from.
#include "Plugins/zpk-be-ulix-auth/api_records.h"

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "testing/plugin_test_host.h"

namespace ulix_auth {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
using ulix_testing::PluginTestHost;

TEST(ApiRecords, RegistersElevenRecordsAndNineteenFunctions) {
  PluginTestHost test;
  test.Start();
  binding::BindingTypeRegistry& registry = test.plugin().typeRegistry();
  // A second registration changes nothing of what is read back below.
  RegisterApiRecords(registry, "UlixAuth", {"Plugins"});
  // "Name(field, field?, ...)" with "?" after a field marked optional.
  std::vector<std::string> records;
  for (const binding::BindingTypeDescriptor* type : registry.typeSnapshot()) {
    if (!type->name.starts_with("UlixAuth")) continue;
    std::string text;
    for (const binding::BindingFieldDescriptor& field : type->fields) {
      text += (text.empty() ? "" : ", ") + field.name + (field.optional != 0 ? "?" : "");
    }
    records.push_back(type->name + "(" + text + ")");
    EXPECT_THAT(type->tags, ElementsAre("Plugins", "Plugin ulix-auth")) << type->name;
  }
  EXPECT_THAT(records,
              UnorderedElementsAre(
                  "UlixAuthAuthorization(currentPlatformId, currentAccountId, subject)",
                  "UlixAuthRegionStatus(platformId, enabled, isLQFallbackAllowed, "
                  "isUserInfoEnabled)",
                  "UlixAuthAccessToken(token, scopes, expiry)",
                  "UlixAuthEntitlementsToken(token, entitlements, expiry)",
                  "UlixAuthIdToken(token, expiry)",
                  "UlixAuthULIXPlayerCredentials(username, password, platformId)",
                  "UlixAuthULIXJWTConfig(token?)",
                  "UlixAuthDeviceId(collectorServerName, merchantId, sessionId, installId, "
                  "frameUrl)",
                  "UlixAuthAuthError(error, errorDescription)",
                  "UlixAuthPublicClientConfig(url, clientId)", "UlixAuthUserInfo(userInfo)"));

  // The functions, named from method and path, with their arguments' locations.
  std::vector<std::string> functions;
  for (const binding::BindingFunctionDescriptor* function : registry.functionSnapshot()) {
    if (function->name.find("UlixAuth") == std::string::npos) continue;
    std::string text = function->name + "(";
    for (const binding::BindingArgumentDescriptor& argument : function->arguments) {
      text += argument.name + "@" + std::to_string(argument.location);
    }
    functions.push_back(text + ")");
  }
  EXPECT_THAT(
      functions,
      UnorderedElementsAre(
          "GetUlixAuthV1Authorization()", "GetUlixAuthV1AuthorizationError()",
          "GetUlixAuthV1AuthorizationAccessToken()",
          "GetUlixAuthV1AuthorizationEntitlementsToken()", "GetUlixAuthV1AuthorizationIdToken()",
          "GetUlixAuthV1AuthorizationGasToken()", "PostUlixAuthV1AuthorizationGas(creds@5)",
          "PostUlixAuthV1AuthorizationRefresh()", "DeleteUlixAuthV1Authorization()",
          "GetUlixAuthV1ConfigByPlatformId(platformId@2)",
          "GetUlixAuthV1StatusByPlatformId(platformId@2)", "PostUlixAuthV1Config(config@5)",
          "PutUlixAuthV1Config(config@5)", "DeleteUlixAuthV1Config()",
          "PostUlixAuthV2Config(config@5)", "DeleteUlixAuthV2Config()", "PostUlixAuthV1DeviceId()",
          "PostUlixAuthV1AuthorizationUserinfo()", "GetUlixAuthV1AuthorizationUserinfo()"));
}

}  // namespace
}  // namespace ulix_auth
