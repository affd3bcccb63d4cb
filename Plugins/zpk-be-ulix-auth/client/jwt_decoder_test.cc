#include "Plugins/zpk-be-ulix-auth/client/jwt_decoder.h"

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

// "<class> <message>" of what Read raises for `text` ("scan", "parse" or "plain" for the
// reader's base class), or "none". An error leaves the object as it was.
std::string ReadRaises(std::string_view text) {
  Object object;
  try {
    Reader::Read(text, object);
    return "none";
  } catch (const json::Exception& e) {
    EXPECT_TRUE(object.empty()) << "members left behind";
    const char* kind = dynamic_cast<const Reader::ScanException*>(&e)    ? "scan "
                       : dynamic_cast<const Reader::ParseException*>(&e) ? "parse "
                                                                         : "plain ";
    return kind + std::string(e.what());
  }
}

TEST(ClaimReader, RaisesEachErrorWithItsClassAndMessage) {
  struct Row {
    std::string text;
    std::string kind;
    std::string message;
  };
  const Row rows[] = {
      // clang-format off
      {R"({"a": @})", "scan", "Unexpected character in stream: @"},
      {R"({"a": tru})", "scan", "Expected string: true"},
      {R"({"a": nul})", "scan", "Expected string: null"},
      {R"({"a": fals})", "scan", "Expected string: false"},
      {R"({"a": "x\q"})", "scan", R"(Unrecognized escape sequence found in string: \q)"},
      // The whole text is scanned first: a lexical error wins over an earlier syntax error.
      {R"({"a" 1 $)", "scan", "Unexpected character in stream: $"},
      {R"({"a": 1)", "parse", "Unexpected End of token stream"},
      {R"({"a":)", "parse", "Unexpected end of token stream"},
      {R"({"a")", "parse", "Unexpected End of token stream"},
      {"", "parse", "Unexpected End of token stream"},
      {R"(["a"])", "parse", "Unexpected token: ["},
      {R"({"a" 1})", "parse", "Unexpected token: 1"},
      {R"({"a": 1 "b": 2})", "parse", "Unexpected token: b"},
      {R"({"a": ]})", "parse", "Unexpected token: ]"},
      {R"({1: 2})", "parse", "Unexpected token: 1"},
      {R"({"a": [1 2]})", "parse", "Unexpected token: 2"},
      {R"({"a": 1-2})", "parse", "Unexpected character in NUMBER token: -"},
      {R"({"a": 1.2.3})", "parse", "Unexpected character in NUMBER token: ."},
      {R"({"a": -})", "parse", "Unexpected character in NUMBER token: -"},
      {R"({} {})", "parse", "Expected End of token stream; found {"},
      {R"({"a": 1, "a": 2})", "plain", "Object member already exists: a"},
      // Objects and arrays nest up to the limit, and no deeper.
      {"{\"a\": " + std::string(200, '[') + std::string(200, ']') + "}", "none", ""},
      {"{\"a\": " + std::string(300, '[') + std::string(300, ']') + "}", "parse",
       "Nesting too deep"},
      {R"({"a": {"b": [true, false, null, "s", -1.5e2, {}]}})", "none", ""},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text.substr(0, 40));
    const std::string raised = ReadRaises(row.text);
    EXPECT_EQ(raised, row.kind == "none" ? "none" : row.kind + " " + row.message);
  }
}

TEST(ClaimReader, ResolvesEscapesButKeepsUnicodeEscapesAsWritten) {
  Object object;
  Reader::Read(R"({"s": "q\" b\\ s\/ \b\f\n\r\t \u0041"})", object);
  EXPECT_EQ(object["s"].AsString(), "q\" b\\ s/ \b\f\n\r\t \\u0041");
}

TEST(ClaimReader, StopsAtTheFirstZeroByte) {
  Object object;
  Reader::Read(std::string_view("{\"a\": 1}\0 garbage", 17), object);
  EXPECT_EQ(object["a"].AsNumber(), 1);
}

