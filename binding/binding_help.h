// The help document of a registry: every function, type and event described either as records
// of the builtin help types ("Full") or as epytext texts ("Epytext").
#ifndef BINDING_BINDING_HELP_H_
#define BINDING_BINDING_HELP_H_

#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_builtins.h"
#include "binding/binding_type_registry.h"
#include "binding/binding_value.h"

namespace binding {

// The structure {"events", "functions", "types"}, each sorted by name in byte order. "Full": each
// field a collection of help records converted through the descriptors registered in `registry`
// (an item stays empty when its help type is not registered); "Epytext": each field a structure
// from name to text. A list with nothing in it leaves its field empty. Another format fails with
// "Unsupported help format %1". Reads the descriptors only; call it after registration ends.
BindingConversionResult buildApiHelp(const BindingTypeRegistry& registry,
                                     std::vector<const BindingFunctionDescriptor*> functions,
                                     std::vector<const BindingTypeDescriptor*> types,
                                     std::vector<const BindingEventDescriptor*> events,
                                     BindingHelpFormat format);

// The epytext escape: a leading "-" becomes "E{-}", braces "E{lb}" and "E{rb}".
std::string EpytextEscape(std::string_view text);

// The epytext text of one function, struct or enum, or event; lines end with CR LF.
std::string FunctionEpytext(const BindingFunctionDescriptor& function);
std::string TypeEpytext(const BindingTypeDescriptor& type);
std::string EventEpytext(const BindingEventDescriptor& event);

}  // namespace binding

#endif  // BINDING_BINDING_HELP_H_
