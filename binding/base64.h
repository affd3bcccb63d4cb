// Base64 in the two shapes the plug-in meets: the standard padded alphabet that blobs are written
// in, and the URL-safe, unpadded segments of signed tokens, which are read leniently.
#ifndef BINDING_BASE64_H_
#define BINDING_BASE64_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace binding {

// Standard alphabet ("A".."Z", "a".."z", "0".."9", "+", "/") with "=" padding to a multiple of
// four characters.
std::string Base64Encode(std::span<const std::uint8_t> bytes);
// As Base64Encode, replacing the content of `out` (its capacity is reused).
void AssignBase64(std::span<const std::uint8_t> bytes, std::string& out);

// Decodes one segment of a compact token: "-" and "_" read as "+" and "/", a length of 2 or 3
// modulo 4 is padded with "==" or "=", and decoding stops silently at the first "=" or the first
// character outside the alphabet, keeping what came before. Never fails; the result is bytes.
std::string Base64UrlDecode(std::string_view segment);

}  // namespace binding

#endif  // BINDING_BASE64_H_
