// Scripted HTTP answers by URL for a FakeHost: a test (or benchmark) that talks to several
// endpoints of one service says what each URL answers, in order, and checks that every answer
// it handed out was given back.
#ifndef TESTING_HTTP_SCRIPT_H_
#define TESTING_HTTP_SCRIPT_H_

#include <cstddef>
#include <deque>
#include <map>
#include <memory>
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
  explicit HttpScript(FakeHost& host);
  ~HttpScript();
  HttpScript(const HttpScript&) = delete;
  HttpScript& operator=(const HttpScript&) = delete;

  // Requests of exactly `url` get these answers one by one; the last one then repeats. A URL
  // without answers fails in transport with "no route to host".
  void Answer(const std::string& url, std::vector<FakeHost::HttpAnswer> answers);
  void Answer(const std::string& url, FakeHost::HttpAnswer answer) {
    Answer(url, std::vector<FakeHost::HttpAnswer>{std::move(answer)});
  }

  // Answers handed out and not yet released by the plug-in.
  std::size_t outstanding() const;

 private:
  struct Held;
  void Respond(const HostHttpRequest& request, HostHttpResponse& response);
  static void Release(HostHttpResponse* response);

  FakeHost& host_;
  mutable std::mutex mutex_;
  std::map<std::string, std::deque<FakeHost::HttpAnswer>> answers_;
  std::map<const HostHttpResponse*, std::unique_ptr<Held>> held_;
};

}  // namespace ulix_testing

#endif  // TESTING_HTTP_SCRIPT_H_
