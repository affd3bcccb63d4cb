#include "devhost/exchange_log.h"

#include <cctype>
#include <cstring>

#include "rapidjson/document.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"
#include "wire/url_decode.h"

namespace devhost {
namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A signed token in compact form: three base64url segments, the first a JSON header ("{\"" is
// "eyJ" in base64). Masked wherever it stands, whatever the member is called.
bool LooksLikeSignedToken(std::string_view text) {
  if (!text.starts_with("eyJ") || text.size() < 24) return false;
  int dots = 0;
  for (char c : text) {
    if (c == '.') {
      ++dots;
    } else if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '=') {
      return false;
    }
  }
  return dots == 2;
}

void MaskJson(rapidjson::Value& value, rapidjson::Document::AllocatorType& allocator) {
  auto mask = [&](rapidjson::Value& text) {
    const std::string masked = MaskedText(text.GetStringLength());
    text.SetString(masked.data(), static_cast<rapidjson::SizeType>(masked.size()), allocator);
  };
  if (value.IsObject()) {
    for (auto& member : value.GetObject()) {
      const std::string_view name(member.name.GetString(), member.name.GetStringLength());
      if (member.value.IsString() && member.value.GetStringLength() > 0 &&
          (IsSecretName(name) ||
           LooksLikeSignedToken({member.value.GetString(), member.value.GetStringLength()}))) {
        mask(member.value);
      } else {
        MaskJson(member.value, allocator);
      }
    }
  } else if (value.IsArray()) {
    for (auto& element : value.GetArray()) MaskJson(element, allocator);
  } else if (value.IsString() &&
             LooksLikeSignedToken({value.GetString(), value.GetStringLength()})) {
    mask(value);
  }
}

std::string MaskForm(std::string_view body) {
  std::string out;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view piece = body.substr(start, end - start);
    const std::size_t equals = piece.find('=');
    if (!out.empty() || start > 0) out += '&';
    if (equals != std::string_view::npos &&
        IsSecretName(wire::PercentDecode(piece.substr(0, equals), true))) {
      out.append(piece.substr(0, equals + 1));
      out += MaskedText(piece.size() - equals - 1);
    } else {
      out.append(piece);
    }
    start = end + 1;
  }
  return out;
}

std::string MaskHeader(std::string_view name, std::string_view value) {
  if (!IsSecretName(name)) return std::string(value);
  // The scheme tells a reader what kind of credential went; only what follows it is secret.
  const std::size_t space = value.find(' ');
  if (space != std::string_view::npos && space < 16) {
    return std::string(value.substr(0, space + 1)) + MaskedText(value.size() - space - 1);
  }
  return MaskedText(value.size());
}

std::string HeaderValue(const std::vector<std::pair<std::string, std::string>>& headers,
                        std::string_view lower_name) {
  for (const auto& [name, value] : headers) {
    if (Lower(name) == lower_name) return value;
  }
  return {};
}

void WriteText(JsonWriter& writer, std::string_view text) {
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void WriteHeaders(JsonWriter& writer, const std::vector<std::pair<std::string, std::string>>& all) {
  writer.StartArray();
  for (const auto& [name, value] : all) {
    writer.StartArray();
    WriteText(writer, name);
    WriteText(writer, MaskHeader(Lower(name), value));
    writer.EndArray();
  }
  writer.EndArray();
}

// A masked body, cut to what the log keeps; bytes that are not UTF-8 are left to the writer,
// which escapes what it can.
void WriteBody(JsonWriter& writer, std::string_view body, std::string_view content_type) {
  std::string masked = MaskBody(body, content_type);
  if (masked.size() > ExchangeLog::kMaxBodyShown) {
    masked.resize(ExchangeLog::kMaxBodyShown);
    masked += "... (cut)";
  }
  WriteText(writer, masked);
}

}  // namespace

bool IsSecretName(std::string_view name) {
  const std::string lower = Lower(name);
  for (const char* word : {"password", "secret", "assertion", "refresh", "cookie"}) {
    if (lower.find(word) != std::string::npos) return true;
  }
  return lower.ends_with("token") || lower == "authorization" || lower == "code";
}

std::string MaskedText(std::size_t length) {
  return "(masked, " + std::to_string(length) + " bytes)";
}

