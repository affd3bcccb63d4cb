#include "Plugins/zpk-be-ulix-auth/client/token_claims.h"

#include <cmath>
#include <limits>
#include <utility>

#include "Plugins/zpk-be-ulix-auth/client/jwt_decoder.h"

namespace ulix_auth {
namespace {

// Claims are doubles; a cast of one outside the 64-bit range is undefined, and the text comes
// from the network.
std::int64_t TruncateToInt64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (value < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

// Reads without the copy and the in-place conversions of the tolerant access, giving what it
// would give: 0, "" or nothing for a claim that is missing or of another kind.
double NumberOf(const json::Object& claims, std::string_view name) {
  const json::Element* claim = claims.Find(name);
  return claim != nullptr && claim->kind() == json::Element::Kind::kNumber ? claim->number() : 0;
}

std::string StringOf(const json::Element* claim) {
  return claim != nullptr && claim->kind() == json::Element::Kind::kString ? claim->string()
                                                                           : std::string();
}

// Every element as a string ("" for one that is not), or nothing when `claim` is no array.
std::vector<std::string> StringsOf(const json::Element* claim) {
  std::vector<std::string> strings;
  if (claim == nullptr || !claim->IsArray()) return strings;
  strings.reserve(claim->ArraySize());
  for (std::size_t i = 0; i < claim->ArraySize(); ++i) strings.push_back(StringOf(&claim->At(i)));
  return strings;
}

}  // namespace

AccessTokenClaims ReadAccessTokenClaims(std::string token) {
  JwtDecoder decoder(std::move(token));
  const json::Object& claims = decoder.PayloadClaims();
  AccessTokenClaims read;
  read.expiry = TruncateToInt64(NumberOf(claims, "exp"));
  read.scopes = StringsOf(claims.Find("scp"));
  read.subject = StringOf(claims.Find("sub"));
  const json::Element* dat = claims.Find("dat");
  if (dat != nullptr && dat->kind() == json::Element::Kind::kObject) {
    read.currentAccountId = TruncateToInt64(NumberOf(dat->object(), "u"));
    read.currentPlatformId = StringOf(dat->object().Find("r"));
  }
  return read;
}

IdTokenClaims ReadIdTokenClaims(std::string token) {
  JwtDecoder decoder(std::move(token));
  const json::Object& claims = decoder.PayloadClaims();
  IdTokenClaims read;
  read.expiry = TruncateToInt64(NumberOf(claims, "exp"));
  read.entitlements = StringsOf(claims.Find("tag"));
  return read;
}

ClientAssertionClaims ReadClientAssertionClaims(std::string token) {
  JwtDecoder decoder(std::move(token));
  const json::Object& claims = decoder.PayloadClaims();
  ClientAssertionClaims read;
  read.audience = StringOf(claims.Find("aud"));
  read.subject = StringOf(claims.Find("sub"));
  return read;
}

}  // namespace ulix_auth
