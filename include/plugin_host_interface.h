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

/* ---- Type catalogue ----------------------------------------------------------------------------
 * What the plug-in registered, as arrays of records chained through `next` and also contiguous.
 * Texts belong to the plug-in and stay valid while it is loaded; absent texts are "". Kinds are
 * the native type kinds (1 bool ... 19 map). */

typedef struct CatalogueArgument {
  const struct CatalogueArgument* next;
  const char* name;
  const char* description;
  uint32_t kind;
  uint32_t elementKind;
  const char* typeName;
  uint8_t optional;
} CatalogueArgument;

typedef struct CatalogueFunction {
  const void* next;
  const void* reserved;  /* 0 */
  const void* routeData; /* the plug-in's own data for the endpoint; 0 in bare function records */
  const char* name;
  const char* nameSpace;
  const CatalogueArgument* arguments;
  uint32_t argumentCount;
  uint32_t returnKind;
  uint32_t returnElementKind;
  const char* returnTypeName;
  const char* description;
  const char* help;
  uint8_t threadSafe;
  const char* asyncResultTypeName;
  const char* const* tags;
  uint32_t tagCount;
} CatalogueFunction;

/* The plug-in's dispatch entry: fills `response` (zeroed by the plug-in first) for `request`,
 * whose function word names the endpoint record the host chose. The host calls
 * response->release when done with it. */
typedef void (*HostDispatchFunction)(HostResponse* response, const HostRequest* request);

typedef struct CatalogueArgumentLocation {
  const struct CatalogueArgumentLocation* next;
  uint32_t location; /* 0 any, 1 query, 2 path, 4 header, 5 body */
} CatalogueArgumentLocation;

typedef struct CatalogueTextList {
  const struct CatalogueTextList* next;
  const char* const* texts;
  uint32_t count;
} CatalogueTextList;

/* What the host chooses from: one per registered endpoint, starting with its function's record
 * (whose `next` chains the endpoint records). */
typedef struct CatalogueEndpoint {
  CatalogueFunction function;
  HostDispatchFunction dispatch;
  const CatalogueArgumentLocation* argumentLocations;
  const char* pathTemplate;
  uint32_t method; /* HostMethodCode; 0 any */
  uint8_t flag;
  const CatalogueTextList* textLists;
  uint32_t textListCount;
  const char* customMethod;
} CatalogueEndpoint;

typedef struct CatalogueField {
  const struct CatalogueField* next;
  const char* name;
  const char* description;
  uint32_t offset;
  uint32_t kind;
  uint32_t elementKind;
  const char* typeName;
  uint8_t optional;
} CatalogueField;

typedef struct CatalogueEnumerator {
  const struct CatalogueEnumerator* next;
  const char* name;
  const char* description;
  int32_t value;
} CatalogueEnumerator;

/* A struct (fields set) or an enum (enumerators set, also for a struct without fields). */
typedef struct CatalogueType {
  const struct CatalogueType* next;
  const char* name;
  const char* nameSpace;
  uint32_t size;
  const char* description;
  const char* const* tags;
  uint32_t tagCount;
  const CatalogueField* fields;
  const CatalogueEnumerator* enumerators;
  uint32_t memberCount;
} CatalogueType;

typedef struct CatalogueEvent {
  const struct CatalogueEvent* next;
  const char* name;
  const char* nameSpace;
  const char* payloadTypeName;
  const char* description;
  const char* const* tags;
  uint32_t tagCount;
} CatalogueEvent;

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
ULIX_HOST_STATIC_ASSERT(sizeof(CatalogueFunction) == 61, "function record");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, reserved) == 4, "function word 4");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, routeData) == 8, "function route data");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, name) == 12, "function name");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, nameSpace) == 16, "function nameSpace");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, arguments) == 20, "function arguments");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, argumentCount) == 24, "function arg count");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, returnKind) == 28, "function return kind");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, returnElementKind) == 32, "function element");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, returnTypeName) == 36, "function type name");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, description) == 40, "function description");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, help) == 44, "function help");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, threadSafe) == 48, "function thread-safe");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, asyncResultTypeName) == 49, "function async");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, tags) == 53, "function tags");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueFunction, tagCount) == 57, "function tag count");
ULIX_HOST_STATIC_ASSERT(sizeof(CatalogueEndpoint) == 90, "endpoint record");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEndpoint, dispatch) == 61, "endpoint dispatch");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEndpoint, argumentLocations) == 65, "endpoint locations");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEndpoint, pathTemplate) == 69, "endpoint template");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEndpoint, method) == 73, "endpoint method");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEndpoint, flag) == 77, "endpoint flag");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEndpoint, textLists) == 78, "endpoint text lists");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEndpoint, textListCount) == 82, "endpoint list count");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEndpoint, customMethod) == 86, "endpoint custom method");
ULIX_HOST_STATIC_ASSERT(sizeof(CatalogueArgumentLocation) == 8, "argument location");
ULIX_HOST_STATIC_ASSERT(sizeof(CatalogueTextList) == 12, "text list");
ULIX_HOST_STATIC_ASSERT(sizeof(CatalogueArgument) == 25, "argument record");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueArgument, kind) == 12, "argument kind");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueArgument, elementKind) == 16, "argument element kind");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueArgument, typeName) == 20, "argument type name");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueArgument, optional) == 24, "argument optional");
ULIX_HOST_STATIC_ASSERT(sizeof(CatalogueType) == 40, "type record");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueType, size) == 12, "type size");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueType, description) == 16, "type description");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueType, tags) == 20, "type tags");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueType, tagCount) == 24, "type tag count");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueType, fields) == 28, "type fields");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueType, enumerators) == 32, "type enumerators");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueType, memberCount) == 36, "type member count");
ULIX_HOST_STATIC_ASSERT(sizeof(CatalogueField) == 29, "field record");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueField, offset) == 12, "field offset");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueField, kind) == 16, "field kind");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueField, elementKind) == 20, "field element kind");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueField, typeName) == 24, "field type name");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueField, optional) == 28, "field optional");
ULIX_HOST_STATIC_ASSERT(sizeof(CatalogueEnumerator) == 16, "enumerator record");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEnumerator, value) == 12, "enumerator value");
ULIX_HOST_STATIC_ASSERT(sizeof(CatalogueEvent) == 28, "event record");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEvent, payloadTypeName) == 12, "event payload type");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEvent, description) == 16, "event description");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEvent, tags) == 20, "event tags");
ULIX_HOST_STATIC_ASSERT(offsetof(CatalogueEvent, tagCount) == 24, "event tag count");
#endif
#undef ULIX_HOST_P

#ifdef __cplusplus
}
#endif

#endif /* INCLUDE_PLUGIN_HOST_INTERFACE_H_ */
