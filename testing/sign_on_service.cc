#include "testing/sign_on_service.h"

#include "testing/compact_token.h"

namespace ulix_testing {

std::string ServiceToken(std::string_view payload_json) {
  return MakeToken(R"({"alg":"RS256","typ":"JWT"})", payload_json, "signature");
}

std::string AccessTokenFor(std::string_view subject) {
  return ServiceToken(std::string(R"({"exp":1900000000,"scp":["openid","kiv"],"sub":")") +
                      std::string(subject) + R"(","dat":{"r":"NA1","u":123456}})");
}

std::string IdTokenText() { return ServiceToken(R"({"exp":1900000100,"tag":["ent1","ent2"]})"); }

std::string ConfigToken() {
  return ServiceToken(R"({"aud":"https://jwt.test/token","sub":"jwt-client"})");
}

FakeHost::HttpAnswer TokenReply(std::string_view access_token, int expires_in, bool with_id_token,
                                bool with_refresh_token) {
  std::string body = "{\"access_token\":\"" + std::string(access_token) + "\"";
  if (with_id_token) body += ",\"id_token\":\"" + IdTokenText() + "\"";
  if (with_refresh_token) body += ",\"refresh_token\":\"refresh/1\"";
  body += ",\"expires_in\":" + std::to_string(expires_in) + "}";
  return {0, 200, std::move(body)};
}

std::string DiscoveryBody() {
  return R"({"vorn_kiv_regions_supported":["NA1","EUW1"],"vorn_kiv_regions_disabled":["EUW1"],)"
         R"("vorn_kiv_userinfo_regions_enabled":["NA1"],"vorn_did_uri":"https://did.test/frame",)"
         R"("userinfo_endpoint":"https://auth.test/userinfo"})";
}

FakeHost::HttpAnswer GoodAnswer(const std::string& url, std::string_view token_suffix) {
  if (url == kDiscoveryUrl) return {0, 200, DiscoveryBody()};
  if (url == kTokenUrl) return TokenReply(AccessTokenFor() + std::string(token_suffix));
  if (url == kUserInfoUrl) return {0, 200, R"({"sub":"player-1","acct":{"game_name":"ann"}})"};
  return {0, 200, "{}"};
}

FakeValue RegionSettings() {
  return FakeValue::Object({
      {"allow_lq_fallback", FakeValue::Bool(true)},
      {"client", FakeValue::Text("pc-client")},
      {"url", FakeValue::Text(kServiceUrl)},
      {"kount", FakeValue::Object({{"merchant", FakeValue::Text("m-1")}})},
  });
}

void ScriptRegion(FakeHost& host) {
  host.ScriptResource("/vornclient/command-line-args", FakeValue::Array({}));
  host.ScriptResource("/vornclient/region-locale",
                      FakeValue::Object({{"region", FakeValue::Text("NA1")}}));
  host.ScriptResource(kRegionSettingsPath, RegionSettings());
}

}  // namespace ulix_testing
