#include "Plugins/zpk-be-ulix-auth/client/jwt_decoder.h"

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "Plugins/zpk-be-ulix-auth/client/claim_reader.h"
#include "Plugins/zpk-be-ulix-auth/client/token_claims.h"
#include "gtest/gtest.h"
#include "testing/compact_token.h"

namespace ulix_auth {
namespace {

using json::Element;
using json::Object;
using json::Reader;
using ulix_testing::MakeToken;

// "<class> <message>" of what `run` raises ("scan", "parse", or "plain" for the reader's base
// class), or "none".
std::string Raised(const std::function<void()>& run) {
  try {
    run();
    return "none";
  } catch (const json::Exception& e) {
    const char* kind = dynamic_cast<const Reader::ScanException*>(&e)    ? "scan "
                       : dynamic_cast<const Reader::ParseException*>(&e) ? "parse "
                                                                         : "plain ";
    return kind + std::string(e.what());
  }
}

Object Parsed(std::string_view text) {
  Object object;
  Reader::Read(text, object);
  return object;
}

TEST(ClaimReader, RaisesEachErrorWithItsClassAndMessageAndLeavesTheObjectAsItWas) {
  const std::pair<std::string, std::string> rows[] = {
      // clang-format off
      {R"({"a": @})", "scan Unexpected character in stream: @"},
      {R"({"a": tru})", "scan Expected string: true"},
      {R"({"a": nul})", "scan Expected string: null"},
      {R"({"a": fals})", "scan Expected string: false"},
      {R"({"a": "x\q"})", R"(scan Unrecognized escape sequence found in string: \q)"},
      // The whole text is scanned first: a lexical error wins over an earlier syntax error.
      {R"({"a" 1 $)", "scan Unexpected character in stream: $"},
      {R"({"a": 1)", "parse Unexpected End of token stream"},
      {R"({"a":)", "parse Unexpected end of token stream"},
      {R"({"a")", "parse Unexpected End of token stream"},
      {"", "parse Unexpected End of token stream"},
      {R"(["a"])", "parse Unexpected token: ["},
      {R"({"a" 1})", "parse Unexpected token: 1"},
      {R"({"a": 1 "b": 2})", "parse Unexpected token: b"},
      {R"({"a": ]})", "parse Unexpected token: ]"},
      {R"({1: 2})", "parse Unexpected token: 1"},
      {R"({"a": [1 2]})", "parse Unexpected token: 2"},
      {R"({"a": 1-2})", "parse Unexpected character in NUMBER token: -"},
      {R"({"a": 1.2.3})", "parse Unexpected character in NUMBER token: ."},
      {R"({"a": -})", "parse Unexpected character in NUMBER token: -"},
      {R"({} {})", "parse Expected End of token stream; found {"},
      {R"({"a": 1, "a": 2})", "plain Object member already exists: a"},
      // Objects and arrays nest up to 256 levels, the outer object the first, and no deeper.
      {"{\"a\": " + std::string(255, '[') + std::string(255, ']') + "}", "none"},
      {"{\"a\": " + std::string(256, '[') + std::string(256, ']') + "}", "parse Nesting too deep"},
      {R"({"a": {"b": [true, false, null, "s", -1.5e2, {}]}})", "none"},
      // clang-format on
  };
  for (const auto& [text, raised] : rows) {
    Object object;
    EXPECT_EQ(Raised([&] { Reader::Read(text, object); }), raised) << text.substr(0, 40);
    if (raised != "none") {
      EXPECT_TRUE(object.empty()) << "members left behind";
    }
  }
}

TEST(ClaimReader, ReadsEscapesUpToAZeroByteAndMistypedClaimsAsNeutralValuesInPlace) {
  Object object;
  const std::string text = R"({"s": "q\" b\\ s\/ \b\f\n\r\t \u0041", "n": "12", "t": 5,)"
                           R"( "o": [1], "a": [1, "x"]})";
  Reader::Read(text + std::string("\0 garbage", 9), object);
  EXPECT_EQ(object["s"].AsString(), "q\" b\\ s/ \b\f\n\r\t \\u0041");  // \u kept as written
  EXPECT_EQ(object["n"].AsNumber(), 0);
  EXPECT_EQ(object["t"].AsString(), "");
  EXPECT_TRUE(object["o"].AsObject().empty());
  EXPECT_EQ(object["a"].At(0).AsString(), "");
  EXPECT_EQ(object["missing"].kind(), Element::Kind::kNull);
  object["s"] = Element();
  EXPECT_EQ(object,
            Parsed(R"({"s": null, "n": 0, "t": "", "o": {}, "a": ["", "x"], "missing": null})"));
}

TEST(JwtDecoder, DecodesEachSegmentOrMarksItAsAnError) {
  const std::string payload = wire::Base64UrlEncode(R"({"sub":"p"})");
  const std::string error = R"({"error": true})", none(kNoCryptoSegment);
  const struct {
    std::string token, header, payload, crypto;
  } rows[] = {
      // Payloads of 7, 6 and 8 bytes: segments two, none and one padding character short.
      {MakeToken(R"({"alg":"RS256"})", R"({"a":1})"), R"({"alg":"RS256"})", R"({"a":1})", "sig"},
      {MakeToken("{}", R"({"":1})"), "{}", R"({"":1})", "sig"},
      {MakeToken("{}", R"({"ab":1})"), "{}", R"({"ab":1})", "sig"},
      // "?>>" is "Pz4+" in the standard alphabet and "Pz4-" in the URL-safe one.
      {"e30." + wire::Base64UrlEncode(R"({"s":"?>>?"})") + ".Pz4-", "{}", R"({"s":"?>>?"})", "?>>"},
      {"", error, error, none},
      {"e30", "{}", error, none},
      {"e30.", "{}", error, none},
      {"." + payload, error, R"({"sub":"p"})", none},
      {"e30." + payload + ".", "{}", R"({"sub":"p"})", none},
      {"e30." + payload + ".YWJj.extra", "{}", R"({"sub":"p"})", "abc"},
      {wire::Base64UrlEncode("#") + "." + wire::Base64UrlEncode("{\"a\": @}"), error, error, none},
  };
  for (const auto& row : rows) {
    JwtDecoder decoder(row.token);
    EXPECT_EQ(decoder.HeaderClaims(), Parsed(row.header)) << row.token;
    EXPECT_EQ(decoder.PayloadClaims(), Parsed(row.payload)) << row.token;
    EXPECT_EQ(decoder.CryptoText(), row.crypto) << row.token;
  }
}

TEST(JwtDecoder, RaisesPayloadErrorsThatScanToItsCallerAndDecodesOnceForCopies) {
  for (const auto& [payload, raised] : std::vector<std::pair<std::string, std::string>>{
           {R"({"a": 1)", "parse Unexpected End of token stream"},
           {"[1]", "parse Unexpected token: ["},
           {R"({"a": 1, "a": 1})", "plain Object member already exists: a"}}) {
    JwtDecoder decoder(MakeToken("{}", payload));
    EXPECT_EQ(Raised([&] { decoder.PayloadClaims(); }), raised);
  }
  JwtDecoder decoder(MakeToken("{}", R"({"sub":"p","exp":5})"));
  Object first = decoder.PayloadClaims();
  first["added"] = Element::Boolean(true);  // changes the copy only
  EXPECT_EQ(decoder.PayloadClaims(), Parsed(R"({"sub":"p","exp":5})"));
}

TEST(TokenClaims, EachTokenKindReadsItsClaimsWithTheirFallbacks) {
  const auto access = [](const std::string& payload) {
    const AccessTokenClaims claims = ReadAccessTokenClaims(MakeToken("{}", payload));
    std::string scopes;
    for (const std::string& scope : claims.scopes) scopes += "," + scope;
    return std::to_string(claims.expiry) + " " + claims.subject + " " + claims.currentPlatformId +
           " " + std::to_string(claims.currentAccountId) + " [" + scopes + "]";
  };
  EXPECT_EQ(access(R"({"exp": 1700000000.9, "scp": ["openid", 7, "kiv"], "sub": "player",)"
                   R"( "dat": {"u": 4242, "r": "EUW1"}})"),
            "1700000000 player EUW1 4242 [,openid,,kiv]");
  EXPECT_EQ(access(R"({"exp": "1700000000", "scp": "openid kiv", "sub": 3, "dat": [1]})"),
            "0   0 []");
  EXPECT_EQ(access(R"({"exp": -1e300})"),
            std::to_string(std::numeric_limits<std::int64_t>::min()) + "   0 []");
  EXPECT_EQ(ReadAccessTokenClaims("not a token").expiry, 0);

  const IdTokenClaims id = ReadIdTokenClaims(MakeToken("{}", R"({"exp": 99, "tag": ["a", "b"]})"));
  EXPECT_EQ(id.expiry, 99);
  EXPECT_EQ(id.entitlements, (std::vector<std::string>{"a", "b"}));

  const ClientAssertionClaims assertion = ReadClientAssertionClaims(
      MakeToken("{}", R"({"aud": "https://auth.example/token", "sub": "client"})"));
  EXPECT_EQ(assertion.audience + " " + assertion.subject, "https://auth.example/token client");
  EXPECT_EQ(ReadClientAssertionClaims(MakeToken("{}", R"({"aud": ["https://a"]})")).audience, "");
}

}  // namespace
}  // namespace ulix_auth
