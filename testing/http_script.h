// Scripted HTTP answers by URL for a FakeHost: a test, fuzz target or benchmark that talks to a
// service (the sign-on service, mostly) says what each URL answers, in order or computed from
// the request, and checks that every answer it handed out was given back.
#ifndef TESTING_HTTP_SCRIPT_H_
#define TESTING_HTTP_SCRIPT_H_

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "plugin_host_interface.h"
#include "testing/fake_host.h"

namespace ulix_testing {

// Installs itself as the host's HTTP handler (so the host's ScriptHttp must not be used with
// it) and removes itself when destroyed; `host` must outlive it. Thread-safe.
class HttpScript {
 public:
  // Computes the answer of a request from its URL and body.
  using Responder =
      std::function<FakeHost::HttpAnswer(const std::string& url, const std::string& body)>;

  explicit HttpScript(FakeHost& host);
  ~HttpScript();
  HttpScript(const HttpScript&) = delete;
  HttpScript& operator=(const HttpScript&) = delete;

  // A request of exactly `url` gets, first, the responder set for it; else the next answer
  // queued by AnswerOnce; else the answer set by Answer; else the responder set by Otherwise;
  // else it fails in transport with "no route to host".
  void Answer(const std::string& url, FakeHost::HttpAnswer answer);
  void AnswerOnce(const std::string& url, FakeHost::HttpAnswer answer);
  // Drops the queued answers of `url`, queues all of `answers` but the last, which then
  // repeats.
  void Answer(const std::string& url, std::vector<FakeHost::HttpAnswer> answers);
  void Respond(const std::string& url, Responder responder);
  void Otherwise(Responder responder);
  // Runs inside every exchange, on the exchanging thread, before it answers.
  void OnExchange(std::function<void(const std::string& url, const std::string& body)> hook);

  std::vector<std::string> RequestedUrls() const;
  int RequestCount(const std::string& url) const;
  // Forgets the URLs requested so far (a long-lived script would otherwise keep them all).
  void ForgetRequests();
  // Answers handed out and not yet released by the plug-in.
  std::size_t outstanding() const { return host_.outstanding_http_responses(); }

 private:
  void Exchange(const HostHttpRequest& request, HostHttpResponse& response);

  FakeHost& host_;
  mutable std::mutex mutex_;
  std::map<std::string, std::deque<FakeHost::HttpAnswer>> once_;
  std::map<std::string, FakeHost::HttpAnswer> always_;
  std::map<std::string, Responder> responders_;
  Responder otherwise_;
  std::function<void(const std::string&, const std::string&)> hook_;
  std::vector<std::string> urls_;
};

}  // namespace ulix_testing

#endif  // TESTING_HTTP_SCRIPT_H_
