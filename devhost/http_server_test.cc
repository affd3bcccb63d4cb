#include "devhost/http_server.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <future>
#include <latch>
#include <string>
#include <vector>

#include "devhost/host_value_json.h"
#include "devhost/test_catalogue.h"

namespace devhost {
namespace {

using Enough = std::function<bool(const std::string&)>;

TEST(SecretMatches, AcceptsOnlyTheBearerSchemeWithTheExactSecret) {
  // One digit per header, 1 where it matches. Wrong secrets of the right length differ in their
  // first and in their last byte; the last header's bytes above 127 are compared as they are,
  // never handed to tolower as negative numbers.
  std::string matches;
  for (const std::string header :
       {"Bearer s3cret", "bearer s3cret", "Bearer s3cre", "Bearer s3cretX", "Bearer t3cret",
        "Bearer s3creu", "Basic s3cret", "s3cret", "", "\xc2\xa0\x65\x61rer s3cret"}) {
    matches += SecretMatches(header, "s3cret") ? '1' : '0';
  }
  EXPECT_EQ(matches, "1100000000");
  EXPECT_FALSE(SecretMatches("Bearer ", ""));
}

// A raw connection to the server: requests are written as clients send them, and as client
// libraries will not.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }
  bool Send(std::string_view text) {
    while (!text.empty()) {
      const ssize_t sent = send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      text.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }
  // What the server sends until `enough` holds for it or the server closes the connection.
  std::string Read(const Enough& enough = {}) {
    std::string answer;
    char buffer[4096];
    while (!enough || !enough(answer)) {
      const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(got));
    }
    return answer;
  }
  // Sends `byte` over and over, one at a time, until the server closes the connection or
  // `most` have gone; each next one waits for the close up to 50 ms. Returns how many went.
  int TrickleUntilClosed(char byte, int most) {
    int sent = 0;
    for (; sent < most; ++sent) {
      pollfd watch{fd_, POLLIN | POLLRDHUP, 0};
      if (poll(&watch, 1, 50) != 0) break;  // the close (or an answer) came
      if (!Send(std::string_view(&byte, 1))) break;
    }
    return sent;
  }
  // Sends `text`, ends sending and reads the whole answer.
  std::string Exchange(std::string_view text) {
    if (!Send(text)) return "not sent";
    shutdown(fd_, SHUT_WR);
    return Read();
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }
const Enough kStatusLine = [](const std::string& answer) {
  return answer.find("\r\n") != std::string::npos;
};

struct Reply {
  int status = 0;    // 0: no answer
  std::string head;  // the status line and the headers
  std::string body;
  std::string Line() const { return std::to_string(status) + " " + body; }
};

const std::string kAuthorization = "Authorization: Bearer s3cret";

class ApiServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(console_.path + "/index.html") << "<html>console</html>";
    std::ofstream(console_.path + "/app.js") << "// app";
    Start();
  }
  // Starts a server anew, with the settings every test has as `change` leaves them.
  void Start(const std::function<void(ServerSettings&)>& change = {}) {
    server_.reset();
    events_ = std::make_unique<EventHub>();  // a stopped server has closed its hub
    ServerSettings settings;
    settings.secret = "s3cret";
    settings.console_folder = console_.path;
    // Peak bytes and allocations, then bytes and blocks allocated and freed.
    settings.plugin_memory = [] { return MemoryStatistics{900, 9, 5000, 50, 4200, 42, {}}; };
    settings.wait_ready = [this](std::chrono::milliseconds) { return ready_.load(); };
    if (change) change(settings);
    server_ = std::make_unique<ApiServer>(std::move(settings), router_, *events_, log_);
    port_ = server_->Bind();
    ASSERT_GT(port_, 0);
    host_ = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
    server_->SetOpenApiDocument(R"({"openapi":"3.1.0"})");
    ASSERT_TRUE(server_->Start());
  }
  // One request on a connection of its own: `method_target` with this server's Host (unless
  // `headers` name another), `headers` and `body`. Without `enough` it is all the client sends
  // and the answer is read to its end.
  Reply Request(const std::string& method_target, const std::vector<std::string>& headers,
                const std::string& body = "", const Enough& enough = {}) {
    std::string text = method_target + " HTTP/1.1\r\n";
    if (std::none_of(headers.begin(), headers.end(),
                     [](const std::string& header) { return header.starts_with("Host:"); })) {
      text += host_;
    }
    for (const std::string& header : headers) text += header + "\r\n";
    if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    text += "\r\n" + body;
    RawClient client(port_);
    std::string answer;
    if (!enough) {
      answer = client.Exchange(text);
    } else if (client.Send(text)) {
      answer = client.Read(enough);
    }
    const std::size_t end = answer.find("\r\n\r\n");
    return {answer.starts_with("HTTP/1.1 ") ? std::atoi(answer.c_str() + 9) : 0,
            answer.substr(0, end), end == std::string::npos ? "" : answer.substr(end + 4)};
  }
  // With the secret's header in lower case: a header name is any case, here too.
  Reply Get(const std::string& target, std::vector<std::string> headers = {}) {
    headers.push_back("authorization: Bearer s3cret");
    return Request("GET " + target, headers);
  }