TEST(ClaimAccess, MissingOrMistypedClaimsReadAsNeutralValues) {
  Object object;
  Reader::Read(R"({"n": "12", "s": 5, "o": [1], "a": [1, "x"]})", object);
  EXPECT_EQ(object["n"].AsNumber(), 0);
  EXPECT_EQ(object["s"].AsString(), "");
  EXPECT_TRUE(object["o"].AsObject().empty());
  EXPECT_EQ(object["missing"].kind(), Element::Kind::kNull);
  EXPECT_EQ(object.size(), 5u);  // the missing member was appended as null
  Element& a = object["a"];
  ASSERT_TRUE(a.IsArray());
  ASSERT_EQ(a.ArraySize(), 2u);
  EXPECT_EQ(a.At(1).AsString(), "x");
  EXPECT_EQ(a.At(0).AsString(), "");  // replaced in place
  EXPECT_EQ(a.At(0).kind(), Element::Kind::kString);
}

TEST(JwtDecoder, DecodesSegmentsThatNeedNoneOneOrTwoPaddingCharacters) {
  // Payload texts of 7, 6 and 8 bytes give segments of 10, 8 and 11 characters: two, none and
  // one padding character short.
  const std::string payloads[] = {R"({"a":1})", R"({"":1})", R"({"ab":1})"};
  for (const std::string& payload : payloads) {
    SCOPED_TRACE(payload);
    JwtDecoder decoder(ulix_testing::MakeToken(R"({"alg":"RS256"})", payload));
    Object claims = decoder.PayloadClaims();
    EXPECT_EQ(claims.size(), 1u);
    EXPECT_EQ(claims.members()[0].element.number(), 1);
    EXPECT_EQ(Object(decoder.HeaderClaims())["alg"].AsString(), "RS256");
  }
}

TEST(JwtDecoder, ReadsUrlSafeCharactersAsTheStandardOnes) {
  // "?>>" encodes to "Pz4+" in the standard alphabet and "Pz4-" in the URL-safe one.
  JwtDecoder decoder("e30." + wire::Base64UrlEncode(R"({"s":"?>>?"})") + ".Pz4-");
  EXPECT_EQ(Object(decoder.PayloadClaims())["s"].AsString(), "?>>?");
  EXPECT_EQ(decoder.CryptoText(), "?>>");
}

TEST(JwtDecoder, MarksMissingEmptyOrUnscannableSegmentsAsErrors) {
  struct Row {
    std::string token;
    bool header_error;
    bool payload_error;
    std::string_view crypto;
  };
  const std::string payload = wire::Base64UrlEncode(R"({"sub":"p"})");
  const Row rows[] = {
      {"", true, true, kNoCryptoSegment},
      {"e30", false, true, kNoCryptoSegment},
      {"e30.", false, true, kNoCryptoSegment},
      {"." + payload, true, false, kNoCryptoSegment},
      {"e30." + payload + ".", false, false, kNoCryptoSegment},
      {"e30." + payload + ".YWJj.extra", false, false, "abc"},
      {wire::Base64UrlEncode("#") + "." + wire::Base64UrlEncode("{\"a\": @}"), true, true,
       kNoCryptoSegment},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.token);
    JwtDecoder decoder(row.token);
    Object header = decoder.HeaderClaims();
    Object claims = decoder.PayloadClaims();
    EXPECT_EQ(header.Find("error") != nullptr, row.header_error);
    EXPECT_EQ(claims.Find("error") != nullptr, row.payload_error);
    if (row.payload_error) {
      EXPECT_EQ(claims.size(), 1u);
      EXPECT_TRUE(claims["error"].boolean());
    }
    EXPECT_EQ(decoder.CryptoText(), row.crypto);
  }
}

