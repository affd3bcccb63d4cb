// The sign-on service's answers (transport result, status, headers, body) fed to the sign-on
// plug-in through the fake host while it discovers the service, signs on, reads its tokens,
// refreshes by hand and by timer, reads user info, signs off (revocation) and signs on again with
// a configuration token. No crash, no leak, every failure names its cause. One plug-in serves
// every input: each input installs the region's public client again through the v2
// configuration endpoint so that discovery is fetched anew, and the plug-in is signed off and
// reconfigured after it (see fuzz/ulix_auth_fuzz_host.h).
//
// Input: answers separated by 0x1E, handed out in the order the plug-in makes its exchanges
// (later exchanges fail in transport). An answer: one transport byte (below 0xF0: success;
// otherwise that result less 0xEF), two status bytes (little endian, modulo 1000), then
// NUL-separated fields: headers as "Name: value" lines, body.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

#include "fuzz/ulix_auth_fuzz_host.h"

namespace fuzz {
namespace {

// A service answer: transport 0 is an exchange with a status, headers and body; any other
// transport result fails the exchange with the body as its error text.
ulix_testing::FakeHost::HttpAnswer ReadAnswer(std::string_view input) {
  ulix_testing::FakeHost::HttpAnswer answer{1, 0};
  if (input.size() < 3) return answer;
  const unsigned transport = static_cast<unsigned char>(input[0]);
  answer.transport = transport < 0xF0 ? 0 : transport - 0xEF;
  answer.status = (static_cast<unsigned char>(input[1]) |
                   (static_cast<unsigned>(static_cast<unsigned char>(input[2])) << 8)) %
                  1000;
  input.remove_prefix(3);
  const std::size_t split = input.find('\0');
  std::string_view header_block = input.substr(0, split);
  if (split != std::string_view::npos && split + 1 < input.size()) {
    answer.body = std::string(input.substr(split + 1));
  }
  while (!header_block.empty()) {
    const std::size_t end = header_block.find('\n');
    const std::string_view line = header_block.substr(0, end);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
      std::string_view value = line.substr(colon + 1);
      if (value.starts_with(' ')) value.remove_prefix(1);
      answer.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    }
    if (end == std::string_view::npos) break;
    header_block.remove_prefix(end + 1);
  }
  return answer;
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::deque<ulix_testing::FakeHost::HttpAnswer> answers;
  while (!input.empty()) {
    const std::size_t end = input.find('\x1e');
    answers.push_back(fuzz::ReadAnswer(input.substr(0, end)));
    if (end == std::string_view::npos) break;
    input.remove_prefix(end + 1);
  }
  fuzz::SignOnFuzzHost& host = fuzz::SignOnFuzzHost::Started();
  host.BeginInput();
  host.SetService([&answers](const std::string&, const std::string&) {
    if (answers.empty()) {
      return ulix_testing::FakeHost::HttpAnswer{1, 0, "connection refused"};
    }
    ulix_testing::FakeHost::HttpAnswer next = std::move(answers.front());
    answers.pop_front();
    return next;
  });
  // The region's client installed again, so that discovery reads this input's first answers.
  host.Send(kHostMethodPost, "/ulix-auth/v2/config", fuzz::kRegionClient);
  host.Send(kHostMethodPost, "/ulix-auth/v1/authorization/gas", ulix_testing::kSignOnBody);
  for (const char* path :
       {"/ulix-auth/v1/authorization", "/ulix-auth/v1/authorization/access-token",
        "/ulix-auth/v1/authorization/id-token", "/ulix-auth/v1/authorization/entitlements-token",
        "/ulix-auth/v1/authorization/gas-token", "/ulix-auth/v1/authorization/error",
        "/ulix-auth/v1/status/NA1"}) {
    host.Send(kHostMethodGet, path);
  }
  host.Send(kHostMethodPost, "/ulix-auth/v1/authorization/refresh");
  host.host().FireScheduled();  // the refresh timer, or its retry
  host.Send(kHostMethodPost, "/ulix-auth/v1/authorization/userinfo");
  host.Send(kHostMethodGet, "/ulix-auth/v1/authorization/userinfo");
  host.Send(kHostMethodDelete, "/ulix-auth/v1/authorization");
  host.Send(kHostMethodPost, "/ulix-auth/v1/config",
            std::string("{\"token\":\"") + fuzz::kConfigToken + "\"}");
  host.Send(kHostMethodPost, "/ulix-auth/v1/authorization/refresh");
  host.host().FireScheduled();
  host.Send(kHostMethodGet, "/ulix-auth/v1/authorization/access-token");
  // The region's configuration comes back with a good discovery record: what a failed fetch
  // does to the plug-in the exchanges above have shown already.
  host.RestoreService();
  host.Send(kHostMethodDelete, "/ulix-auth/v1/config");
  host.EndInput();
  return 0;
}
