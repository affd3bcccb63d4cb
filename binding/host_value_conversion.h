// Conversions between BindingValue trees and the host's plain value records, and the release of
// the records the plug-in builds.
#ifndef BINDING_HOST_VALUE_CONVERSION_H_
#define BINDING_HOST_VALUE_CONVERSION_H_

#include <string_view>

#include "binding/binding_type_registry.h"
#include "binding/binding_value.h"
#include "plugin_host_interface.h"

namespace binding {

// Reads a host record (borrowed; nothing is kept). Texts are read up to their NUL, bytes by their
// length; a repeated object key keeps its last value. A kind above 10 fails with "Couldn't assign
// value to '%1' of type object because the input is of an incompatible type ''." (%1 `name`,
// "<result>" for the result of an outgoing call); `response`, when given, is then released
// through its own release function and carries the message instead (FailHostResponse).
BindingConversionResult fromHostValue(const HostValue& record, std::string_view name,
                                      HostResponse* response = nullptr);

// A NUL-terminated copy of `text` for a record handed to the host, freed with delete[] by the
// release function of that record.
char* CopyHostText(std::string_view text);

// Builds a host record from `value`. Texts, bytes, arrays, object entries and keys are copies
// owned by the record: free them with ReleaseHostValue (or through ReleasePluginResponse when the
// record sits in a response the plug-in filled). Enums become their enumerator's name when
// `registry` knows it, else their number.
HostValue toHostValue(const BindingValue& value, const BindingTypeRegistry* registry);

// Frees what toHostValue allocated for `record` and leaves it of kind 0. Only for records the
// plug-in built; never for the host's.
void ReleaseHostValue(HostValue& record);

// The release function the plug-in puts into responses it fills: frees the value and the error
// text it allocated, then clears both.
void ReleasePluginResponse(HostResponse* response);

// Turns `response` into a failure: gives what it holds back through its release function,
// then writes a copy of `message` as the error text, sets the error flag to 1 and installs
// ReleasePluginResponse so the copy is freed in turn.
void FailHostResponse(HostResponse& response, std::string_view message);

}  // namespace binding

#endif  // BINDING_HOST_VALUE_CONVERSION_H_
