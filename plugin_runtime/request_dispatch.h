// The dispatch entry the host calls for every incoming request, through the address in the
// endpoint record it chose.
#ifndef PLUGIN_RUNTIME_REQUEST_DISPATCH_H_
#define PLUGIN_RUNTIME_REQUEST_DISPATCH_H_

#include "plugin_host_interface.h"

namespace plugin_runtime {

// Zeroes `response` and fills it for `request`, whose function word is the endpoint record the
// host chose: the handler's value, or an error text ("Invalid function" with 404 when method or
// path disagree with the endpoint, the argument and body messages otherwise, "Internal server
// error" with 500 for anything thrown, running out of memory included). Never throws. The host
// gives the response back through its release function. Any host thread may call it: routes are
// read-only after load.
void DispatchRequest(HostResponse* response, const HostRequest* request);

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_REQUEST_DISPATCH_H_
