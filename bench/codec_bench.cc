// Parsers and the JSON writer against the libraries a reader would otherwise reach for, on the
// bodies the plug-in sees: a token answer, a discovery document and a large array of records,
// each as JSON, MessagePack and YAML. Payloads are generated, so every run measures the same bytes.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Same setting as the library's reader, so both sides of the comparison share one tokeniser.
#if !defined(RAPIDJSON_SSE2) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define RAPIDJSON_SSE2
#endif
#include <yaml.h>

#include "bench/bench_main.h"
#include "benchmark/benchmark.h"
#include "binding/json_bridge.h"
#include "binding/message_pack_reader.h"
#include "binding/yaml_bridge.h"
#include "msgpack.hpp"
#include "nlohmann/json.hpp"
#include "rapidjson/document.h"
#include "rapidjson/reader.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"
#include "yaml-cpp/yaml.h"

namespace {

// A fixed linear congruential sequence: the same payloads on every machine and run.
class Sequence {
 public:
  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::string Base64Url(std::size_t length) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text(length, 'A');
    for (char& c : text) c = kAlphabet[Next() % 64];
    return text;
  }

 private:
  std::uint64_t state_ = 0x5EEDu;
};

std::string Jwt(Sequence& sequence, std::size_t length) {
  const std::size_t header = 36;
  const std::size_t signature = 342;
  return sequence.Base64Url(header) + "." + sequence.Base64Url(length - header - signature - 2) +
         "." + sequence.Base64Url(signature);
}

nlohmann::ordered_json TokenAnswer() {
  Sequence sequence;
  nlohmann::ordered_json answer;
  answer["access_token"] = Jwt(sequence, 1100);
  answer["token_type"] = "Bearer";
  answer["expires_in"] = 3600;
  answer["refresh_token"] = sequence.Base64Url(420);
  answer["refresh_expires_in"] = 7200;
  answer["id_token"] = Jwt(sequence, 1050);
  answer["scope"] = "openid profile email offline_access entitlements";
  answer["session_state"] = sequence.Base64Url(36);
  answer["not-before-policy"] = 0;
  return answer;
}

nlohmann::ordered_json Discovery() {
  const std::string issuer = "https://signon.example.test/realms/players";
  nlohmann::ordered_json document;
  document["issuer"] = issuer;
  for (const char* endpoint :
       {"authorization_endpoint", "token_endpoint", "introspection_endpoint", "userinfo_endpoint",
        "end_session_endpoint", "jwks_uri", "check_session_iframe", "registration_endpoint",
        "revocation_endpoint", "device_authorization_endpoint",
        "pushed_authorization_request_endpoint", "backchannel_authentication_endpoint"}) {
    document[endpoint] = issuer + "/protocol/openid-connect/" + endpoint;
  }
  document["grant_types_supported"] = {
      "authorization_code", "implicit",           "refresh_token",
      "password",           "client_credentials", "urn:ietf:params:oauth:grant-type:device_code"};
  document["response_types_supported"] = {
      "code",           "none",          "id_token",   "token",
      "id_token token", "code id_token", "code token", "code id_token token"};
  document["subject_types_supported"] = {"public", "pairwise"};
  const std::vector<std::string> algorithms = {"PS384", "ES384", "RS384", "HS256", "HS512",
                                               "ES256", "RS256", "HS384", "ES512", "PS256",
                                               "PS512", "RS512", "EdDSA"};
  for (const char* list :
       {"id_token_signing_alg_values_supported", "id_token_encryption_alg_values_supported",
        "userinfo_signing_alg_values_supported", "request_object_signing_alg_values_supported",
        "token_endpoint_auth_signing_alg_values_supported",
        "introspection_endpoint_auth_signing_alg_values_supported",
        "authorization_signing_alg_values_supported"}) {
    document[list] = algorithms;
  }
  document["claims_supported"] = {
      "aud",        "sub",           "iss",         "auth_time",
      "name",       "given_name",    "family_name", "preferred_username",
      "email",      "acr",           "locale",      "zoneinfo",
      "updated_at", "email_verified"};
  document["scopes_supported"] = {"openid",         "profile", "email",
                                  "offline_access", "roles",   "web-origins",
                                  "entitlements",   "address", "phone"};
  document["code_challenge_methods_supported"] = {"plain", "S256"};
  document["token_endpoint_auth_methods_supported"] = {"private_key_jwt", "client_secret_basic",
                                                       "client_secret_post", "tls_client_auth",
                                                       "client_secret_jwt"};
  document["response_modes_supported"] = {"query",        "fragment",      "form_post", "query.jwt",
                                          "fragment.jwt", "form_post.jwt", "jwt"};
  document["display_values_supported"] = {"page", "popup"};
  document["claim_types_supported"] = {"normal"};
  document["acr_values_supported"] = {"0", "1", "silver", "gold"};
  const std::vector<std::string> encodings = {"A256GCM",       "A192GCM",       "A128GCM",
                                              "A128CBC-HS256", "A192CBC-HS384", "A256CBC-HS512"};
  for (const char* list :
       {"id_token_encryption_enc_values_supported", "userinfo_encryption_enc_values_supported",
        "request_object_encryption_enc_values_supported",
        "authorization_encryption_enc_values_supported"}) {
    document[list] = encodings;
  }
  nlohmann::ordered_json aliases;
  for (const char* endpoint :
       {"token_endpoint", "revocation_endpoint", "introspection_endpoint",
        "device_authorization_endpoint", "registration_endpoint", "userinfo_endpoint",
        "pushed_authorization_request_endpoint", "backchannel_authentication_endpoint"}) {
    aliases[endpoint] =
        "https://mtls.signon.example.test/realms/players/protocol/" + std::string(endpoint);
  }
  document["mtls_endpoint_aliases"] = aliases;
  document["claims_parameter_supported"] = true;
  document["request_parameter_supported"] = true;
  document["request_uri_parameter_supported"] = true;
  document["require_request_uri_registration"] = true;
  document["tls_client_certificate_bound_access_tokens"] = true;
  document["frontchannel_logout_supported"] = true;
  document["backchannel_logout_session_supported"] = true;
  return document;
}

