// The sign-on plug-in's configuration sources with arbitrary command lines, region settings and
// configuration bodies, driven through the fake host and the endpoint records: no crash, no leak,
// every failure names its cause. The command line and the region settings are read when the
// plug-in starts, so each input starts (and stops) a plug-in of its own.
//
// Input: NUL-separated fields: command-line arguments (one per line), the region settings as
// JSON, a body for POST /ulix-auth/v1/config, a body for POST /ulix-auth/v2/config.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"
#include "binding/json_bridge.h"
#include "fuzz/ulix_auth_fuzz_host.h"
#include "testing/endpoint_chooser.h"
#include "testing/fake_host.h"

namespace fuzz {
namespace {

using ulix_testing::FakeValue;

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator, start)) {
    pieces.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

FakeValue ToFake(const binding::BindingValue& value, int depth = 0) {
  using binding::BindingValueKind;
  if (depth > 16) return FakeValue();
  switch (value.kind()) {
    case BindingValueKind::kBool:
      return FakeValue::Bool(value.getBool());
    case BindingValueKind::kSigned:
      return FakeValue::Signed(value.getSigned());
    case BindingValueKind::kUnsigned:
      return FakeValue::Unsigned(value.getUnsigned());
    case BindingValueKind::kFloat:
      return FakeValue::Double(value.getFloat());
    case BindingValueKind::kString:
      return FakeValue::Text(std::string(value.getString()));
    case BindingValueKind::kCollection: {
      std::vector<FakeValue> items;
      for (const binding::BindingValue& item : value.elements()) {
        items.push_back(ToFake(item, depth + 1));
      }
      return FakeValue::Array(std::move(items));
    }
    case BindingValueKind::kStructure: {
      std::vector<std::pair<std::string, FakeValue>> entries;
      for (const binding::BindingStructureEntry& entry : value.fields()) {
        entries.emplace_back(std::string(entry.key()), ToFake(entry.value(), depth + 1));
      }
      return FakeValue::Object(std::move(entries));
    }
    default:
      return FakeValue();
  }
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using fuzz::Send;
  using ulix_testing::FakeValue;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> fields = fuzz::Split(input, '\0');
  fields.resize(4);

  ulix_testing::FakeHost host;
  std::vector<FakeValue> arguments;
  for (std::string_view argument : fuzz::Split(fields[0], '\n')) {
    arguments.push_back(FakeValue::Text(std::string(argument)));
  }
  host.ScriptResource("/vornclient/command-line-args", FakeValue::Array(std::move(arguments)));
  host.ScriptResource("/vornclient/region-locale",
                      FakeValue::Object({{"region", FakeValue::Text("NA1")}}));
  binding::BindingConversionResult settings = binding::parseJson(std::string(fields[1]).c_str());
  if (settings.ok) {
    host.ScriptResource("/data-store/v1/system-settings/region_data/NA1/ulix",
                        fuzz::ToFake(settings.value));
  }
  host.ScriptResource("/data-store/v1/install-settings/ulix-auth", FakeValue::Object({}));

  auto* plugin = new ulix_auth::ULIXAuthPlugin();
  HostInitBlock block{};
  block.major = 18;
  plugin->handshake(&block, ulix_auth::kShortName);
  block.entryTable->start(block.context, host.context());
  host.FireScheduled();
  {
    ulix_testing::EndpointChooser chooser(*block.catalogue);
    Send(chooser, kHostMethodGet, "/ulix-auth/v1/config/NA1");
    Send(chooser, kHostMethodGet, "/ulix-auth/v1/status/NA1");
    Send(chooser, kHostMethodPost, "/ulix-auth/v1/device-id");
    Send(chooser, kHostMethodPost, "/ulix-auth/v1/config", fields[2]);
    Send(chooser, kHostMethodGet, "/ulix-auth/v1/config/NA1");
    Send(chooser, kHostMethodPost, "/ulix-auth/v2/config", fields[3]);
    Send(chooser, kHostMethodGet, "/ulix-auth/v1/status/NA1");
    Send(chooser, kHostMethodDelete, "/ulix-auth/v1/config");
    Send(chooser, kHostMethodPost, "/ulix-auth/v1/authorization/gas",
         R"({"username":"a","password":"b","platformId":"NA1"})");
  }
  block.entryTable->stop(block.context);
  return 0;
}
