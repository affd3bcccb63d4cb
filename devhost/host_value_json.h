// JSON for the host's plain value records: the development host answers HTTP clients, streams
// events and writes telemetry as JSON, and answers the plug-in's resource calls with records it
// builds from stored JSON.
#ifndef DEVHOST_HOST_VALUE_JSON_H_
#define DEVHOST_HOST_VALUE_JSON_H_

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plugin_host_interface.h"
#include "rapidjson/document.h"

namespace devhost {

// Compact JSON of a record the plug-in built (borrowed; nothing is kept). Kind 0 is null, byte
// values are written as base64 text, object entries in record order, entries whose present byte
// is 0 left out. Texts are written up to their length (or NUL when the length is 0).
std::string HostValueToJson(const HostValue& record);

// A record tree owned by the host: the texts and arrays live as long as this object, which
// may be moved freely (the storage does not move with it).
class OwnedHostValue {
 public:
  OwnedHostValue();  // kind 0
  // Numbers: negative integers are signed, other integers unsigned, the rest doubles.
  static OwnedHostValue FromJson(const rapidjson::Value& json);
  // nullopt with `error` set when `json` is not one JSON document.
  static std::optional<OwnedHostValue> ParseJson(std::string_view json, std::string& error);
  static OwnedHostValue TextList(const std::vector<std::string>& texts);
  static OwnedHostValue TextObject(const std::vector<std::pair<std::string, std::string>>& members);

  const HostValue& record() const { return root_; }

 private:
  struct Storage {
    std::deque<std::string> texts;
    std::deque<std::vector<HostValue>> values;
    std::deque<std::vector<HostObjectEntry>> entries;
  };
  HostValue Build(const rapidjson::Value& json);
  HostValue Text(std::string text);

  std::unique_ptr<Storage> storage_;
  HostValue root_{};
};

}  // namespace devhost

#endif  // DEVHOST_HOST_VALUE_JSON_H_
