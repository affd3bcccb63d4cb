// Checks for tests of plug-ins: every endpoint's declared arguments match its handler's
// parameters. A slip in a registration is logged when the plug-in loads; this makes it fail the
// test that loads it.
//
//   MyPlugin plugin;
//   HostInitBlock block{};
//   block.major = 18;
//   plugin.handshake(&block, "my-plugin");
//   ulix_testing::ExpectEndpointsMatchHandlers(plugin.router());
#ifndef TESTING_ENDPOINT_CHECKS_H_
#define TESTING_ENDPOINT_CHECKS_H_

#include <string>

#include "gtest/gtest.h"
#include "plugin_runtime/endpoint_router.h"

namespace ulix_testing {

// Adds one test failure per registration problem the router found.
inline void ExpectEndpointsMatchHandlers(const plugin_runtime::RequestRouter& router) {
  for (const std::string& problem : router.RegistrationProblems()) {
    ADD_FAILURE() << "endpoint registration: " << problem;
  }
}

}  // namespace ulix_testing

#endif  // TESTING_ENDPOINT_CHECKS_H_
