/* The host interface of the plug-in: the records and function tables that cross between the
 * plug-in host and the plug-in library. Compiles as C and as C++ so that a host written in C can
 * include it alone.
 *
 * Every record is packed, with its fields in the documented order. Addresses, texts, arrays and
 * functions are native pointers; counts, lengths, kinds, codes, statuses, levels, locations and the
 * plug-in handle are 32-bit; flags are 8-bit. On a 32-bit build every record has the documented
 * size and offsets (checked below). Texts are NUL-terminated 8-bit strings. */
#ifndef INCLUDE_PLUGIN_HOST_INTERFACE_H_
#define INCLUDE_PLUGIN_HOST_INTERFACE_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* ---- Host value records --------------------------------------------------------------------- */

/* Kinds of a host value record. Texts (5, 6) are NUL-terminated with a length; bytes (7, 8) carry
 * a length; arrays (9) point at consecutive value records; objects (10) at consecutive entries. */
enum HostValueKind {
  kHostValueNone = 0,
  kHostValueBool = 1,
  kHostValueSigned = 2,
  kHostValueUnsigned = 3,
  kHostValueDouble = 4,
  kHostValueText = 5,
  kHostValueOwnedText = 6,
  kHostValueBytes = 7,
  kHostValueOwnedBytes = 8,
  kHostValueArray = 9,
  kHostValueObject = 10
};

struct HostValue;
struct HostObjectEntry;

typedef struct HostValue {
  uint32_t kind;
  union {
    uint8_t boolean;
    int64_t int64;
    uint64_t uint64;
    double float64;
    struct {
      const char* data;
      uint32_t length;
    } text;
    struct {
      const uint8_t* data;
      uint32_t length;
    } bytes;
    struct {
      struct HostValue* items;
      uint32_t count;
    } array;
    struct {
      struct HostObjectEntry* entries;
      uint32_t count;
    } object;
  } payload;
} HostValue;

typedef struct HostObjectEntry {
  const char* key;
  HostValue value;
  uint8_t present; /* set to 1 by the plug-in */
} HostObjectEntry;

typedef struct HostNamedValue {
  const char* name; /* may be NULL */
  HostValue value;
} HostNamedValue;

typedef struct HostHeaderPair {
  const char* name;
  const char* value;
} HostHeaderPair;

/* ---- Handshake --------------------------------------------------------------------------------
 */

struct HostFunctionTable;
struct TypeCatalogue;

/* Block passed to load_ulix_auth. Words 0 to 2 come in as the host's plug-in API version and go
 * out as the plug-in's; the rest is written by the plug-in at the end of a successful handshake. */
typedef struct HostInitBlock {
  uint32_t major;
  uint32_t minor;
  uint32_t patch;
  const struct PluginEntryTable* entryTable;
  void* context;
  const char* shortName;
  const struct TypeCatalogue* catalogue;
} HostInitBlock;

typedef struct HostContext {
  const struct HostFunctionTable* functions;
  uint32_t pluginHandle;
} HostContext;

/* Six 64-bit counters of the plug-in's own heap, then two reserved words that are always 0. */
typedef struct MemoryStatistics {
  uint64_t peakBytesInUse;
  uint64_t allocationsAtPeak;
  uint64_t bytesAllocated;
  uint64_t allocationCount;
  uint64_t bytesFreed;
  uint64_t freeCount;
  uint32_t reserved[2];
} MemoryStatistics;

/* The plug-in's entry points. The host passes the context of HostInitBlock back on every call. */
typedef struct PluginEntryTable {
  uint8_t (*start)(void* context, const HostContext* hostContext);
  void (*stop)(void* context);
  void (*getMemoryStatistics)(void* context, MemoryStatistics* statistics);
} PluginEntryTable;

/* Functions, types and events the plug-in registered; the arrays stay valid while it is loaded. */
typedef struct TypeCatalogue {
  const void* functions;
  uint32_t functionCount;
  const void* types;
  uint32_t typeCount;
  const void* events;
  uint32_t eventCount;
} TypeCatalogue;

