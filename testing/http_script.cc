#include "testing/http_script.h"

#include <utility>

namespace ulix_testing {
namespace {

// The release callback receives only the response; this finds the script that answered it.
std::mutex& OwnersMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<const HostHttpResponse*, HttpScript*>& Owners() {
  static std::map<const HostHttpResponse*, HttpScript*> owners;
  return owners;
}

}  // namespace

struct HttpScript::Held {
  std::vector<std::string> texts;
  std::vector<HostHeaderPair> headers;
  std::string body;
};

HttpScript::HttpScript(FakeHost& host) : host_(host) {
  host_.SetHttpHandler([this](const HostHttpRequest& request, HostHttpResponse& response) {
    Respond(request, response);
  });
}

HttpScript::~HttpScript() {
  host_.SetHttpHandler({});
  std::lock_guard<std::mutex> lock(OwnersMutex());
  std::erase_if(Owners(), [this](const auto& owner) { return owner.second == this; });
}

void HttpScript::Answer(const std::string& url, std::vector<FakeHost::HttpAnswer> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[url] = std::deque<FakeHost::HttpAnswer>(answers.begin(), answers.end());
}

std::size_t HttpScript::outstanding() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_.size();
}

void HttpScript::Respond(const HostHttpRequest& request, HostHttpResponse& response) {
  FakeHost::HttpAnswer answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = answers_.find(request.url != nullptr ? request.url : "");
    if (found == answers_.end() || found->second.empty()) {
      static const char kNoRoute[] = "no route to host";
      response.transportResult = 1;
      response.body = kNoRoute;
      response.bodyLength = sizeof(kNoRoute) - 1;
      return;
    }
    answer = found->second.front();
    if (found->second.size() > 1) found->second.pop_front();
  }
  auto held = std::make_unique<Held>();
  held->texts.reserve(answer.headers.size() * 2);
  for (const auto& [name, value] : answer.headers) {
    held->texts.push_back(name);
    held->texts.push_back(value);
  }
  for (std::size_t i = 0; i < held->texts.size(); i += 2) {
    held->headers.push_back({held->texts[i].c_str(), held->texts[i + 1].c_str()});
  }
  response.transportResult = answer.transport;
  response.status = answer.status;
  response.headers = answer.null_headers || held->headers.empty() ? nullptr : held->headers.data();
  response.headerCount = answer.null_headers ? 1 : static_cast<std::uint32_t>(held->headers.size());
  if (answer.body) {
    held->body = std::move(*answer.body);
    response.body = held->body.data();
    response.bodyLength = static_cast<std::uint32_t>(held->body.size());
  } else {
    response.body = nullptr;
    response.bodyLength = answer.null_body_length;
  }
  response.release = &Release;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held_[&response] = std::move(held);
  }
  std::lock_guard<std::mutex> lock(OwnersMutex());
  Owners()[&response] = this;
}

void HttpScript::Release(HostHttpResponse* response) {
  HttpScript* script = nullptr;
  {
    std::lock_guard<std::mutex> lock(OwnersMutex());
    auto found = Owners().find(response);
    if (found == Owners().end()) return;
    script = found->second;
    Owners().erase(found);
  }
  std::lock_guard<std::mutex> lock(script->mutex_);
  script->held_.erase(response);
}

}  // namespace ulix_testing
