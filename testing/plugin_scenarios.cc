#include "testing/plugin_scenarios.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Plugins/zpk-be-ulix-auth/refresh_timing.h"
#include "binding/host_value_conversion.h"
#include "binding/json_bridge.h"
#include "gtest/gtest.h"
#include "testing/plugin_test_host.h"

namespace ulix_testing {
namespace {

using ulix_auth::BackoffGenerator;
using ulix_auth::JitterGenerator;

FakeValue ParseValue(const std::string& json) {
  binding::BindingConversionResult parsed = binding::parseJson(json.c_str());
  EXPECT_TRUE(parsed.ok) << json;
  HostValue record = binding::toHostValue(parsed.value, nullptr);
  FakeValue value = FakeValue::FromHost(record);
  binding::ReleaseHostValue(record);
  return value;
}

// The minimal standard generator, computed here on its own: the prediction must not share a
// fault with the code it checks.
struct Predictor {
  std::uint64_t state;
  std::uint64_t Next() { return state = state * 48271 % 2147483647; }
};

// A delay as the log line writes it (tenths) and as the timer line does (milliseconds).
std::string Format(const char* format, double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, format, seconds);
  return text;
}

// Below this, a draw of the backoff generator can give a retry delay of 0 ms.
constexpr std::uint64_t kSmallDraw = 2147483646u / 1001 + 1;

// A refresh is drawn 90 to 30 seconds before the lifetime ends: a uniform moment in the minute
// before the refresh delay.
double JitterDelay(Predictor& jitter, double refresh_delay) {
  constexpr double kRange = 2147483646.0;
  const double first = static_cast<double>(jitter.Next() - 1);
  const double second = static_cast<double>(jitter.Next() - 1);
  const double unit = (first + second * kRange) / (kRange * kRange);
  return refresh_delay - 60.0 + 60.0 * unit;
}

// A retry waits a whole number of milliseconds drawn uniformly from [0, cap], by rejection.
double BackoffDelay(Predictor& backoff, double cap_seconds) {
  const std::uint64_t range = static_cast<std::uint64_t>(std::llround(cap_seconds * 1000)) + 1;
  const std::uint64_t scaling = 2147483646u / range;
  std::uint64_t drawn;
  do {
    drawn = backoff.Next() - 1;
  } while (drawn >= range * scaling);
  return static_cast<double>(drawn / scaling) * 0.001;
}

// "${name args}" with nested braces in args; `expand` gives the text of one macro.
template <typename Expand>
std::string ExpandMacros(const std::string& line, Expand expand) {
  std::string out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t begin = line.find("${", at);
    if (begin == std::string::npos) break;
    int depth = 0;
    std::size_t end = begin + 1;
    for (; end < line.size(); ++end) {
      if (line[end] == '{') ++depth;
      if (line[end] == '}' && --depth == 0) break;
    }
    out += line.substr(at, begin - at);
    const std::string body = line.substr(begin + 2, end - begin - 2);
    const std::size_t space = body.find(' ');
    out += expand(body.substr(0, space), space == std::string::npos ? "" : body.substr(space + 1));
    at = end + 1;
  }
  return out + line.substr(std::min(at, line.size()));
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string DataMacro(const std::string& name, const std::string& args) {
  if (name == "access") return AccessTokenFor(args.empty() ? "player-1" : args);
  if (name == "id-token") return IdTokenText();
  if (name == "config-token") return ConfigToken();
  if (name == "service-token") return ServiceToken(args);
  if (name == "discovery") return DiscoveryBody();
  if (name == "token-reply") {
    std::istringstream in(args);
    std::string subject, word;
    int expires_in = 3600;
    bool id = true, refresh = true;
    for (in >> subject; in >> word;) {
      if (word == "no-id") {
        id = false;
      } else if (word == "no-refresh") {
        refresh = false;
      } else {
        expires_in = std::stoi(word);
      }
    }
    return *TokenReply(AccessTokenFor(subject), expires_in, id, refresh).body;
  }
  ADD_FAILURE() << "unknown macro " << name;
  return "";
}

struct Step {
  std::string action;  // macros expanded
  bool compared = true;
  std::vector<std::string> expected;  // macros other than the draws expanded
};

struct Scenario {
  std::string file, name;
  std::vector<Step> steps;
};

std::vector<Scenario> ReadScenarios(const std::filesystem::path& path) {
  std::vector<Scenario> scenarios;
  Scenario prelude;  // the lines before the first scenario, which every scenario starts with
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line.starts_with("#")) continue;
    if (line.starts_with("== ")) {
      scenarios.push_back({path.filename().string(), line.substr(3), prelude.steps});
      continue;
    }
    const auto data = [](const std::string& text) {
      return ExpandMacros(text, [](const std::string& name, const std::string& args) {
        if (name == "jitter" || name == "backoff" || name == "last") {
          return "${" + name + (args.empty() ? "" : " " + args) + "}";
        }
        return DataMacro(name, args);
      });
    };
    std::vector<Step>& steps = (scenarios.empty() ? prelude : scenarios.back()).steps;
    if (line.starts_with("  ")) {
      if (!steps.empty()) steps.back().expected.push_back(data(line.substr(2)));
      continue;
    }
    Step step;
    step.compared = !line.starts_with("~");
    step.action = data(step.compared ? line : line.substr(1));
    steps.push_back(std::move(step));
  }
  return scenarios;
}