/* ---- Requests and responses -------------------------------------------------------------------
 */

enum HostMethodCode {
  kHostMethodAny = 0,
  kHostMethodDelete = 1,
  kHostMethodGet = 2,
  kHostMethodHead = 3,
  kHostMethodOptions = 4,
  kHostMethodPatch = 5,
  kHostMethodPost = 6,
  kHostMethodPut = 7,
  kHostMethodCustom = 8
};

/* A resource request, incoming (filled by the host) or outgoing (filled by the plug-in, with the
 * plug-in handle as caller context). */
typedef struct HostRequest {
  uint32_t method;
  const char* path;
  const HostNamedValue* namedValues;
  uint32_t namedValueCount;
  const void* function;
  const HostHeaderPair* headers;
  uint32_t headerCount;
  const char* contentType;
  const void* body;
  uint32_t bodyLength;
  uint32_t callerContext;
  const char* customMethod;
} HostRequest;

enum HostFormatCode {
  kHostFormatNone = 0,
  kHostFormatJson = 1,
  kHostFormatYaml = 2,
  kHostFormatMessagePack = 3
};

struct HostResponse;
typedef uint8_t (*HostStreamRead)(void* context, char* buffer, uint32_t* length, uint8_t* moreData);
typedef void (*HostStreamClose)(void* context);
typedef void (*HostResponseRelease)(struct HostResponse* response);

/* Response of a resource call, zeroed by whoever asks. The receiver calls release when done. */
typedef struct HostResponse {
  HostValue value;
  const char* errorText; /* NULL: success */
  uint8_t errorFlag;
  uint8_t reserved;
  uint32_t format;
  uint32_t status;
  const char* text;
  const HostHeaderPair* headers;
  uint32_t headerCount;
  HostStreamRead read;
  HostStreamClose close;
  uint64_t streamSize;
  void* streamContext;
  HostResponseRelease release;
} HostResponse;

typedef struct HostHttpRequest {
  uint32_t method;
  const char* url;
  const HostHeaderPair* headers;
  uint32_t headerCount;
  const void* body;
  uint32_t bodyLength;
  uint32_t timeout;
  uint8_t flag;
} HostHttpRequest;

struct HostHttpResponse;
typedef void (*HostHttpResponseRelease)(struct HostHttpResponse* response);

/* transportResult 0 is success; otherwise the body holds the transport's error text. */
typedef struct HostHttpResponse {
  uint32_t transportResult;
  uint32_t status;
  const HostHeaderPair* headers;
  uint32_t headerCount;
  const void* body;
  uint32_t bodyLength;
  HostHttpResponseRelease release;
} HostHttpResponse;

/* ---- Events and delayed callbacks --------------------------------------------------------------
 */

typedef struct HostEvent {
  const char* name;
  HostValue value;
  uint64_t number; /* 0 */
} HostEvent;

/* What an event callback receives: the subscription's context comes back with every delivery. */
typedef struct HostEventDelivery {
  const char* name;
  HostValue value;
  uint32_t reserved;
  void* context;
} HostEventDelivery;

typedef void (*HostEventCallback)(const HostEventDelivery* delivery);
typedef void (*HostDelayedCallback)(void* context);

/* ---- The host's function table ------------------------------------------------------------------
 */

typedef struct HostFunctionTable {
  void (*callResource)(const struct HostFunctionTable* self, HostResponse* response,
                       const HostRequest* request);
  void (*sendHttpRequest)(const struct HostFunctionTable* self, const HostHttpRequest* request,
                          HostHttpResponse* response);
  void (*sendEvent)(const struct HostFunctionTable* self, const HostEvent* event);
  void (*subscribeEvent)(const struct HostFunctionTable* self, const char* name,
                         uint32_t pluginHandle, HostEventCallback callback, void* context,
                         int32_t flag);
  void (*unsubscribeEvent)(const struct HostFunctionTable* self, const char* name,
                           uint32_t pluginHandle);
  void (*scheduleCallback)(const struct HostFunctionTable* self, const char* label,
                           HostDelayedCallback callback, void* context, double delaySeconds,
                           int32_t zero);
  void (*yieldWait)(const struct HostFunctionTable* self);
  void (*setWaitReason)(const struct HostFunctionTable* self, const char* text, int32_t zero);
  void (*finishWait)(const struct HostFunctionTable* self);
  void (*writeLog)(const struct HostFunctionTable* self, int32_t level, const char* message);
} HostFunctionTable;

