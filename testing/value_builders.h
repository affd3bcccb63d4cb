// Short ways to write expected value trees in tests: List({a, b}) and Map({{"k", v}}).
#ifndef TESTING_VALUE_BUILDERS_H_
#define TESTING_VALUE_BUILDERS_H_

#include <initializer_list>
#include <utility>

#include "binding/binding_value.h"

namespace ulix_testing {

inline binding::BindingValue List(std::initializer_list<binding::BindingValue> items) {
  binding::BindingValue list;
  list.reserve(items.size());
  for (const binding::BindingValue& item : items) list.appendElement() = item;
  return list;
}

// An empty initializer list still gives a structure, not an empty value.
inline binding::BindingValue Map(
    std::initializer_list<std::pair<const char*, binding::BindingValue>> fields) {
  binding::BindingValue map;
  map.reserveFields(0);
  for (const auto& [key, value] : fields) map.fieldForWrite(key) = value;
  return map;
}

}  // namespace ulix_testing

#endif  // TESTING_VALUE_BUILDERS_H_