class Runner {
 public:
  explicit Runner(const Scenario& scenario) : scenario_(scenario) {
    test_.DetailTranscript();
    test_.service().Answer(kTokenUrl, TokenReply(AccessTokenFor()));
  }

  // Runs the scenario; the transcripts, expected and actual.
  void Run(std::vector<std::string>& expected, std::vector<std::string>& actual) {
    for (const Step& step : scenario_.steps) {
      Predictor jitter{JitterGenerator().Next()};
      // A retry drawn as 0 ms would fall due within the step that scheduled it, and the
      // scenario would see one retry more there: the backoff generator is moved past draws that
      // small for a cap of a second or more (one in a thousand).
      Predictor backoff{BackoffGenerator().Next()};
      while (Predictor{backoff.state}.Next() - 1 < kSmallDraw)
        backoff.state = BackoffGenerator().Next();
      // The answer of a request follows the calls the plug-in made while serving it.
      const std::optional<std::string> answer = Perform(step.action);
      std::vector<std::string> lines = test_.TakeTranscript();
      if (answer) lines.push_back("= " + *answer);
      std::erase_if(lines, [&](const std::string& line) {
        return std::ranges::any_of(hidden_, [&](auto& prefix) { return line.starts_with(prefix); });
      });
      for (std::string& line : lines) line = Identifiers(line);
      if (!step.compared) continue;
      expected.push_back(step.action);
      actual.push_back(step.action);
      double last = 0;  // the delay drawn last, for the timer line that follows it
      for (const std::string& line : step.expected) {
        expected.push_back(
            "  " + ExpandMacros(line, [&](const std::string& name, const std::string& args) {
              if (name == "last") return Format("%.3f", last);
              last = name == "jitter" ? JitterDelay(jitter, std::stod(args))
                                      : BackoffDelay(backoff, std::stod(args));
              return Format("%.1f", last);
            }));
      }
      for (const std::string& line : lines) actual.push_back("  " + line);
    }
  }

 private:
  // Every run of exactly 32 lower-case hexadecimal digits, between characters that are neither
  // letters nor digits, as <idN>.
  std::string Identifiers(const std::string& line) {
    static const std::regex kIdentifier("(^|[^0-9A-Za-z])([0-9a-f]{32})(?![0-9A-Za-z])");
    std::string out;
    std::size_t at = 0;
    for (std::sregex_iterator it(line.begin(), line.end(), kIdentifier), end; it != end; ++it) {
      const std::size_t begin = static_cast<std::size_t>(it->position(2));
      auto [found, added] = identifiers_.emplace(it->str(2), identifiers_.size() + 1);
      out += line.substr(at, begin - at) + "<id" + std::to_string(found->second) + ">";
      at = begin + 32;
    }
    return out + line.substr(at);
  }