std::string MaskBody(std::string_view body, std::string_view content_type) {
  if (body.empty()) return {};
  const std::string type = Lower(content_type);
  if (type.find("json") != std::string::npos || body.front() == '{' || body.front() == '[') {
    rapidjson::Document document;
    document.Parse(body.data(), body.size());
    if (!document.HasParseError()) {
      MaskJson(document, document.GetAllocator());
      rapidjson::StringBuffer buffer;
      JsonWriter writer(buffer);
      document.Accept(writer);
      return std::string(buffer.GetString(), buffer.GetSize());
    }
  }
  if (type.find("x-www-form-urlencoded") != std::string::npos) return MaskForm(body);
  // Neither: shown only when nothing in it looks like a credential.
  const std::string lower = Lower(body);
  for (const char* word : {"token", "password", "assertion", "secret", "eyj"}) {
    if (lower.find(word) != std::string::npos) {
      return "(" + std::to_string(body.size()) + " bytes withheld: they may hold a secret)";
    }
  }
  return std::string(body);
}

std::string MaskUrl(std::string_view url) {
  const std::size_t question = url.find('?');
  if (question == std::string_view::npos) return std::string(url);
  const std::size_t hash = url.find('#', question);
  const std::string_view query = url.substr(
      question + 1, hash == std::string_view::npos ? std::string_view::npos : hash - question - 1);
  std::string out(url.substr(0, question + 1));
  out += MaskForm(query);
  if (hash != std::string_view::npos) out.append(url.substr(hash));
  return out;
}

void ExchangeLog::Record(const HostHttpRequest& packed, const HttpExchange& answer,
                         std::chrono::steady_clock::duration took) {
  HostHttpRequest request;
  std::memcpy(&request, &packed, sizeof request);
  std::vector<std::pair<std::string, std::string>> request_headers;
  for (std::uint32_t i = 0; i < request.headerCount && request.headers != nullptr; ++i) {
    HostHeaderPair pair;
    std::memcpy(&pair, &request.headers[i], sizeof pair);
    if (pair.name == nullptr) continue;
    request_headers.emplace_back(pair.name, pair.value != nullptr ? pair.value : "");
  }
  const std::string_view request_body =
      request.body != nullptr
          ? std::string_view(static_cast<const char*>(request.body), request.bodyLength)
          : "";
  const auto started = std::chrono::system_clock::now() -
                       std::chrono::duration_cast<std::chrono::system_clock::duration>(took);

  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  std::lock_guard<std::mutex> lock(mutex_);
  writer.StartObject();
  writer.Key("id");
  writer.Uint64(next_id_++);
  writer.Key("startedAt");
  writer.Int64(
      std::chrono::duration_cast<std::chrono::milliseconds>(started.time_since_epoch()).count());
  writer.Key("method");
  writer.String(HttpMethodName(request.method));
  writer.Key("url");
  WriteText(writer, MaskUrl(request.url != nullptr ? request.url : ""));
  writer.Key("status");
  writer.Uint(answer.delivered ? answer.status : 0);
  if (!answer.delivered) {
    writer.Key("error");
    WriteText(writer, answer.error);
  }
  writer.Key("durationMs");
  writer.Double(std::chrono::duration<double, std::milli>(took).count());
  writer.Key("requestBytes");
  writer.Uint64(request_body.size());
  writer.Key("responseBytes");
  writer.Uint64(answer.body.size());
  writer.Key("requestHeaders");
  WriteHeaders(writer, request_headers);
  writer.Key("requestBody");
  WriteBody(writer, request_body, HeaderValue(request_headers, "content-type"));
  writer.Key("responseHeaders");
  WriteHeaders(writer, answer.headers);
  writer.Key("responseBody");
  WriteBody(writer, answer.body, HeaderValue(answer.headers, "content-type"));
  writer.EndObject();
  std::string json(buffer.GetString(), buffer.GetSize());
  // Announced under the lock, so that the stream carries the exchanges in the order of their ids.
  if (events_ != nullptr) events_->Announce(kExchangeEventName, json);
  kept_.push_back(std::move(json));
  if (kept_.size() > kKept) kept_.pop_front();
}

std::string ExchangeLog::Json() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out = "[";
  for (const std::string& exchange : kept_) {
    if (out.size() > 1) out += ',';
    out += exchange;
  }
  return out + "]";
}

}  // namespace devhost
