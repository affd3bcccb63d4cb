// Arbitrary requests to the sign-on plug-in's own endpoints through their dispatch entry, as a
// host sends them: any method, path, query, headers, named values and bodies in every content
// type, with or without a signed-on authorization. No crash, no leak, every failure names its
// cause. One plug-in serves every input; it is signed off and reconfigured after each (see
// fuzz/ulix_auth_fuzz_host.h).
//
// Input: one control byte (bit 0: sign on first), then requests separated by 0x1E. A request:
// three control bytes (endpoint, flags, content type; the content type's bit 7 fires the pending
// callbacks after the request), then NUL-separated fields: path (used as is when it starts with
// '/', otherwise it fills every "{parameter}" of the endpoint's template), header name, header
// value, named value name, named value text, body.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/ulix_auth_fuzz_host.h"
#include "wire/route_pattern.h"

namespace fuzz {
namespace {

const char* const kContentTypes[] = {nullptr,
                                     "application/json",
                                     "Application/VND.API+JSON; charset=utf-8",
                                     "application/x-yaml",
                                     "application/x-msgpack",
                                     "application/x-www-form-urlencoded",
                                     "text/plain",
                                     ""};

std::string FillTemplate(std::string_view path_template, std::string_view value) {
  std::string path;
  wire::ScanTemplate(
      path_template, [&path](char c) { path += c; },
      [&path, value](char, std::string_view) { path += value; });
  return path;
}

// Sends one request; true when the pending callbacks are to run after it. Firing them after
// every request would refresh a signed-on authorization once per request, which took two thirds
// of an input's time and reaches nothing a few firings do not.
bool SendOne(SignOnFuzzHost& host, std::string_view input) {
  if (input.size() < 3) return false;
  const auto& endpoints = host.chooser().endpoints();
  const CatalogueEndpoint* endpoint =
      endpoints[static_cast<unsigned char>(input[0]) % endpoints.size()];
  const unsigned flags = static_cast<unsigned char>(input[1]);
  const char* content_type =
      kContentTypes[static_cast<unsigned char>(input[2]) % std::size(kContentTypes)];
  std::vector<std::string> fields(6);
  std::size_t field = 0;
  for (std::size_t i = 3; i < input.size(); ++i) {
    if (input[i] == '\0' && field + 1 < fields.size()) {
      ++field;
    } else {
      fields[field].push_back(input[i]);
    }
  }
  const std::string path =
      fields[0].starts_with('/') ? fields[0] : FillTemplate(endpoint->pathTemplate, fields[0]);
  const std::vector<HostHeaderPair> headers{{fields[1].c_str(), fields[2].c_str()},
                                            {"Authorization", fields[2].c_str()}};
  HostValue value{};
  value.kind = kHostValueText;
  value.payload.text.data = fields[4].c_str();
  value.payload.text.length = static_cast<std::uint32_t>(fields[4].size());
  if (flags & 0x80) value = HostValue{};  // a named value without one
  const std::vector<HostNamedValue> named{{fields[3].empty() ? nullptr : fields[3].c_str(), value}};

  HostRequest request{};
  request.method = (flags & 0x8) ? endpoint->method : (flags & 0x7);
  request.path = path.c_str();
  request.namedValues = (flags & 0x10) ? named.data() : nullptr;
  request.namedValueCount = (flags & 0x10) ? 1 : 0;
  request.function = endpoint;
  request.headers = headers.data();
  request.headerCount = (flags & 0x20) ? 2 : 0;
  request.contentType = content_type;
  request.body = fields[5].data();
  request.bodyLength = static_cast<std::uint32_t>(fields[5].size());
  request.customMethod = (flags & 0x40) ? fields[1].c_str() : "";

  HostResponse response;
  endpoint->dispatch(&response, &request);
  CheckAnswer(response);
  response.release(&response);
  return (static_cast<unsigned char>(input[2]) & 0x80) != 0;
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The service signs on, refreshes, revokes and answers user info as it should.
  fuzz::SignOnFuzzHost& host = fuzz::SignOnFuzzHost::Started();
  host.BeginInput();
  const unsigned control = static_cast<unsigned char>(input[0]);
  if (control & 1)
    host.Send(kHostMethodPost, "/ulix-auth/v1/authorization/gas", ulix_testing::kSignOnBody);
  std::string_view rest = input.substr(1);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\x1e');
    if (fuzz::SendOne(host, rest.substr(0, end))) host.host().FireScheduled();
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  host.EndInput();
  return 0;
}