  devhost_test::TempFolder console_;
  HostLog log_;
  std::unique_ptr<EventHub> events_;
  CatalogueRouter router_{devhost_test::EchoCatalogue()};
  std::atomic<bool> ready_{false};
  std::unique_ptr<ApiServer> server_;
  int port_ = 0;
  std::string host_;  // the Host header of this server
};

TEST_F(ApiServerTest, ServesTheConsoleFilesAloneWithoutTheSecret) {
  // Everything else is refused without the secret, and with a wrong one.
  for (const char* path :
       {"/", "/index.html", "/app.js", "/%61pp.js", "/app.js/x", "/missing.js", "/../index.html",
        "/items", "/openapi.json", "/events", "/memory", "/ready", "/nothing"}) {
    SCOPED_TRACE(path);
    const Reply reply = Request(std::string("GET ") + path, {});
    const std::string_view name = path;
    if (name == "/" || name == "/index.html") {
      EXPECT_EQ(reply.Line(), "200 <html>console</html>");
    } else if (name.ends_with("pp.js")) {
      EXPECT_EQ(reply.Line(), "200 // app");
    } else {
      EXPECT_EQ(reply.status, 401);
      EXPECT_EQ(Request(std::string("GET ") + path, {"Authorization: Bearer guess"}).status, 401);
    }
  }
  EXPECT_EQ(Request("POST /", {}).status, 401);
}

