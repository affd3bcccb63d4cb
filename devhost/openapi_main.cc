// ulix-openapi LIBRARY OUTPUT: loads the plug-in library as a host does and writes the OpenAPI
// document of its API, the one the development host serves at /openapi.json, to OUTPUT. The
// build runs it to put the document into the install tree and the releases.
#include <cstdio>
#include <string>

#include "devhost/openapi_document.h"
#include "devhost/plugin_instance.h"

namespace {

// A host with nothing: the plug-in is started only so that stopping it gives back what the
// handshake took. Every resource is missing, the network is down, and nothing is ever called
// back.
void CallResource(const HostFunctionTable*, HostResponse* response, const HostRequest*) {
  response->status = 404;
}
void SendHttpRequest(const HostFunctionTable*, const HostHttpRequest*, HostHttpResponse* response) {
  response->transportResult = 1;
}
void SendEvent(const HostFunctionTable*, const HostEvent*) {}
void SubscribeEvent(const HostFunctionTable*, const char*, uint32_t, HostEventCallback, void*,
                    int32_t) {}
void UnsubscribeEvent(const HostFunctionTable*, const char*, uint32_t) {}
void ScheduleCallback(const HostFunctionTable*, const char*, HostDelayedCallback, void*, double,
                      int32_t) {}
void YieldWait(const HostFunctionTable*) {}
void SetWaitReason(const HostFunctionTable*, const char*, int32_t) {}
void FinishWait(const HostFunctionTable*) {}
void WriteLog(const HostFunctionTable*, int32_t, const char*) {}

constexpr HostFunctionTable kSilentHost = {
    CallResource,     SendHttpRequest, SendEvent,     SubscribeEvent, UnsubscribeEvent,
    ScheduleCallback, YieldWait,       SetWaitReason, FinishWait,     WriteLog};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <plug-in library> <output file>\n", argv[0]);
    return 2;
  }
  std::string error;
  auto plugin = devhost::PluginInstance::Load(argv[1], error);
  if (plugin == nullptr) {
    std::fprintf(stderr, "ulix-openapi: %s\n", error.c_str());
    return 1;
  }
  // The server is the host that loads the plug-in, wherever it listens: a relative URL.
  const std::string document = devhost::BuildOpenApiDocument(
      plugin->catalogue(), std::string("zpk-be-") + plugin->short_name(), plugin->version(), "/");
  const HostContext context{&kSilentHost, 1};
  plugin->Start(&context);
  plugin->Stop();

  std::FILE* file = std::fopen(argv[2], "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "ulix-openapi: cannot write %s\n", argv[2]);
    return 1;
  }
  const bool written = std::fwrite(document.data(), 1, document.size(), file) == document.size() &&
                       std::fputc('\n', file) != EOF;
  if (std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "ulix-openapi: cannot write %s\n", argv[2]);
    std::remove(argv[2]);
    return 1;
  }
  return 0;
}