// Ten small fields per record until the JSON form reaches `bytes`.
nlohmann::ordered_json Records(std::size_t bytes) {
  Sequence sequence;
  nlohmann::ordered_json records = nlohmann::ordered_json::array();
  std::size_t written = 2;
  for (std::uint32_t id = 0; written < bytes; ++id) {
    nlohmann::ordered_json record;
    record["id"] = id;
    record["name"] = "player-" + std::to_string(sequence.Next() % 100000);
    record["email"] = "p" + std::to_string(id) + "@example.test";
    record["active"] = sequence.Next() % 2 == 0;
    record["score"] = (sequence.Next() % 100000) / 100.0 + 0.25;
    record["level"] = static_cast<int>(sequence.Next() % 200) - 20;
    record["region"] = (sequence.Next() % 3 == 0) ? "eu-west" : "us-east";
    record["created"] = "2026-11-" + std::to_string(10 + sequence.Next() % 18) + "T08:15:00Z";
    record["ratio"] = (sequence.Next() % 1000) / 7.0;
    record["platform"] = "win64";
    written += record.dump().size() + 1;
    records.push_back(std::move(record));
  }
  return records;
}

bool PlainSafe(const std::string& text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && std::strchr("-_.@/", c) == nullptr) {
      return false;
    }
  }
  static const char* kWords[] = {"y",     "Y",     "yes",  "Yes",  "YES",  "n",    "N",
                                 "no",    "No",    "NO",   "true", "True", "TRUE", "false",
                                 "False", "FALSE", "on",   "On",   "ON",   "off",  "Off",
                                 "OFF",   "null",  "Null", "NULL", "inf",  "nan",  "infinity"};
  for (const char* word : kWords) {
    if (text == word) return false;
  }
  return true;
}

// Block-style YAML, the way a person would write the same data.
void EmitYaml(const nlohmann::ordered_json& value, int indent, std::string& out);

void EmitYamlScalar(const nlohmann::ordered_json& value, std::string& out) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    out += PlainSafe(text) ? text : value.dump();
  } else {
    out += value.dump();
  }
}

