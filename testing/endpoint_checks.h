// Checks for tests of plug-ins: every endpoint's declared arguments match its handler's
// parameters. A slip in a registration is logged when the plug-in loads; this makes it fail the
// test that loads it.
//
//   MyPlugin plugin;
//   HostInitBlock block{};
//   block.major = 18;
//   plugin.handshake(&block, "my-plugin");
//   ulix_testing::ExpectEndpointsMatchHandlers(plugin.endpointRegistry());
#ifndef TESTING_ENDPOINT_CHECKS_H_
#define TESTING_ENDPOINT_CHECKS_H_

#include <string>

#include "gtest/gtest.h"
#include "plugin_runtime/endpoint_registry.h"

namespace ulix_testing {

// Adds one test failure per registration problem the registry found.
inline void ExpectEndpointsMatchHandlers(const plugin_runtime::EndpointRegistry& registry) {
  for (const std::string& problem : registry.RegistrationProblems()) {
    ADD_FAILURE() << "endpoint registration: " << problem;
  }
}

}  // namespace ulix_testing

#endif  // TESTING_ENDPOINT_CHECKS_H_
