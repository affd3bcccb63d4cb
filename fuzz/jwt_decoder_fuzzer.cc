// Token decoding with any token text: the segments, the lenient base64url reader, the claim
// reader and every claim the client reads from access tokens, id tokens and client assertions.
// A syntax error in the claims is an expected outcome; anything else escaping, a crash, a leak
// or undefined behaviour is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Plugins/zpk-be-ulix-auth/client/claim_reader.h"
#include "Plugins/zpk-be-ulix-auth/client/jwt_decoder.h"
#include "Plugins/zpk-be-ulix-auth/client/token_claims.h"
#include "wire/base64.h"

namespace {

// Reads every element as the callers might, converting in place; depth is bounded by the reader.
void Touch(ulix_auth::json::Element& element) {
  if (element.IsArray()) {
    for (std::size_t i = 0; i < element.ArraySize(); ++i) Touch(element.At(i));
    return;
  }
  if (element.kind() == ulix_auth::json::Element::Kind::kObject) {
    ulix_auth::json::Object copy = element.AsObject();
    for (std::size_t i = 0; i < copy.size(); ++i) {
      ulix_auth::json::Element& member = copy[copy.members()[i].name];
      Touch(member);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string token(reinterpret_cast<const char*>(data), size);

  // The lenient reader never yields more than three bytes per four characters.
  const std::string decoded = wire::Base64UrlDecode(token);
  if (decoded.size() > size / 4 * 3 + 2) std::abort();

  try {
    ulix_auth::JwtDecoder decoder(token);
    ulix_auth::json::Object payload = decoder.PayloadClaims();
    ulix_auth::json::Object again = decoder.PayloadClaims();
    if (!(payload == again)) std::abort();  // decoded once
    ulix_auth::json::Object header = decoder.HeaderClaims();
    (void)decoder.CryptoText();
    for (std::size_t i = 0; i < payload.size(); ++i) {
      ulix_auth::json::Element& member = payload[payload.members()[i].name];
      Touch(member);
    }
    (void)header["alg"].AsString();
  } catch (const ulix_auth::json::Exception&) {
    // A payload or header that scans but does not parse: the caller's to report.
  }
  for (int kind = 0; kind < 3; ++kind) {
    try {
      switch (kind) {
        case 0:
          (void)ulix_auth::ReadAccessTokenClaims(token);
          break;
        case 1:
          (void)ulix_auth::ReadIdTokenClaims(token);
          break;
        default:
          (void)ulix_auth::ReadClientAssertionClaims(token);
      }
    } catch (const ulix_auth::json::Exception&) {
    }
  }
  return 0;
}
