// Arbitrary bytes as a JSON body: no crash, leak or stack exhaustion; every failure has a message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "binding/json_bridge.h"
#include "fuzz/padded_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::PaddedText text(data, size);
  binding::BindingConversionResult result = binding::parseJson(text.c_str());
  if (result.ok == 0 && binding::errorText(result).empty()) std::abort();
  return 0;
}
