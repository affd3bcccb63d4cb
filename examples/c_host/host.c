/* The smallest host of the plug-in: opens the library the package names (or the one given on
 * the command line), calls its one export with the handshake block, starts it with a host that
 * has nothing to offer, stops it and closes it. Prints the version the plug-in reported.
 * Exits 0 when the plug-in took the handshake and gave back all of its memory at stop. */
#include <stdio.h>
#include <string.h>

#include "plugin_host_interface.h"

#if defined(_WIN32)
#include <windows.h>
static void* OpenLibrary(const char* path) { return (void*)LoadLibraryA(path); }
static void* FindSymbol(void* library, const char* name) {
  return (void*)GetProcAddress((HMODULE)library, name);
}
static void CloseLibrary(void* library) { FreeLibrary((HMODULE)library); }
#else
#include <dlfcn.h>
static void* OpenLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* FindSymbol(void* library, const char* name) { return dlsym(library, name); }
static void CloseLibrary(void* library) { dlclose(library); }
#endif

/* The host's side of the interface: no resources, no network, nothing scheduled. */
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
  (void)self, (void)name, (void)handle, (void)callback, (void)context, (void)flag;
}
static void UnsubscribeEvent(const HostFunctionTable* self, const char* name, uint32_t handle) {
  (void)self, (void)name, (void)handle;
}
static void ScheduleCallback(const HostFunctionTable* self, const char* label,
                             HostDelayedCallback callback, void* context, double delay,
                             int32_t zero) {
  (void)self, (void)label, (void)callback, (void)context, (void)delay, (void)zero;
}
static void YieldWait(const HostFunctionTable* self) { (void)self; }
static void SetWaitReason(const HostFunctionTable* self, const char* text, int32_t zero) {
  (void)self, (void)text, (void)zero;
}
static void FinishWait(const HostFunctionTable* self) { (void)self; }
static void WriteLog(const HostFunctionTable* self, int32_t level, const char* message) {
  (void)self;
  printf("plug-in log %d: %s\n", (int)level, message);
}

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : PLUGIN_LIBRARY;
  void* library = OpenLibrary(path);
  if (library == NULL) {
    fprintf(stderr, "cannot open %s\n", path);
    return 1;
  }
  LoadUlixAuthFunction load;
  *(void**)(&load) = FindSymbol(library, ULIX_AUTH_EXPORT_NAME);
  if (load == NULL) {
    fprintf(stderr, "%s has no %s\n", path, ULIX_AUTH_EXPORT_NAME);
    return 1;
  }

  /* The host offers the plug-in API of the package it was built against. */
  HostInitBlock block;
  memset(&block, 0, sizeof block);
  unsigned major, minor, patch; /* the block's fields are packed: no pointers to them */
  if (sscanf(PLUGIN_VERSION, "%u.%u.%u", &major, &minor, &patch) != 3) return 1;
  block.major = major;
  block.minor = minor;
  block.patch = patch;
  load(&block);
  if (block.entryTable == NULL || block.catalogue == NULL) {
    fprintf(stderr, "the plug-in refused the handshake\n");
    return 1;
  }
  printf("handshake: zpk-be-%s %u.%u.%u\n", block.shortName, (unsigned)block.major,
         (unsigned)block.minor, (unsigned)block.patch);

  static const HostFunctionTable functions = {
      CallResource,     SendHttpRequest, SendEvent,     SubscribeEvent, UnsubscribeEvent,
      ScheduleCallback, YieldWait,       SetWaitReason, FinishWait,     WriteLog};
  HostContext host = {&functions, 1};
  const int started = block.entryTable->start(block.context, &host) == 1;
  /* The entry table lives in the plug-in object, which stop deletes: keep the functions. */
  PluginEntryTable entries = *block.entryTable;
  entries.stop(block.context);
  MemoryStatistics statistics;
  entries.getMemoryStatistics(block.context, &statistics);
  const int all_given_back = statistics.allocationCount == statistics.freeCount;
  CloseLibrary(library);
  if (!started || !all_given_back) {
    fprintf(stderr, "started: %d, all memory given back: %d\n", started, all_given_back);
    return 1;
  }
  printf("started and stopped\n");
  return 0;
}
