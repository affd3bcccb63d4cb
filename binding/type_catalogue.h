// The type catalogue handed to the host at load: packed records of the registered functions,
// types and events, and the holder that keeps them (and their tag arrays) alive.
#ifndef BINDING_TYPE_CATALOGUE_H_
#define BINDING_TYPE_CATALOGUE_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "binding/binding_type_registry.h"
#include "plugin_host_interface.h"

namespace binding {

// Owns the record arrays of one catalogue. Texts point into the registry's descriptors, so the
// registry must outlive the holder and must not change while the host may read the records.
// Immutable once built (apart from the one function-array swap at load), so any thread may read.
class TypeCatalogueHolder {
 public:
  TypeCatalogueHolder() = default;
  TypeCatalogueHolder(const TypeCatalogueHolder&) = delete;
  TypeCatalogueHolder& operator=(const TypeCatalogueHolder&) = delete;

  // The six words the host reads.
  const TypeCatalogue& catalogue() const { return catalogue_; }
  // The bare function records, in name order (also what the host sees until
  // ReplaceFunctionArray).
  std::span<const CatalogueFunction> functions() const { return functions_; }
  // The function record named `name`, or nullptr.
  const CatalogueFunction* FindFunction(std::string_view name) const;
  // Points the catalogue's function words at another array (the runtime's endpoint records),
  // which must outlive the holder's use by the host.
  void ReplaceFunctionArray(const void* records, std::uint32_t count);

 private:
  friend std::unique_ptr<TypeCatalogueHolder> buildTypeCatalogue(
      const std::vector<const BindingFunctionDescriptor*>&,
      const std::vector<const BindingTypeDescriptor*>&,
      const std::vector<const BindingEventDescriptor*>&);

  // Each array of texts or records is allocated once at its final size, so the addresses the
  // records hold stay put.
  std::vector<std::unique_ptr<const char*[]>> tag_arrays_;
  std::vector<std::unique_ptr<CatalogueArgument[]>> argument_arrays_;
  std::vector<std::unique_ptr<CatalogueField[]>> field_arrays_;
  std::vector<std::unique_ptr<CatalogueEnumerator[]>> enumerator_arrays_;
  std::vector<CatalogueFunction> functions_;
  std::vector<CatalogueType> types_;
  std::vector<CatalogueEvent> events_;
  TypeCatalogue catalogue_{};
};

// Builds the records from registry snapshots: each list in name order (byte order), arguments
// and fields in declaration order, enumerators in name order, each array chained through `next`
// and contiguous. A struct without fields is described by an empty enumerator array.
std::unique_ptr<TypeCatalogueHolder> buildTypeCatalogue(
    const std::vector<const BindingFunctionDescriptor*>& functions,
    const std::vector<const BindingTypeDescriptor*>& types,
    const std::vector<const BindingEventDescriptor*>& events);

}  // namespace binding

#endif  // BINDING_TYPE_CATALOGUE_H_
