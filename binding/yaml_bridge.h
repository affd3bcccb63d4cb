// YAML text to BindingValue trees. Request bodies and configuration values may be YAML; there is
// no YAML writer.
#ifndef BINDING_YAML_BRIDGE_H_
#define BINDING_YAML_BRIDGE_H_

#include <cstddef>
#include <string_view>

#include "binding/binding_value.h"

namespace binding {

// Sequences and mappings nested deeper than this fail, also when an alias copy would make the
// tree deeper: the tree's destruction and copies recurse once per level.
inline constexpr std::size_t kMaxYamlDepth = 512;
// Aliases are copied, so a few of them can describe an enormous tree; past this many copied nodes
// the document is refused.
inline constexpr std::size_t kMaxYamlAliasNodes = 1 << 20;

// Parses one YAML document (UTF-8, `text` borrowed for the call) into a value. Untagged plain
// scalars are typed: null words give the empty value, numbers "unsigned", "signed" or "float",
// boolean words (yes, On, n, ...) bool, anything else a string; quoted scalars are strings. Tags
// !!str, !!int, !!float and !!bool are honoured; others fail. Aliases copy their anchor's node as
// it stands when the alias is read. Mapping keys must be string scalars. Blank text gives the
// empty value with `ok` 1; a second document fails. Loader messages give lines and columns
// counted from 1, messages of the underlying parser as it counts them, from 0. Thread-safe: no
// shared state.
BindingConversionResult parseYaml(std::string_view text);

}  // namespace binding

#endif  // BINDING_YAML_BRIDGE_H_
