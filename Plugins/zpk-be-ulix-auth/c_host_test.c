/* A host written in C: loads the plug-in library named on the command line as a host on Linux
 * or Windows does and runs a load, start, one request, memory statistics, stop cycle through the
 * C header alone. Exits 0 on success. */
#include <stdio.h>
#include <string.h>

#include "plugin_host_interface.h"

/* The two systems' loaders; the rest of the host is the same on both. */
#if defined(_WIN32)
#include <windows.h>
static void* OpenLibrary(const char* path) { return (void*)LoadLibraryA(path); }
static LoadUlixAuthFunction FindLoad(void* library) {
  return (LoadUlixAuthFunction)(void (*)(void))GetProcAddress((HMODULE)library,
                                                              ULIX_AUTH_EXPORT_NAME);
}
static void CloseLibrary(void* library) { FreeLibrary((HMODULE)library); }
static const char* LoaderError(void) {
  static char text[32];
  snprintf(text, sizeof text, "system error %lu", (unsigned long)GetLastError());
  return text;
}
#else
#include <dlfcn.h>
static void* OpenLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static LoadUlixAuthFunction FindLoad(void* library) {
  LoadUlixAuthFunction load;
  *(void**)(&load) = dlsym(library, ULIX_AUTH_EXPORT_NAME);
  return load;
}
static void CloseLibrary(void* library) { dlclose(library); }
static const char* LoaderError(void) {
  const char* text = dlerror();
  return text != NULL ? text : "no error text";
}
#endif

static int failures = 0;

#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                                   \
    }                                                                               \
  } while (0)

/* A host that has nothing: every resource is missing and the network is down. The rest ignores
 * what it is given (unused parameters are no warning in this project). */
static void CallResource(const HostFunctionTable* self, HostResponse* response,
                         const HostRequest* request) {
  response->status = 404;
}
static void SendHttpRequest(const HostFunctionTable* self, const HostHttpRequest* request,
                            HostHttpResponse* response) {
  response->transportResult = 1;
}
static void SendEvent(const HostFunctionTable* self, const HostEvent* event) {}
static void SubscribeEvent(const HostFunctionTable* self, const char* name, uint32_t handle,
                           HostEventCallback callback, void* context, int32_t flag) {}
static void UnsubscribeEvent(const HostFunctionTable* self, const char* name, uint32_t handle) {}
static void ScheduleCallback(const HostFunctionTable* self, const char* label,
                             HostDelayedCallback callback, void* context, double delay,
                             int32_t zero) {}
static void Ignore(const HostFunctionTable* self) {}
static void SetWaitReason(const HostFunctionTable* self, const char* text, int32_t zero) {}
static void WriteLog(const HostFunctionTable* self, int32_t level, const char* message) {
  printf("plug-in log %d: %s\n", (int)level, message);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <plug-in library exporting %s>\n", argv[0], ULIX_AUTH_EXPORT_NAME);
    return 2;
  }
  void* library = OpenLibrary(argv[1]);
  LoadUlixAuthFunction load = library != NULL ? FindLoad(library) : NULL;
  if (load == NULL) {
    fprintf(stderr, "%s: no %s in %s: %s\n", argv[0], ULIX_AUTH_EXPORT_NAME, argv[1],
            LoaderError());
    return 2;
  }
  HostInitBlock block = {.major = 18, .minor = 2, .patch = 7};
  load(&block);
  CHECK(block.major == 18 && block.minor == 0 && block.patch == 0);
  if (block.entryTable == NULL || block.catalogue == NULL) return 1;

  static const HostFunctionTable functions = {
      CallResource,     SendHttpRequest, SendEvent,     SubscribeEvent, UnsubscribeEvent,
      ScheduleCallback, Ignore,          SetWaitReason, Ignore,         WriteLog};
  HostContext host_context = {&functions, 42};
  CHECK(block.entryTable->start(block.context, &host_context) == 1);
  /* The table lives in the plug-in object, which stop deletes: keep the functions. */
  PluginEntryTable entries = *block.entryTable;

  /* Asks for the authorization, which a fresh plug-in does not have: the host picks the endpoint
   * record by method and path template, as a real host does, and gets a 404. */
  const CatalogueEndpoint* endpoint = (const CatalogueEndpoint*)block.catalogue->functions;
  const CatalogueEndpoint* chosen = NULL;
  for (uint32_t i = 0; i < block.catalogue->functionCount && endpoint != NULL; ++i) {
    if (endpoint->method == kHostMethodGet && endpoint->pathTemplate != NULL &&
        strcmp(endpoint->pathTemplate, "/ulix-auth/v1/authorization") == 0) {
      chosen = endpoint;
    }
    endpoint = (const CatalogueEndpoint*)endpoint->function.next;
  }
  CHECK(chosen != NULL);
  HostRequest request = {
      .method = kHostMethodGet, .path = "/ulix-auth/v1/authorization", .function = chosen};
  HostResponse response = {.status = 0};
  if (chosen != NULL) chosen->dispatch(&response, &request);
  CHECK(response.status == 404 && response.errorText != NULL &&
        strcmp(response.errorText, "No authorization currently exists.") == 0);
  CHECK(response.release != NULL);
  if (response.release != NULL) response.release(&response);

  entries.stop(block.context);
  /* Stop gives back every block the load, the start and the request took. */
  MemoryStatistics statistics;
  memset(&statistics, 0xAB, sizeof statistics);
  entries.getMemoryStatistics(block.context, &statistics);
  CHECK(statistics.allocationCount == statistics.freeCount);
  CHECK(statistics.bytesAllocated == statistics.bytesFreed);
  CloseLibrary(library);
  if (failures == 0) printf("C host cycle passed\n");
  return failures == 0 ? 0 : 1;
}