TEST_F(ApiServerTest, ServesPlugInPathsTheDocumentMemoryAndReadinessUntilItIsStopping) {
  EXPECT_EQ(
      Get("/items/7?x=1", {"X-Probe: p"}).Line(),
      R"(200 {"method":2,"path":"/items/7","query":{"x":"1"},"body":"","type":"","probe":"p"})");
  const Reply reply =
      Request("POST /items", {kAuthorization, "Content-Type: application/json"}, R"({"name":"x"})");
  EXPECT_NE(reply.body.find(R"("body":"{\"name\":\"x\"}","type":"application/json")"),
            std::string::npos)
      << reply.body;
  EXPECT_EQ(Get("/openapi.json").body, R"({"openapi":"3.1.0"})");
  // The plug-in's counters, then the process heap's figures, which vary.
  EXPECT_THAT(Get("/memory").body,
              ::testing::MatchesRegex(
                  R"(\{"peakBytesInUse":900,"allocationsAtPeak":9,"bytesAllocated":5000,)"
                  R"("allocations":50,"bytesFreed":4200,"frees":42,"bytesInUse":800,)"
                  R"("blocksInUse":8,"processHeapInUse":[0-9]+,"processHeapHeld":[0-9]+\})"));
  EXPECT_EQ(Request("DELETE /items/7", {kAuthorization}).status, 204);
  EXPECT_EQ(Request("HEAD /items/7", {kAuthorization}).Line(), "200 ");
  EXPECT_EQ(Get("/ready?wait=1").Line(), R"(503 {"ready":false})");
  ready_ = true;
  EXPECT_EQ(Get("/ready").Line(), R"(200 {"ready":true})");
  server_->Refuse();
  EXPECT_EQ(Get("/items").Line(), R"(503 {"httpStatus":503,"message":"The host is stopping."})");
}

TEST_F(ApiServerTest, AnswersRequestsByWhatTheyAnnounceAndEveryRefusalItselfInJson) {
  // Each request goes on a connection of its own; the status line of the last answer on it, or
  // "" when none comes. Some refusals are what libmicrohttpd finds before the host can look:
  // they are asked on a second request of a connection (the library's parse of a connection's
  // first request line comes before any callback that names the connection).
  const std::string auth = kAuthorization + "\r\n";
  const std::string post = "POST /items HTTP/1.1\r\n" + host_ + auth;
  const std::string first = "GET /items HTTP/1.1\r\n" + host_ + auth + "\r\n";
  std::string query, headers;  // a query of many short pieces, and headers close to the limit
  for (int i = 0; i < 9000; ++i) query += "a=" + std::to_string(i % 10) + "&";
  for (int i = 0; i < 6; ++i)
    headers += "X-Pad-" + std::to_string(i) + ": " + std::string(10000, 'p') + "\r\n";
  const std::pair<std::string, std::string> rows[] = {
      // What "curl -X POST" and "curl -X DELETE" send: no Content-Length, no body.
      {post + "\r\n", "200 OK"},
      {"DELETE /items/7 HTTP/1.1\r\n" + host_ + auth + "\r\n", "204 No Content"},
      {"GET /items?" + query + " HTTP/1.1\r\n" + host_ + auth + "\r\n", "200 OK"},
      {"GET /items HTTP/1.1\r\n" + host_ + auth + headers + "\r\n", "200 OK"},
      // A body over the limit is refused before it is sent; one cut short never reaches the
      // plug-in; where the body ends must be beyond doubt.
      {post + "Content-Length: 9437184\r\n\r\n", "413 Content Too Large"},
      {post + "Content-Length: 10\r\n\r\n{}", ""},
      {post + "Transfer-Encoding: chunked\r\n\r\n5\r\n{\"a\":\r\n", ""},
      {post + "Content-Length: 2\r\nContent-Length: 2\r\n\r\n{}", "200 OK"},
      {post + "Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}", "400 Bad Request"},
      {post + "Content-Length: 7\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n",
       "400 Bad Request"},
      {post + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", "400 Bad Request"},
      {post + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\n",
       "413 Content Too Large"},
      {"GET /items?" + std::string(70 * 1024, 'q') + " HTTP/1.1\r\n" + host_ + "\r\n",
       "414 URI Too Long"},
      {"GET /items HTTP/1.1\r\n" + host_ + "X-Big: " + std::string(70 * 1024, 'h') + "\r\n\r\n",
       "431 Request Header Fields Too Large"},
      {"GET /items HTTP/1.1\r\n" + host_ + "X-Big: " + std::string(300 * 1024, 'h') + "\r\n\r\n",
       "431 Request Header Fields Too Large"},
      {first + "GET /items?" + std::string(300 * 1024, 'q') + " HTTP/1.1\r\n\r\n",
       "414 URI Too Long"},
      {first + "GET /items HTTP/2.0\r\n" + host_ + "\r\n", "505 HTTP Version Not Supported"},
      {first + "GET /items HTTP/1\r\n" + host_ + "\r\n", "400 Bad Request"},
  };
  for (const auto& [request, status_line] : rows) {
    SCOPED_TRACE(request.substr(0, 60));
    RawClient client(port_);
    std::string answer = client.Exchange(request);
    if (request.starts_with(first)) answer = answer.substr(answer.find("HTTP/1.1", 1));
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")),
              status_line.empty() ? "" : "HTTP/1.1 " + status_line);
    if (status_line[0] >= '4') {
      EXPECT_THAT(answer,
                  ::testing::AllOf(
                      ::testing::HasSubstr("Content-Type: application/json\r\n"),
                      ::testing::HasSubstr("X-Frame-Options: DENY\r\n"),
                      ::testing::HasSubstr("\r\n\r\n{\"httpStatus\":" + status_line.substr(0, 3))));
    }
  }
}

TEST_F(ApiServerTest, ServesOthersWhileClientsStallOrSendTooMuch) {
  // Idle connections, a client that sends its headers a byte at a time and never ends them,
  // and one whose headers pass the limit: none may keep a normal request waiting.
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 300; ++i) {
    idle.push_back(std::make_unique<RawClient>(port_));
    ASSERT_TRUE(idle.back()->connected());
  }
  RawClient slow(port_);
  ASSERT_TRUE(slow.Send("GET /items HTTP/1.1\r\nX-Slow: "));
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(slow.Send("a"));
  RawClient large(port_);
  ASSERT_TRUE(large.Send("GET /items HTTP/1.1\r\n" + host_ + kAuthorization + "\r\n"));
  for (int i = 0; i < 10; ++i) {
    if (!large.Send("X-Padding-" + std::to_string(i) + ": " + std::string(8000, 'p') + "\r\n")) {
      break;  // the server may close as soon as the limit is passed
    }
  }
  EXPECT_EQ(StatusLine(large.Exchange("\r\n")), "HTTP/1.1 431 Request Header Fields Too Large");
  EXPECT_EQ(Get("/items").status, 200);
  // Stopping waits for none of them: each connection is closed under its client.
  server_->Stop();
  EXPECT_EQ(slow.Read(), "");
}

