#include "testing/http_script.h"

#include <optional>
#include <utility>

namespace ulix_testing {

HttpScript::HttpScript(FakeHost& host) : host_(host) {
  host_.SetHttpHandler([this](const HostHttpRequest& request, HostHttpResponse& response) {
    Exchange(request, response);
  });
}

HttpScript::~HttpScript() { host_.SetHttpHandler({}); }

void HttpScript::Answer(const std::string& url, FakeHost::HttpAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  always_[url] = std::move(answer);
}

void HttpScript::AnswerOnce(const std::string& url, FakeHost::HttpAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  once_[url].push_back(std::move(answer));
}

void HttpScript::Answer(const std::string& url, std::vector<FakeHost::HttpAnswer> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::deque<FakeHost::HttpAnswer>& queued = once_[url];
  queued.assign(answers.begin(), answers.end());
  if (queued.empty()) return;
  always_[url] = std::move(queued.back());
  queued.pop_back();
}

void HttpScript::Respond(const std::string& url, Responder responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responders_[url] = std::move(responder);
}

void HttpScript::Otherwise(Responder responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  otherwise_ = std::move(responder);
}

void HttpScript::OnExchange(
    std::function<void(const std::string& url, const std::string& body)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

std::vector<std::string> HttpScript::RequestedUrls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return urls_;
}

void HttpScript::ForgetRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  urls_.clear();
}

int HttpScript::RequestCount(const std::string& url) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int count = 0;
  for (const std::string& seen : urls_) count += seen == url ? 1 : 0;
  return count;
}

void HttpScript::Exchange(const HostHttpRequest& request, HostHttpResponse& response) {
  const std::string url = request.url != nullptr ? request.url : "";
  const auto* data = static_cast<const char*>(request.body);
  const std::string body = data != nullptr ? std::string(data, request.bodyLength) : "";
  std::function<void(const std::string&, const std::string&)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hook = hook_;
  }
  // The hook and the responders run unlocked: they may block, or send requests themselves.
  if (hook) hook(url, body);
  Responder responder;
  std::optional<FakeHost::HttpAnswer> answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    urls_.push_back(url);
    if (auto found = responders_.find(url); found != responders_.end()) {
      responder = found->second;
    } else if (auto queued = once_.find(url); queued != once_.end() && !queued->second.empty()) {
      answer = std::move(queued->second.front());
      queued->second.pop_front();
    } else if (auto fixed = always_.find(url); fixed != always_.end()) {
      answer = fixed->second;
    } else {
      responder = otherwise_;
    }
  }
  if (!answer && responder) answer = responder(url, body);
  host_.HandOut(answer ? *answer : FakeHost::HttpAnswer{1, 0, "no route to host"}, response);
}

}  // namespace ulix_testing
