// The host's HTTP operation: requests the plug-in asks the host to send, through libcurl, with
// TLS verification on.
#ifndef DEVHOST_CURL_TRANSPORT_H_
#define DEVHOST_CURL_TRANSPORT_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "plugin_host_interface.h"

namespace devhost {

struct HttpExchange {
  bool delivered = false;  // false: `error` holds curl's message and nothing else is set
  std::uint32_t status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::string body;
  std::string error;
};

// The method name curl is told for a method code; custom methods (8) and unknown codes send
// GET, since the HTTP record carries no custom name.
const char* HttpMethodName(std::uint32_t method);

// Sends `request` (borrowed) and waits for the whole answer. The timeout is the record's value
// in seconds (0: curl's own default). Thread-safe: each thread keeps its own connection cache.
HttpExchange SendWithCurl(const HostHttpRequest& request);

// Refuses every exchange from now on, before it connects, and ends those in flight as a
// transport failure within about a second (curl asks at least that often whether to go on):
// a stopping host sends no more passwords and waits for no slow service. Any thread.
void StopTransfers();
// Lets exchanges through again (tests).
void ResumeTransfers();

// Seconds this thread has spent in SendWithCurl so far: the request log subtracts it to tell the
// host's and the plug-in's own time from the time spent waiting for the network.
double ThreadHttpSeconds();

// Call once before any other thread starts, and once at the end.
void GlobalCurlInit();
void GlobalCurlCleanup();

}  // namespace devhost

#endif  // DEVHOST_CURL_TRANSPORT_H_