void EmitYaml(const nlohmann::ordered_json& value, int indent, std::string& out) {
  const std::string pad(indent, ' ');
  if (value.is_object()) {
    for (const auto& [key, item] : value.items()) {
      out += pad + key + ":";
      if (item.is_structured() && !item.empty()) {
        out += "\n";
        EmitYaml(item, indent + 2, out);
      } else {
        out += " ";
        if (item.is_structured()) {
          out += item.is_array() ? "[]" : "{}";
        } else {
          EmitYamlScalar(item, out);
        }
        out += "\n";
      }
    }
  } else if (value.is_array()) {
    for (const auto& item : value) {
      if (item.is_object() && !item.empty()) {
        std::string nested;
        EmitYaml(item, indent + 2, nested);
        nested.replace(indent, 2, "- ");
        out += nested;
      } else {
        out += pad + "- ";
        EmitYamlScalar(item, out);
        out += "\n";
      }
    }
  }
}

struct Payload {
  const char* name;
  std::string json;
  std::string yaml;
  std::vector<std::uint8_t> message_pack;
};

std::vector<Payload> MakePayloads() {
  std::vector<Payload> payloads;
  const std::pair<const char*, nlohmann::ordered_json> sources[] = {
      {"token", TokenAnswer()},           {"discovery", Discovery()},
      {"records_1M", Records(1 << 20)},   {"records_1K", Records(1 << 10)},
      {"records_64K", Records(64 << 10)},
  };
  for (const auto& [name, source] : sources) {
    Payload payload{name, source.dump(), {}, nlohmann::ordered_json::to_msgpack(source)};
    EmitYaml(source, 0, payload.yaml);
    payloads.push_back(std::move(payload));
  }
  return payloads;
}

const std::vector<Payload>& Payloads() {
  static const std::vector<Payload> payloads = MakePayloads();
  return payloads;
}

const Payload& Select(benchmark::State& state) {
  const Payload& payload = Payloads()[static_cast<std::size_t>(state.range(0))];
  state.SetLabel(payload.name);
  return payload;
}

template <typename Body>
void Measure(benchmark::State& state, std::size_t bytes, Body body) {
  for (auto _ : state) body();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// ---- JSON ------------------------------------------------------------------------------------
void JsonRapidSaxFloor(benchmark::State& state) {
  const Payload& payload = Select(state);
  Measure(state, payload.json.size(), [&] {
    rapidjson::BaseReaderHandler<> handler;
    rapidjson::Reader reader;
    rapidjson::StringStream stream(payload.json.c_str());
    benchmark::DoNotOptimize(reader.Parse(stream, handler));
  });
}

void JsonRapidDocument(benchmark::State& state) {
  const Payload& payload = Select(state);
  Measure(state, payload.json.size(), [&] {
    rapidjson::Document document;
    document.Parse(payload.json.c_str());
    benchmark::DoNotOptimize(document.IsObject());
  });
}

void JsonNlohmann(benchmark::State& state) {
  const Payload& payload = Select(state);
  Measure(state, payload.json.size(), [&] {
    nlohmann::json document = nlohmann::json::parse(payload.json);
    benchmark::DoNotOptimize(document.size());
  });
}

void JsonParseJson(benchmark::State& state) {
  const Payload& payload = Select(state);
  Measure(state, payload.json.size(), [&] {
    binding::BindingConversionResult result = binding::parseJson(payload.json.c_str());
    benchmark::DoNotOptimize(result.ok);
  });
}

// ---- MessagePack -----------------------------------------------------------------------------
void MessagePackUnpack(benchmark::State& state) {
  const Payload& payload = Select(state);
  const auto* data = reinterpret_cast<const char*>(payload.message_pack.data());
  Measure(state, payload.message_pack.size(), [&] {
    msgpack::object_handle handle = msgpack::unpack(data, payload.message_pack.size());
    benchmark::DoNotOptimize(handle.get().type);
  });
}

void MessagePackParse(benchmark::State& state) {
  const Payload& payload = Select(state);
  Measure(state, payload.message_pack.size(), [&] {
    binding::MessagePackReadResult read =
        binding::parseMessagePack(payload.message_pack.data(), payload.message_pack.size());
    benchmark::DoNotOptimize(read.consumed);
  });
}

// ---- YAML ------------------------------------------------------------------------------------
void YamlLibyamlEvents(benchmark::State& state) {
  const Payload& payload = Select(state);
  Measure(state, payload.yaml.size(), [&] {
    yaml_parser_t parser;
    yaml_parser_initialize(&parser);
    yaml_parser_set_input_string(
        &parser, reinterpret_cast<const unsigned char*>(payload.yaml.data()), payload.yaml.size());
    yaml_event_t event;
    bool done = false;
    while (!done && yaml_parser_parse(&parser, &event)) {
      done = event.type == YAML_STREAM_END_EVENT;
      yaml_event_delete(&event);
    }
    yaml_parser_delete(&parser);
  });
}

void YamlCppLoad(benchmark::State& state) {
  const Payload& payload = Select(state);
  Measure(state, payload.yaml.size(), [&] {
    YAML::Node node = YAML::Load(payload.yaml);
    benchmark::DoNotOptimize(node.size());
  });
}

void YamlParseYaml(benchmark::State& state) {
  const Payload& payload = Select(state);
  Measure(state, payload.yaml.size(), [&] {
    binding::BindingConversionResult result = binding::parseYaml(payload.yaml);
    benchmark::DoNotOptimize(result.ok);
  });
}

// ---- Writing JSON ----------------------------------------------------------------------------
void WriteRapidWriter(benchmark::State& state) {
  const Payload& payload = Select(state);
  rapidjson::Document document;
  document.Parse(payload.json.c_str());
  Measure(state, payload.json.size(), [&] {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetSize());
  });
}