TEST_F(ApiServerTest, ClosesAConnectionWhoseHeadersOrBodyTrickleInPastTheDeadline) {
  Start([](ServerSettings& settings) {
    settings.header_deadline = settings.body_deadline = std::chrono::milliseconds(300);
  });
  // A byte every 50 ms at most is never idle long enough for the idle timeout; only the
  // deadline ends it. Twenty seconds of trickling would mean it never came.
  RawClient slow_headers(port_);
  ASSERT_TRUE(slow_headers.Send("GET /items HTTP/1.1\r\nX-Slow: "));
  EXPECT_LT(slow_headers.TrickleUntilClosed('a', 400), 400);
  // An authorised request whose body never ends.
  RawClient slow_body(port_);
  ASSERT_TRUE(slow_body.Send("POST /items HTTP/1.1\r\n" + host_ + kAuthorization +
                             "\r\nContent-Length: 100000\r\n\r\n"));
  EXPECT_LT(slow_body.TrickleUntilClosed(' ', 400), 400);
  // A request that finishes its headers in time is served as ever.
  EXPECT_EQ(Get("/items").status, 200);
}

// Of 16 connections, at most 8 wait for their headers.
void FewConnections(ServerSettings& settings) { settings.max_connections = 16; }

TEST_F(ApiServerTest, ClosesTheOldestStalledConnectionToServeARequestThatArrivesWhole) {
  Start(&FewConnections);
  // More than the cap: without room kept, the request would be turned away.
  std::vector<std::unique_ptr<RawClient>> stalled;
  for (int i = 0; i < 20; ++i) {
    stalled.push_back(std::make_unique<RawClient>(port_));
    ASSERT_TRUE(stalled.back()->Send("GET /items HTTP/1.1\r\nX-Slow: "));
  }
  EXPECT_EQ(Get("/items").status, 200);
  EXPECT_EQ(stalled.front()->Read(), "");
}

TEST_F(ApiServerTest, ClosesConnectionsOverTheCapAtOnce) {
  Start(&FewConnections);
  std::vector<std::unique_ptr<RawClient>> held;
  for (int i = 0; i < 16; ++i) {
    held.push_back(std::make_unique<RawClient>(port_));
    // An open event stream holds its connection, and is no connection waiting for headers.
    ASSERT_TRUE(
        held.back()->Send("GET /events HTTP/1.1\r\n" + host_ + kAuthorization + "\r\n\r\n"));
    ASSERT_EQ(StatusLine(held.back()->Read(kStatusLine)), "HTTP/1.1 200 OK");
  }
  // The kernel completes the handshake; the server closes the connection without reading.
  RawClient excess(port_);
  ASSERT_TRUE(excess.connected());
  // A request sent on it goes unanswered; the send itself may fail once the server has closed.
  (void)excess.Send("GET /items HTTP/1.1\r\n\r\n");
  EXPECT_EQ(excess.Read(), "");
  held.clear();
}

