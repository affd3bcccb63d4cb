// Reads the claims of a compact signed token (header.payload.signature) without verifying it:
// the access and id tokens of the sign-on service and the client assertion given as
// configuration. The signature segment is decoded and kept, never checked.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_JWT_DECODER_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_JWT_DECODER_H_

#include <string>
#include <string_view>
#include <vector>

#include "Plugins/zpk-be-ulix-auth/client/claim_reader.h"

namespace ulix_auth {

// The crypto text of a token without a third segment.
inline constexpr std::string_view kNoCryptoSegment = "NO_VALID_CRYPTO_SEGMENT_FOUND_IN_TOKEN";

// One token and its decoded parts. Decoding runs at the first claim access and its result is
// reused afterwards. A missing or empty segment, or one whose text fails to scan, reads as
// claims holding only "error" = true. A segment that scans but does not parse raises
// json::Reader::ParseException (or json::Exception for a repeated member name) from the access
// that decodes; the decoder stays undecoded then. Not thread-safe; one user at a time.
class JwtDecoder {
 public:
  explicit JwtDecoder(std::string token);

  // The payload claims, valid while the decoder lives. The tolerant access adds the members it
  // reads, so a caller that reads that way takes a copy.
  const json::Object& PayloadClaims();
  // The header claims, likewise.
  const json::Object& HeaderClaims();
  // The decoded third segment, or kNoCryptoSegment.
  const std::string& CryptoText();

  const std::string& token() const { return token_; }

 private:
  void Decode();

  std::string token_;
  std::vector<std::string> segments_;
  std::string header_text_;
  std::string payload_text_;
  std::string crypto_text_;
  json::Object payload_claims_;
  json::Object header_claims_;
  bool decoded_ = false;
  // The signature is never checked, so its segment is decoded only when someone asks for it.
  bool crypto_decoded_ = false;
};

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_JWT_DECODER_H_
