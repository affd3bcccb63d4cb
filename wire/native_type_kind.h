// The kinds of native types as the type catalogue numbers them (the `kind` fields of its
// records), shared by the plug-in's type registry and the hosts that read the catalogue.
// Header-only, with no dependency on the runtime.
#ifndef WIRE_NATIVE_TYPE_KIND_H_
#define WIRE_NATIVE_TYPE_KIND_H_

#include <cstdint>

namespace wire {

enum class NativeTypeKind : std::uint32_t {
  kNone = 0,
  kBool = 1,
  kInt8 = 2,
  kUInt8 = 3,
  kInt16 = 4,
  kUInt16 = 5,
  kInt32 = 6,
  kUInt32 = 7,
  kInt64 = 8,
  kUInt64 = 9,
  kFloat = 10,
  kDouble = 11,
  kString = 12,
  kObject = 13,
  kBlob = 14,
  kVector = 15,
  kEnum = 16,
  kStruct = 17,
  kCallback = 18,
  kMap = 19,
};

}  // namespace wire

#endif  // WIRE_NATIVE_TYPE_KIND_H_
