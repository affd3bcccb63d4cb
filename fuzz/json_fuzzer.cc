// Arbitrary bytes as a JSON body: no crash, leak or stack exhaustion; every failure has a message.
// The same bytes read as a counted text (not terminated: the reader must stop at their end)
// keeping only a few members of the root must fail or succeed alike, with the same message, and
// keep those members exactly as the whole parse has them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "binding/json_bridge.h"
#include "fuzz/padded_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::PaddedText text(data, size);
  binding::BindingConversionResult result = binding::parseJson(text.c_str());
  if (result.ok == 0 && binding::errorText(result).empty()) std::abort();

  static constexpr std::string_view kKept[] = {"a", "b", "uri", "regions"};
  binding::BindingConversionResult kept =
      binding::parseJson(std::string_view(reinterpret_cast<const char*>(data), size), kKept);
  if (kept.ok != result.ok || binding::errorText(kept) != binding::errorText(result)) std::abort();
  if (result.ok == 0) return 0;
  if (!result.value.isStructure()) {
    if (!(kept.value == result.value)) std::abort();
    return 0;
  }
  for (std::string_view name : kKept) {
    if (!(kept.value.field(name) == result.value.field(name))) std::abort();
  }
  return 0;
}