void WriteToJson(benchmark::State& state) {
  const Payload& payload = Select(state);
  const binding::BindingConversionResult parsed = binding::parseJson(payload.json.c_str());
  Measure(state, payload.json.size(), [&] {
    std::string text = binding::toJson(parsed.value);
    benchmark::DoNotOptimize(text.size());
  });
}

void WriteToJsonPretty(benchmark::State& state) {
  const Payload& payload = Select(state);
  const binding::BindingConversionResult parsed = binding::parseJson(payload.json.c_str());
  Measure(state, payload.json.size(), [&] {
    std::string text = binding::toJson(parsed.value, nullptr, "\r\n");
    benchmark::DoNotOptimize(text.size());
  });
}

// Payload indexes: 0 token, 1 discovery, 2 records 1 MB; 3 and 4 are 1 KB and 64 KB of records
// for the growth curve.
void MainPayloads(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
}
void GrowthPayloads(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(3)->Arg(4)->Arg(2)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(JsonRapidSaxFloor)->Apply(MainPayloads);
BENCHMARK(JsonRapidDocument)->Apply(MainPayloads);
BENCHMARK(JsonNlohmann)->Apply(MainPayloads);
BENCHMARK(JsonParseJson)->Apply(MainPayloads);
BENCHMARK(MessagePackUnpack)->Apply(MainPayloads);
BENCHMARK(MessagePackParse)->Apply(MainPayloads);
BENCHMARK(YamlLibyamlEvents)->Apply(MainPayloads);
BENCHMARK(YamlCppLoad)->Apply(MainPayloads);
BENCHMARK(YamlParseYaml)->Apply(MainPayloads);
BENCHMARK(WriteRapidWriter)->Apply(MainPayloads);
BENCHMARK(WriteToJson)->Apply(MainPayloads);
BENCHMARK(WriteToJsonPretty)->Apply(MainPayloads);
BENCHMARK(JsonParseJson)->Name("Growth/JsonParseJson")->Apply(GrowthPayloads);
BENCHMARK(MessagePackParse)->Name("Growth/MessagePackParse")->Apply(GrowthPayloads);
BENCHMARK(YamlParseYaml)->Name("Growth/YamlParseYaml")->Apply(GrowthPayloads);

}  // namespace

// The payloads are built before the first case runs, so that a callgrind run that collects inside
// one case's function (--collect-atstart=no --toggle-collect=...) counts that case alone.
int main(int argc, char** argv) {
  Payloads();
  return bench::RunBenchmarks(argc, argv);
}
