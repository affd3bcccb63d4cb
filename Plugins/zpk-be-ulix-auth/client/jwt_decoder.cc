#include "Plugins/zpk-be-ulix-auth/client/jwt_decoder.h"

#include <utility>

#include "wire/base64.h"

namespace ulix_auth {
namespace {

// Reads `text` into `claims`; text that does not scan marks the claims as an error instead.
// Syntax errors go to the caller.
void ReadClaims(const std::string& text, json::Object& claims) {
  try {
    json::Reader::Read(text, claims);
  } catch (const json::Reader::ScanException&) {
    claims["error"] = json::Element::Boolean(true);
  }
}

}  // namespace

JwtDecoder::JwtDecoder(std::string token) : token_(std::move(token)) {}

const json::Object& JwtDecoder::PayloadClaims() {
  Decode();
  return payload_claims_;
}

const json::Object& JwtDecoder::HeaderClaims() {
  Decode();
  return header_claims_;
}

const std::string& JwtDecoder::CryptoText() {
  Decode();
  if (!crypto_decoded_) {
    if (segments_.size() >= 3 && !segments_[2].empty()) {
      crypto_text_ = wire::Base64UrlDecode(segments_[2]);
    } else {
      crypto_text_ = kNoCryptoSegment;
    }
    crypto_decoded_ = true;
  }
  return crypto_text_;
}

void JwtDecoder::Decode() {
  if (decoded_) return;
  // A decoding that raised part way may have filled some parts; start again from nothing.
  segments_.clear();
  header_text_.clear();
  payload_text_.clear();
  crypto_text_.clear();
  crypto_decoded_ = false;
  header_claims_ = json::Object();
  payload_claims_ = json::Object();

  // Every "." splits, so empty pieces stay: "a..b" has three segments, "" has one.
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = token_.find('.', start);
    if (dot == std::string::npos) {
      segments_.emplace_back(token_, start);
      break;
    }
    segments_.emplace_back(token_, start, dot - start);
    start = dot + 1;
  }

  if (segments_[0].empty()) {
    header_claims_["error"] = json::Element::Boolean(true);
  } else {
    header_text_ = wire::Base64UrlDecode(segments_[0]);
    ReadClaims(header_text_, header_claims_);
  }

  if (segments_.size() >= 2 && !segments_[1].empty()) {
    payload_text_ = wire::Base64UrlDecode(segments_[1]);
    ReadClaims(payload_text_, payload_claims_);
  } else {
    payload_claims_["error"] = json::Element::Boolean(true);
  }

  decoded_ = true;
}

}  // namespace ulix_auth
