#include "binding/yaml_bridge.h"

#include <yaml.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/binding_static_type.h"
#include "logging/positional_formatter.h"

namespace binding {
namespace {

constexpr std::string_view kStringTag = "tag:yaml.org,2002:str";
constexpr std::string_view kIntegerTag = "tag:yaml.org,2002:int";
constexpr std::string_view kFloatTag = "tag:yaml.org,2002:float";
constexpr std::string_view kBoolTag = "tag:yaml.org,2002:bool";
// Tagged values are named this in conversion messages.
constexpr std::string_view kTaggedValueName = "yaml";

std::string_view View(const yaml_char_t* text) {
  return text == nullptr ? std::string_view()
                         : std::string_view(reinterpret_cast<const char*>(text));
}

// libyaml's account of why it stopped.
std::string YamlParserError(const yaml_parser_t& parser) {
  std::string_view problem;
  switch (parser.error) {
    case YAML_MEMORY_ERROR:
      problem = "out of memory";
      break;
    case YAML_READER_ERROR:
    case YAML_SCANNER_ERROR:
    case YAML_PARSER_ERROR:
      problem = parser.problem != nullptr ? std::string_view(parser.problem) : "unknown problem";
      break;
    default:
      problem = "unknown problem";
      break;
  }
  return logging::FormatPositional("YAML parser error: %1. At line: %2 col: %3",
                                   {problem, parser.problem_mark.line, parser.problem_mark.column});
}

// 1: true, 0: false, -1: not a boolean word.
int BooleanWord(std::string_view text) {
  static constexpr std::string_view kTrue[] = {"true", "True", "TRUE", "y",  "Y", "yes",
                                               "Yes",  "YES",  "on",   "On", "ON"};
  static constexpr std::string_view kFalse[] = {"false", "False", "FALSE", "n",   "N",  "no",
                                                "No",    "NO",    "off",   "Off", "OFF"};
  if (text.size() > 5) return -1;
  for (std::string_view word : kTrue) {
    if (text == word) return 1;
  }
  for (std::string_view word : kFalse) {
    if (text == word) return 0;
  }
  return -1;
}

bool IsNullWord(std::string_view text) {
  return text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL";
}

// Types a plain scalar that reads as a number the way strtod reads it. False when it is not one.
bool TypePlainNumber(BindingValue& target, const char* text, std::size_t length) {
  // Up to 15 digits are below 2^53, where strtod is exact: the common case needs no strtod.
  const bool negative = text[0] == '-';
  const std::size_t digits_start = negative ? 1 : 0;
  if (length > digits_start && length - digits_start <= 15) {
    std::uint64_t number = 0;
    std::size_t i = digits_start;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i)
      number = number * 10 + (text[i] - '0');
    if (i == length) {
      // "-0" is an integral value that is not below zero.
      if (negative && number != 0) {
        target.setSigned(-static_cast<std::int64_t>(number));
      } else {
        target.setUnsigned(number);
      }
      return true;
    }
  }
  // Everything strtod accepts starts with one of these (it also skips leading spaces).
  const char first = text[0];
  if (!(std::strchr("0123456789+-.iInN \t\n\v\f\r", first) != nullptr && first != '\0'))
    return false;
  char* end = nullptr;
  const double number = std::strtod(text, &end);
  if (end != text + length || number == HUGE_VAL) return false;
  if (std::isnan(number) || number != std::trunc(number)) {
    target.setFloat(number);
  } else if (number < 0) {
    // Below -2^63 (or -inf) there is no signed form; the double is kept.
    if (number >= -9223372036854775808.0) {
      target.setSigned(static_cast<std::int64_t>(number));
    } else {
      target.setFloat(number);
    }
  } else if (number < 18446744073709551616.0) {
    target.setUnsigned(static_cast<std::uint64_t>(number));
  } else {
    // 2^64 and more has no unsigned form; the double keeps the magnitude rather than a wrong
    // number.
    target.setFloat(number);
  }
  return true;
}

std::string IncorrectFormat(std::string_view text, std::string_view type_name) {
  return logging::FormatPositional("Value %1 for '%2' of type %3 is in an incorrect format",
                                   {text, kTaggedValueName, type_name});
}

std::string OutOfRange(std::string_view text, std::string_view type_name) {
  return logging::FormatPositional("Value %1 for '%2' of type %3 is out of range",
                                   {text, kTaggedValueName, type_name});
}

// A !!int scalar, read with the rules that assign text to a 64-bit integer member.
void TypeTaggedInteger(BindingConversionResult& result, BindingValue& target, const char* text,
                       std::size_t length) {
  const std::string_view view(text, length);
  char* end = nullptr;
  errno = 0;
  if (length != 0 && text[0] == '-') {
    const long long number = std::strtoll(text, &end, 0);
    if (end != text + length) {
      fail(result, IncorrectFormat(view, "int64_t"));
    } else if (errno == ERANGE) {
      fail(result, OutOfRange(view, "int64_t"));
    } else {
      target.setSigned(number);
    }
    return;
  }
  const unsigned long long number = std::strtoull(text, &end, 0);
  if (end != text + length) {
    fail(result, IncorrectFormat(view, "uint64_t"));
  } else if (errno == ERANGE) {
    fail(result, OutOfRange(view, "uint64_t"));
  } else {
    target.setUnsigned(number);
  }
}

void TypeTaggedFloat(BindingConversionResult& result, BindingValue& target, const char* text,
                     std::size_t length) {
  const std::string_view view(text, length);
  constexpr double kMax = 1.7976931348623157e308;
  char* end = nullptr;
  errno = 0;
  const double number = std::strtod(text, &end);
  if (end != text + length) {
    fail(result, IncorrectFormat(view, "double"));
  } else if (errno == ERANGE || number < -kMax || number > kMax) {
    fail(result, OutOfRange(view, "double"));
  } else {
    target.setFloat(number);
  }
}

// `text` is NUL-terminated at `length`, as libyaml hands scalars over.
void TypeScalar(BindingConversionResult& result, BindingValue& target, std::string_view tag,
                const char* text, std::size_t length, bool quoted) {
  const std::string_view view(text, length);
  if (!tag.empty()) {
    if (tag == kStringTag) {
      target.setString(view);
    } else if (tag == kIntegerTag) {
      TypeTaggedInteger(result, target, text, length);
    } else if (tag == kFloatTag) {
      TypeTaggedFloat(result, target, text, length);
    } else if (tag == kBoolTag) {
      // A word that is no boolean leaves the value as it was.
      const int word = BooleanWord(view);
      if (word >= 0) target.setBool(word == 1);
    } else {
      fail(result, logging::FormatPositional("Unsupported YAML tag '%1'.", {tag}));
    }
    return;
  }
  if (quoted) {
    target.setString(view);
  } else if (IsNullWord(view)) {
    if (!target.isEmpty()) target.clear();
  } else if (!TypePlainNumber(target, text, length)) {
    const int word = BooleanWord(view);
    if (word >= 0) {
      target.setBool(word == 1);
    } else {
      target.setString(view);
    }
  }
}

// One step from the root towards a node.
struct PathStep {
  enum class Kind : std::uint8_t { kRoot, kIndex, kKey };
  Kind kind = Kind::kRoot;
  std::size_t index = 0;
  std::string key;
};

// What an anchor stands for: the text of an anchored mapping key, or the place of an anchored node.
struct Anchor {
  bool is_key_text = false;
  std::string key_text;
  std::vector<PathStep> path;
};

struct AnchorNameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const { return Fnv1a(name); }
};