TEST(JwtDecoder, RaisesSyntaxErrorsOfThePayloadToItsCaller) {
  for (const char* payload : {R"({"a": 1)", "[1]"}) {
    JwtDecoder decoder(ulix_testing::MakeToken("{}", payload));
    EXPECT_THROW(decoder.PayloadClaims(), Reader::ParseException) << payload;
  }
  JwtDecoder repeated(ulix_testing::MakeToken("{}", R"({"a": 1, "a": 1})"));
  try {
    repeated.PayloadClaims();
    ADD_FAILURE() << "no exception";
  } catch (const json::Exception& e) {
    EXPECT_EQ(dynamic_cast<const Reader::ParseException*>(&e), nullptr) << "not a syntax error";
    EXPECT_STREQ(e.what(), "Object member already exists: a");
  }
}

TEST(JwtDecoder, DecodesOnceAndCopiesAreTheCallers) {
  JwtDecoder decoder(ulix_testing::MakeToken("{}", R"({"sub":"p","exp":5})"));
  Object first = decoder.PayloadClaims();
  first["added"] = Element::Boolean(true);  // changes the copy only
  Object second = decoder.PayloadClaims();
  EXPECT_EQ(second.Find("added"), nullptr);
  EXPECT_EQ(second, decoder.PayloadClaims());
  EXPECT_EQ(second["exp"].AsNumber(), 5);
}

TEST(TokenClaims, AccessTokenClaimsWithTheirFallbacks) {
  const AccessTokenClaims full = ReadAccessTokenClaims(ulix_testing::MakeToken(
      "{}", R"({"exp": 1700000000.9, "scp": ["openid", 7, "kiv"], "sub": "player",)"
            R"( "dat": {"u": 4242, "r": "EUW1"}})"));
  EXPECT_EQ(full.expiry, 1700000000);
  EXPECT_EQ(full.scopes, (std::vector<std::string>{"openid", "", "kiv"}));
  EXPECT_EQ(full.subject, "player");
  EXPECT_EQ(full.currentAccountId, 4242);
  EXPECT_EQ(full.currentPlatformId, "EUW1");

  const AccessTokenClaims odd = ReadAccessTokenClaims(ulix_testing::MakeToken(
      "{}", R"({"exp": "1700000000", "scp": "openid kiv", "sub": 3, "dat": [1]})"));
  EXPECT_EQ(odd.expiry, 0);
  EXPECT_TRUE(odd.scopes.empty());
  EXPECT_EQ(odd.subject, "");
  EXPECT_EQ(odd.currentAccountId, 0);
  EXPECT_EQ(odd.currentPlatformId, "");

  const AccessTokenClaims huge =
      ReadAccessTokenClaims(ulix_testing::MakeToken("{}", R"({"exp": -1e300})"));
  EXPECT_EQ(huge.expiry, std::numeric_limits<std::int64_t>::min());

  const AccessTokenClaims broken = ReadAccessTokenClaims("not a token");
  EXPECT_EQ(broken.expiry, 0);
  EXPECT_EQ(broken.subject, "");
}

TEST(TokenClaims, IdTokenAndClientAssertionClaims) {
  const IdTokenClaims id =
      ReadIdTokenClaims(ulix_testing::MakeToken("{}", R"({"exp": 99, "tag": ["a", "b"]})"));
  EXPECT_EQ(id.expiry, 99);
  EXPECT_EQ(id.entitlements, (std::vector<std::string>{"a", "b"}));

  const ClientAssertionClaims assertion = ReadClientAssertionClaims(
      ulix_testing::MakeToken("{}", R"({"aud": "https://auth.example/token", "sub": "client"})"));
  EXPECT_EQ(assertion.audience, "https://auth.example/token");
  EXPECT_EQ(assertion.subject, "client");

  const ClientAssertionClaims array_audience = ReadClientAssertionClaims(
      ulix_testing::MakeToken("{}", R"({"aud": ["https://a"], "sub": "c"})"));
  EXPECT_EQ(array_audience.audience, "");
}

}  // namespace
}  // namespace ulix_auth
