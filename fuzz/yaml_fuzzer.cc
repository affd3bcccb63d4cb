// Arbitrary bytes as a YAML body: no crash, leak, hang or runaway alias expansion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "binding/json_bridge.h"
#include "binding/yaml_bridge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  binding::BindingConversionResult result =
      binding::parseYaml(std::string_view(reinterpret_cast<const char*>(data), size));
  if (result.ok == 0 && binding::errorText(result).empty()) std::abort();
  const std::string json = binding::toJson(result.value);
  (void)json;
  return 0;
}