class YamlLoader {
 public:
  explicit YamlLoader(BindingConversionResult& result) : result_(result) { open_.resize(16); }

  void Load(std::string_view text) {
    // libyaml allocates with the C library's malloc and offers no hook for another allocator;
    // counting its buffers would mean interposing malloc for the whole host process. So YAML
    // parsing is the one part of the plug-in's heap use the memory statistics do not cover.
    yaml_parser_t parser;
    if (!yaml_parser_initialize(&parser)) {
      fail(result_, YamlParserError(parser));
      return;
    }
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    // libyaml insists on a non-null input even when it is empty.
    const char* input = text.data() != nullptr ? text.data() : "";
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(input),
                                 text.size());
    bool parser_failed = false;
    for (;;) {
      yaml_event_t event;
      if (!yaml_parser_parse(&parser, &event)) {
        parser_failed = true;
        break;
      }
      const bool stream_ended = event.type == YAML_STREAM_END_EVENT;
      Handle(event);
      yaml_event_delete(&event);
      if (stream_ended || !result_.ok) break;
    }
    if (result_.ok && parser_failed) fail(result_, YamlParserError(parser));
    yaml_parser_delete(&parser);
  }

 private:
  struct OpenNode {
    BindingValue* value = nullptr;
    bool is_structure = false;
    std::string anchor;  // empty when the node has none
    PathStep step;       // how the node is reached from its parent
  };

  void Handle(const yaml_event_t& event) {
    switch (event.type) {
      case YAML_DOCUMENT_START_EVENT:
        if (!result_.value.isEmpty()) Fail("Multi-document YAML is not supported.");
        return;
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT:
        if (depth_ != 0) --depth_;
        key_pending_ = false;
        return;
      case YAML_SCALAR_EVENT:
      case YAML_SEQUENCE_START_EVENT:
      case YAML_MAPPING_START_EVENT:
      case YAML_ALIAS_EVENT:
        break;
      default:
        return;  // stream start and end, document end
    }
    BindingValue* target = ChooseTarget();
    switch (event.type) {
      case YAML_SCALAR_EVENT:
        OnScalar(event, target);
        return;
      case YAML_SEQUENCE_START_EVENT:
        OnContainerStart(event, target, /*is_structure=*/false);
        return;
      case YAML_MAPPING_START_EVENT:
        OnContainerStart(event, target, /*is_structure=*/true);
        return;
      case YAML_ALIAS_EVENT:
        OnAlias(event, target);
        return;
      default:
        return;
    }
  }

  // The value the event fills, or nullptr when it stands in a mapping's key position. Records in
  // `step_` how that value is reached from its parent.
  BindingValue* ChooseTarget() {
    if (depth_ == 0) {
      step_.kind = PathStep::Kind::kRoot;
      return &result_.value;
    }
    OpenNode& parent = open_[depth_ - 1];
    if (!parent.is_structure) {
      step_.kind = PathStep::Kind::kIndex;
      step_.index = parent.value->size();
      return &parent.value->appendElement();
    }
    if (!key_pending_) return nullptr;
    key_pending_ = false;
    step_.kind = PathStep::Kind::kKey;
    step_.key.assign(pending_key_);
    return &parent.value->fieldForWrite(pending_key_);
  }

  void OnScalar(const yaml_event_t& event, BindingValue* target) {
    const auto& scalar = event.data.scalar;
    const char* text = reinterpret_cast<const char*>(scalar.value);
    const std::string_view tag = View(scalar.tag);
    if (target == nullptr) {
      if (!tag.empty() && tag != kStringTag) {
        FailAt(event,
               "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2");
        return;
      }
      pending_key_.assign(text, scalar.length);
      key_pending_ = true;
      if (scalar.anchor != nullptr) {
        Anchor anchor;
        anchor.is_key_text = true;
        anchor.key_text = pending_key_;
        Register(event, View(scalar.anchor), std::move(anchor));
      }
      return;
    }
    const bool quoted = scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                        scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
    TypeScalar(result_, *target, tag, text, scalar.length, quoted);
    if (result_.ok && scalar.anchor != nullptr) {
      Anchor anchor;
      anchor.path = OpenPath();
      if (step_.kind != PathStep::Kind::kRoot) anchor.path.push_back(step_);
      Register(event, View(scalar.anchor), std::move(anchor));
    }
  }

  void OnContainerStart(const yaml_event_t& event, BindingValue* target, bool is_structure) {
    if (target == nullptr) {
      FailAt(event, is_structure ? "Unexpected start of mapping. At line: %1 col: %2"
                                 : "Unexpected start of sequence. At line: %1 col: %2");
      return;
    }
    if (depth_ >= kMaxYamlDepth) {
      FailDepth(event);
      return;
    }
    // A repeated key's new value replaces the old one as a whole.
    if (!target->isEmpty()) target->clear();
    if (is_structure) {
      target->reserveFields(0);
    } else {
      target->reserve(0);
    }
    if (depth_ == open_.size()) open_.resize(open_.size() * 2);
    OpenNode& node = open_[depth_++];
    node.value = target;
    node.is_structure = is_structure;
    node.step.kind = step_.kind;
    node.step.index = step_.index;
    if (step_.kind == PathStep::Kind::kKey) node.step.key.assign(step_.key);
    const yaml_char_t* anchor_name =
        is_structure ? event.data.mapping_start.anchor : event.data.sequence_start.anchor;
    node.anchor.assign(View(anchor_name));
    if (anchor_name != nullptr) {
      Anchor anchor;
      anchor.path = OpenPath();
      Register(event, View(anchor_name), std::move(anchor));
    }
  }

  void OnAlias(const yaml_event_t& event, BindingValue* target) {
    const std::string_view name = View(event.data.alias.anchor);
    for (std::size_t i = depth_; i-- > 0;) {
      if (open_[i].anchor == name) {
        FailCyclic(event, name);
        return;
      }
    }
    const auto found = anchors_.find(name);
    if (found == anchors_.end()) {
      Fail(logging::FormatPositional(
          "Undefined alias encountered: \"%1\". At line: %2 col: %3",
          {name, event.start_mark.line + 1, event.start_mark.column + 1}));
      return;
    }
    const Anchor& anchor = found->second;
    const BindingValue* source = anchor.is_key_text ? nullptr : &Resolve(anchor.path);
    if (target == nullptr) {
      // An alias used as a mapping key must stand for text.
      if (source != nullptr && source->kind() != BindingValueKind::kString) {
        FailAt(event,
               "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2");
        return;
      }
      pending_key_.assign(source != nullptr ? source->getString() : anchor.key_text);
      key_pending_ = true;
      return;
    }
    if (source == nullptr) {
      target->setString(anchor.key_text);
      return;
    }
    // A repeated key can make an anchored path lead to a node that is open again.
    for (std::size_t i = 0; i < depth_; ++i) {
      if (open_[i].value == source) {
        FailCyclic(event, name);
        return;
      }
    }
    std::size_t nodes = 0;
    const std::size_t height = Measure(*source, nodes);
    if (depth_ + height > kMaxYamlDepth) {
      FailDepth(event);
      return;
    }
    alias_nodes_ += nodes;
    if (alias_nodes_ > kMaxYamlAliasNodes) {
      Fail(logging::FormatPositional(
          "Aliases expand the document beyond %1 nodes. Alias \"%2\". At line: %3 col: %4",
          {kMaxYamlAliasNodes, name, event.start_mark.line + 1, event.start_mark.column + 1}));
      return;
    }
    *target = *source;
  }

  // Container levels of `value` (0 for a scalar); adds its node count to `nodes`.
  static std::size_t Measure(const BindingValue& value, std::size_t& nodes) {
    ++nodes;
    std::size_t height = 0;
    if (value.kind() == BindingValueKind::kCollection) {
      for (const BindingValue& element : value.elements()) {
        height = std::max(height, Measure(element, nodes));
      }
      return height + 1;
    }
    if (value.kind() == BindingValueKind::kStructure) {
      for (const BindingStructureEntry& field : value.fields()) {
        height = std::max(height, Measure(field.value(), nodes));
      }
      return height + 1;
    }
    return 0;
  }

  std::vector<PathStep> OpenPath() const {
    std::vector<PathStep> path;
    path.reserve(depth_ + 1);
    for (std::size_t i = 0; i < depth_; ++i) {
      if (open_[i].step.kind != PathStep::Kind::kRoot) path.push_back(open_[i].step);
    }
    return path;
  }

  const BindingValue& Resolve(const std::vector<PathStep>& path) const {
    const BindingValue* node = &result_.value;
    for (const PathStep& step : path) {
      node =
          step.kind == PathStep::Kind::kKey ? &node->field(step.key) : &node->element(step.index);
    }
    return *node;
  }

  void Register(const yaml_event_t& event, std::string_view name, Anchor&& anchor) {
    const auto [where, inserted] = anchors_.try_emplace(std::string(name), std::move(anchor));
    if (!inserted) {
      Fail(logging::FormatPositional(
          "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3",
          {name, event.start_mark.line + 1, event.start_mark.column + 1}));
    }
  }

  void FailCyclic(const yaml_event_t& event, std::string_view name) {
    Fail(logging::FormatPositional(
        "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3",
        {name, event.start_mark.line + 1, event.start_mark.column + 1}));
  }

  void FailDepth(const yaml_event_t& event) {
    Fail(logging::FormatPositional(
        "Sequences and mappings nested deeper than %1 levels are not supported. At line: %2 col: "
        "%3",
        {kMaxYamlDepth, event.start_mark.line + 1, event.start_mark.column + 1}));
  }

  void FailAt(const yaml_event_t& event, std::string_view format) {
    Fail(logging::FormatPositional(format,
                                   {event.start_mark.line + 1, event.start_mark.column + 1}));
  }

  void Fail(const std::string& message) { fail(result_, message); }

  BindingConversionResult& result_;
  // Open sequences and mappings, outermost first; slots past `depth_` keep their buffers for reuse.
  std::vector<OpenNode> open_;
  std::size_t depth_ = 0;
  std::string pending_key_;
  bool key_pending_ = false;
  PathStep step_;
  std::unordered_map<std::string, Anchor, AnchorNameHash, std::equal_to<>> anchors_;
  std::size_t alias_nodes_ = 0;
};

}  // namespace

BindingConversionResult parseYaml(std::string_view text) {
  BindingConversionResult result;
  YamlLoader(result).Load(text);
  return result;
}

}  // namespace binding