  // The answer, for a request.
  std::optional<std::string> Perform(const std::string& action) {
    const std::size_t space = action.find(' ');
    const std::string verb = action.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : action.substr(space + 1);
    const std::vector<std::string> words = Words(rest);
    static const std::map<std::string, std::uint32_t> kMethods = {{"GET", kHostMethodGet},
                                                                  {"POST", kHostMethodPost},
                                                                  {"PUT", kHostMethodPut},
                                                                  {"DELETE", kHostMethodDelete}};
    if (auto method = kMethods.find(verb); method != kMethods.end()) {
      const std::size_t body = rest.find(' ');
      std::optional<std::string> json;
      if (body != std::string::npos) json = rest.substr(body + 1);
      return test_.Text(method->second, rest.substr(0, body), json);
    }
    static const std::map<std::string, std::pair<std::string, std::string>> kShortcuts = {
        {"sign-on",
         {kTokenUrl, std::string("POST /ulix-auth/v1/authorization/gas ") + kSignOnBody}},
        {"refresh", {kTokenUrl, "POST /ulix-auth/v1/authorization/refresh"}},
        {"sign-off", {kRevokeUrl, "DELETE /ulix-auth/v1/authorization"}},
        {"user-info", {kUserInfoUrl, "POST /ulix-auth/v1/authorization/userinfo"}}};
    if (auto shortcut = kShortcuts.find(verb); shortcut != kShortcuts.end()) {
      if (!rest.empty()) Perform("answer-once " + shortcut->second.first + " " + rest);
      return Perform(shortcut->second.second);
    }
    if (verb == "command-line") {
      test_.SetCommandLine(words);
    } else if (verb == "region" || verb == "install") {
      std::optional<FakeValue> value;
      if (rest != "none") value = ParseValue(rest);
      verb == "region" ? test_.SetRegionSettings(value) : test_.SetInstallSettings(value);
    } else if (verb == "refuse-install-write") {
      test_.RefuseInstallSettingsWrite();
    } else if (verb == "manager-status") {
      test_.host().ScriptResource("/plugin-manager/v1/status", ParseValue(rest));
    } else if (verb == "answer" || verb == "answer-once") {
      const std::size_t at = rest.find(' ', rest.find(' ') + 1);
      const int status = std::stoi(words.at(1));
      FakeHost::HttpAnswer answer{0, static_cast<std::uint32_t>(status),
                                  at == std::string::npos ? "" : rest.substr(at + 1)};
      if (status == 0) answer = {1, 0, "refused"};
      verb == "answer" ? test_.service().Answer(words.at(0), answer)
                       : test_.service().AnswerOnce(words.at(0), answer);
    } else if (verb == "hide" || verb == "show") {
      for (std::size_t at = 0, end; at <= rest.size(); at = end + 2) {
        end = std::min(rest.find("; ", at), rest.size());
        std::erase(hidden_, rest.substr(at, end - at));
        if (verb == "hide") hidden_.push_back(rest.substr(at, end - at));
      }
    } else if (verb == "start") {
      test_.Start(rest != "unapplied");
    } else if (verb == "stop") {
      test_.Stop();
    } else if (verb == "refresh-tokens") {
      // What the refresh timer runs, with the access token it was scheduled for.
      const std::optional<Vorn::RemotingError> error = test_.plugin().RefreshTokens(rest);
      return error ? std::to_string(error->status) + " " + error->message : "ok";
    } else if (verb == "advance") {
      test_.Advance(std::stod(rest));
    } else if (verb == "fire") {
      test_.host().FireScheduled();
    } else if (verb == "deliver") {
      test_.host().Deliver(words.at(0), ParseValue(rest.substr(rest.find(' ') + 1)));
    } else {
      ADD_FAILURE() << "unknown action: " << action;
    }
    return std::nullopt;
  }

  const Scenario& scenario_;
  PluginTestHost test_;
  // The client's telemetry has tests of its own.
  std::vector<std::string> hidden_ = {"resource POST /telemetry/"};
  std::map<std::string, std::size_t> identifiers_;
};

}  // namespace

void RunScenarioFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".txt") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  EXPECT_FALSE(files.empty()) << folder;
  for (const std::filesystem::path& file : files) {
    for (const Scenario& scenario : ReadScenarios(file)) {
      SCOPED_TRACE(scenario.file + ": " + scenario.name);
      std::vector<std::string> expected, actual;
      Runner(scenario).Run(expected, actual);
      const auto text = [](const std::vector<std::string>& lines) {
        std::string joined;
        for (const std::string& line : lines) joined += line + "\n";
        return joined;
      };
      EXPECT_EQ(text(expected), text(actual));
      if (const char* folder = std::getenv("SCENARIO_ACTUAL"); folder != nullptr) {
        // For a developer changing the plug-in: the actual transcripts, to compare whole.
        std::ofstream out(std::filesystem::path(folder) / scenario.file, std::ios::app);
        out << "== " << scenario.name << "\n";
        for (const std::string& line : actual) out << line << "\n";
      }
    }
  }
}

}  // namespace ulix_testing
