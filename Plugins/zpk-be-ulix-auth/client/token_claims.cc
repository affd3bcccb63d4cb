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

// Every element as a string ("" for one that is not), or nothing when `claim` is no array.
std::vector<std::string> StringsOf(json::Element& claim) {
  std::vector<std::string> strings;
  if (!claim.IsArray()) return strings;
  strings.reserve(claim.ArraySize());
  for (std::size_t i = 0; i < claim.ArraySize(); ++i) strings.push_back(claim.At(i).AsString());
  return strings;
}

}  // namespace

AccessTokenClaims ReadAccessTokenClaims(std::string token) {
  JwtDecoder decoder(std::move(token));
  json::Object claims = decoder.PayloadClaims();
  AccessTokenClaims read;
  read.expiry = TruncateToInt64(claims["exp"].AsNumber());
  read.scopes = StringsOf(claims["scp"]);
  read.subject = claims["sub"].AsString();
  json::Object& dat = claims["dat"].AsObject();
  read.currentAccountId = TruncateToInt64(dat["u"].AsNumber());
  read.currentPlatformId = dat["r"].AsString();
  return read;
}

IdTokenClaims ReadIdTokenClaims(std::string token) {
  JwtDecoder decoder(std::move(token));
  json::Object claims = decoder.PayloadClaims();
  IdTokenClaims read;
  read.expiry = TruncateToInt64(claims["exp"].AsNumber());
  read.entitlements = StringsOf(claims["tag"]);
  return read;
}

ClientAssertionClaims ReadClientAssertionClaims(std::string token) {
  JwtDecoder decoder(std::move(token));
  json::Object claims = decoder.PayloadClaims();
  ClientAssertionClaims read;
  read.audience = claims["aud"].AsString();
  read.subject = claims["sub"].AsString();
  return read;
}

}  // namespace ulix_auth
