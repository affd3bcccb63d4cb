// A value parsed from JSON, written compact or pretty and parsed again is the same value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "binding/json_bridge.h"
#include "fuzz/padded_text.h"

namespace {

bool IsNumber(const binding::BindingValue& value) {
  const binding::BindingValueKind kind = value.kind();
  return kind == binding::BindingValueKind::kSigned ||
         kind == binding::BindingValueKind::kUnsigned || kind == binding::BindingValueKind::kFloat;
}

// Equal as JSON can express it. "-0" reads as signed 0 and is written 0, which reads as unsigned 0;
// the reader's default precision may land a long decimal a unit or two away from the double it
// was written from; and infinities have no JSON form.
bool SameAsJson(const binding::BindingValue& a, const binding::BindingValue& b) {
  using binding::BindingValueKind;
  // The reader lets some overflowing numbers through as infinities, which toJson writes as null.
  if (a.kind() == BindingValueKind::kFloat && !std::isfinite(a.getFloat())) return b.isEmpty();
  if (IsNumber(a) && IsNumber(b) && a.kind() != b.kind()) {
    if (a.kind() == BindingValueKind::kFloat || b.kind() == BindingValueKind::kFloat) return false;
    const binding::BindingValue& s = a.kind() == BindingValueKind::kSigned ? a : b;
    const binding::BindingValue& u = a.kind() == BindingValueKind::kSigned ? b : a;
    return s.getSigned() >= 0 && static_cast<std::uint64_t>(s.getSigned()) == u.getUnsigned();
  }
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case BindingValueKind::kFloat: {
      const double x = a.getFloat();
      const double y = b.getFloat();
      if (x == y) return true;
      const double scale = std::fmax(std::fabs(x), std::fabs(y));
      return std::fabs(x - y) <= scale * 1e-14 || std::fabs(x - y) < 1e-300;
    }
    case BindingValueKind::kCollection: {
      if (a.size() != b.size()) return false;
      for (std::size_t i = 0; i < a.size(); ++i) {
        if (!SameAsJson(a.element(i), b.element(i))) return false;
      }
      return true;
    }
    case BindingValueKind::kStructure: {
      if (a.size() != b.size()) return false;
      const auto fields_a = a.fields();
      const auto fields_b = b.fields();
      for (std::size_t i = 0; i < fields_a.size(); ++i) {
        if (fields_a[i].key() != fields_b[i].key()) return false;
        if (!SameAsJson(fields_a[i].value(), fields_b[i].value())) return false;
      }
      return true;
    }
    default:
      return a == b;
  }
}

void CheckRoundTrip(const binding::BindingValue& value, const char* line_ending) {
  const std::string written = binding::toJson(value, nullptr, line_ending);
  const fuzz::PaddedText text(reinterpret_cast<const std::uint8_t*>(written.data()),
                              written.size());
  binding::BindingConversionResult again = binding::parseJson(text.c_str());
  if (again.ok == 0 || !SameAsJson(value, again.value)) {
    std::fprintf(stderr, "round trip changed the value; written: %s\nerror: %s\n", written.c_str(),
                 std::string(binding::errorText(again)).c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::PaddedText text(data, size);
  binding::BindingConversionResult first = binding::parseJson(text.c_str());
  if (first.ok == 0) return 0;
  CheckRoundTrip(first.value, "");
  CheckRoundTrip(first.value, "\r\n");
  return 0;
}
