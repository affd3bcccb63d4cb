/* A host written in C: loads the plug-in library named on the command line with dlopen and runs
 * a load, start, memory statistics, stop cycle through the C header alone. Exits 0 on success. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "plugin_host_interface.h"

static int failures = 0;

#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                                   \
    }                                                                               \
  } while (0)

static void CallResource(const HostFunctionTable* self, HostResponse* response,
                         const HostRequest* request) {
  (void)self;
  (void)request;
  response->status = 404;
}
static void SendHttpRequest(const HostFunctionTable* self, const HostHttpRequest* request,
                            HostHttpResponse* response) {
  (void)self;
  (void)request;
  response->transportResult = 1;
}
static void SendEvent(const HostFunctionTable* self, const HostEvent* event) {
  (void)self;
  (void)event;
}
static void SubscribeEvent(const HostFunctionTable* self, const char* name, uint32_t handle,
                           HostEventCallback callback, void* context, int32_t flag) {
  (void)self;
  (void)name;
  (void)handle;
  (void)callback;
  (void)context;
  (void)flag;
}
static void UnsubscribeEvent(const HostFunctionTable* self, const char* name, uint32_t handle) {
  (void)self;
  (void)name;
  (void)handle;
}
static void ScheduleCallback(const HostFunctionTable* self, const char* label,
                             HostDelayedCallback callback, void* context, double delay,
                             int32_t zero) {
  (void)self;
  (void)label;
  (void)callback;
  (void)context;
  (void)delay;
  (void)zero;
}
static void YieldWait(const HostFunctionTable* self) { (void)self; }
static void SetWaitReason(const HostFunctionTable* self, const char* text, int32_t zero) {
  (void)self;
  (void)text;
  (void)zero;
}
static void FinishWait(const HostFunctionTable* self) { (void)self; }
static void WriteLog(const HostFunctionTable* self, int32_t level, const char* message) {
  (void)self;
  printf("plug-in log %d: %s\n", (int)level, message);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <plug-in library>\n", argv[0]);
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  LoadUlixAuthFunction load;
  *(void**)(&load) = dlsym(library, ULIX_AUTH_EXPORT_NAME);
  CHECK(load != NULL);
  if (load == NULL) return 1;

  HostInitBlock block;
  memset(&block, 0, sizeof block);
  block.major = 18;
  block.minor = 2;
  block.patch = 7;
  load(&block);
  CHECK(block.major == 18 && block.minor == 0 && block.patch == 0);
  CHECK(block.entryTable != NULL);
  CHECK(block.context != NULL);
  CHECK(block.shortName != NULL && strcmp(block.shortName, "ulix-auth") == 0);
  CHECK(block.catalogue != NULL);
  if (block.entryTable == NULL) return 1;

  static const HostFunctionTable functions = {
      CallResource,     SendHttpRequest, SendEvent,     SubscribeEvent, UnsubscribeEvent,
      ScheduleCallback, YieldWait,       SetWaitReason, FinishWait,     WriteLog};
  HostContext host_context = {&functions, 42};
  CHECK(block.entryTable->start(block.context, &host_context) == 1);

  MemoryStatistics statistics;
  memset(&statistics, 0xAB, sizeof statistics);
  block.entryTable->getMemoryStatistics(block.context, &statistics);
  CHECK(statistics.allocationCount > 0);
  CHECK(statistics.bytesAllocated > 0);
  CHECK(statistics.peakBytesInUse > 0);
  CHECK(statistics.reserved[0] == 0 && statistics.reserved[1] == 0);

  block.entryTable->stop(block.context);
  dlclose(library);
  if (failures == 0) printf("C host cycle passed\n");
  return failures == 0 ? 0 : 1;
}