TEST_F(ApiServerTest, AnswersOnlyToItsOwnNameAndGuardsItsPages) {
  const std::string port = std::to_string(port_);
  const std::pair<std::string, long> rows[] = {
      {"127.0.0.1:" + port, 200}, {"LOCALHOST:" + port, 200},  {"attacker.example:" + port, 421},
      {"127.0.0.1", 421},         {"127.0.0.1:1" + port, 421},
  };
  for (const auto& [host, status] : rows) {
    SCOPED_TRACE(host);
    EXPECT_EQ(Get("/items", {"Host: " + host}).status, status);
    // The console's files too: a rebinding page must not read them either.
    EXPECT_EQ(Request("GET /", {"Host: " + host}).status, status);
  }
  EXPECT_THAT(Request("HEAD /", {kAuthorization}).head,
              ::testing::AllOf(::testing::HasSubstr("X-Frame-Options: DENY\r\n"),
                               ::testing::HasSubstr("X-Content-Type-Options: nosniff\r\n"),
                               ::testing::HasSubstr("frame-ancestors 'none'")));
  // The event stream's head is its headers alone.
  const Reply events = Request("HEAD /events", {kAuthorization});
  EXPECT_EQ(events.Line(), "200 ");
  EXPECT_THAT(events.head, ::testing::HasSubstr("text/event-stream"));
}

TEST_F(ApiServerTest, WritesRequestPathsToItsLogWithTheirControlBytesEscaped) {
  const std::string file = console_.path + "/requests.log";
  std::ofstream(file) << "an earlier run\n";
  ASSERT_TRUE(log_.OpenFile(file));
  Start([](ServerSettings& settings) { settings.log_requests = true; });
  ASSERT_EQ(Get("/items/a%0aforged%1b[31m%5c").status, 200);
  std::ifstream in(file);
  std::string line;
  // The earlier run's line kept, then one line, and the path's control bytes in it escaped.
  ASSERT_TRUE(std::getline(in, line) && line == "an earlier run") << line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_THAT(line, ::testing::HasSubstr(R"( GET /items/a\x0aforged\x1b[31m\x5c 200 in )"));
  EXPECT_FALSE(std::getline(in, line)) << line;
}

TEST_F(ApiServerTest, KeepsAQuietEventStreamOpenThroughSeveralIdleTimeouts) {
  Start([](ServerSettings& settings) { settings.idle_timeout_seconds = 1; });
  // Ten keep-alive comments come over three idle timeouts; a stream closed by one ends first.
  int comments = 0;
  Request("GET /events", {kAuthorization}, "", [&](const std::string& received) {
    comments = 0;
    for (std::size_t at = received.find("\n:\n\n"); at != std::string::npos;
         at = received.find("\n:\n\n", at + 1)) {
      ++comments;
    }
    return comments == 10;
  });
  EXPECT_EQ(comments, 10);
}

TEST_F(ApiServerTest, StreamsPublishedEventsToManyListenersAtOnce) {
  constexpr int kStreams = 6;
  std::latch all_open(kStreams);
  const OwnedHostValue value = OwnedHostValue::TextObject({{"uri", "/a"}});
  std::vector<std::future<Reply>> streams;
  for (int i = 0; i < kStreams; ++i) {
    streams.push_back(std::async(std::launch::async, [&, i] {
      bool open = false;
      return Request("GET /events", {kAuthorization}, "", [&](const std::string& received) {
        // The greeting shows the stream is open: once all are, one publishes and each reads
        // until the frame is in.
        if (!open && received.find("events of the development host") != std::string::npos) {
          open = true;
          all_open.arrive_and_wait();
          if (i == 0) events_->Publish("OnJsonApiEvent", value.record());
        }
        return received.find("data: {\"uri\":\"/a\"}\n\n") != std::string::npos;
      });
    }));
  }
  for (auto& stream : streams) {
    EXPECT_THAT(stream.get().body,
                ::testing::HasSubstr("event: OnJsonApiEvent\ndata: {\"uri\":\"/a\"}\n\n"));
  }
}

}  // namespace
}  // namespace devhost