#pragma pack(pop)

/* The one export. The host calls it once per plug-in instance. */
typedef void (*LoadUlixAuthFunction)(HostInitBlock* block);
#define ULIX_AUTH_EXPORT_NAME "load_ulix_auth"

/* ---- Layout checks ------------------------------------------------------------------------------
 */

#ifdef __cplusplus
#define ULIX_HOST_STATIC_ASSERT static_assert
#else
#define ULIX_HOST_STATIC_ASSERT _Static_assert
#endif

#define ULIX_HOST_P (sizeof(void*))
ULIX_HOST_STATIC_ASSERT(sizeof(HostValue) == 4 + 4 + ULIX_HOST_P, "host value record");
ULIX_HOST_STATIC_ASSERT(sizeof(HostObjectEntry) == ULIX_HOST_P + sizeof(HostValue) + 1,
                        "object entry");
ULIX_HOST_STATIC_ASSERT(sizeof(HostHeaderPair) == 2 * ULIX_HOST_P, "header pair");

#if UINTPTR_MAX == 0xFFFFFFFFu
/* The documented 32-bit layout, byte for byte. */
ULIX_HOST_STATIC_ASSERT(sizeof(HostInitBlock) == 28, "HostInitBlock");
ULIX_HOST_STATIC_ASSERT(sizeof(HostContext) == 8, "HostContext");
ULIX_HOST_STATIC_ASSERT(sizeof(MemoryStatistics) == 56, "MemoryStatistics");
ULIX_HOST_STATIC_ASSERT(sizeof(HostValue) == 12, "host value record");
ULIX_HOST_STATIC_ASSERT(sizeof(HostObjectEntry) == 17, "object entry");
ULIX_HOST_STATIC_ASSERT(sizeof(HostNamedValue) == 16, "named value");
ULIX_HOST_STATIC_ASSERT(sizeof(HostRequest) == 48, "HostRequest");
ULIX_HOST_STATIC_ASSERT(sizeof(HostResponse) == 62, "response record");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, errorText) == 12, "response error text");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, errorFlag) == 16, "response flag");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, reserved) == 17, "response byte 17");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, format) == 18, "response format");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, status) == 22, "response status");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, text) == 26, "response text");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, headers) == 30, "response headers");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, headerCount) == 34, "response header count");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, read) == 38, "response read");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, close) == 42, "response close");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, streamSize) == 46, "response stream size");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, streamContext) == 54, "response stream context");
ULIX_HOST_STATIC_ASSERT(offsetof(HostResponse, release) == 58, "response release");
ULIX_HOST_STATIC_ASSERT(sizeof(HostHttpRequest) == 29, "HostHttpRequest");
ULIX_HOST_STATIC_ASSERT(sizeof(HostHttpResponse) == 28, "HostHttpResponse");
ULIX_HOST_STATIC_ASSERT(sizeof(HostEvent) == 24, "event record");
ULIX_HOST_STATIC_ASSERT(sizeof(HostEventDelivery) == 24, "event delivery record");
ULIX_HOST_STATIC_ASSERT(offsetof(HostEventDelivery, context) == 20, "event delivery context");
ULIX_HOST_STATIC_ASSERT(sizeof(TypeCatalogue) == 24, "TypeCatalogue");
ULIX_HOST_STATIC_ASSERT(sizeof(HostFunctionTable) == 40, "HostFunctionTable");
#endif
#undef ULIX_HOST_P

#ifdef __cplusplus
}
#endif

#endif /* INCLUDE_PLUGIN_HOST_INTERFACE_H_ */
