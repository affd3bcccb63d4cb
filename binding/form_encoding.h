// Form encoding of request bodies ("application/x-www-form-urlencoded") as the sign-on service
// expects it, and the split of such a body into its pairs.
#ifndef BINDING_FORM_ENCODING_H_
#define BINDING_FORM_ENCODING_H_

#include <string>
#include <string_view>

namespace binding {

// Keeps "A".."Z", "a".."z", "0".."9", "-", "_", ".", "~"; every other byte becomes "%" and two
// upper-case hexadecimal digits (a blank is "%20", never "+").
std::string FormEncode(std::string_view text);
// As FormEncode, appended to `out`.
void AppendFormEncoded(std::string_view text, std::string& out);

// The value of the first pair named `name` (wire::SplitPairs), escapes left as they are, or
// empty.
std::string_view FormValue(std::string_view body, std::string_view name);

}  // namespace binding

#endif  // BINDING_FORM_ENCODING_H_
