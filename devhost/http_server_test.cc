#include "devhost/http_server.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "devhost/host_value_json.h"
#include "devhost/test_catalogue.h"

namespace devhost {
namespace {

TEST(SecretMatches, AcceptsOnlyTheBearerSchemeWithTheExactSecret) {
  struct Row {
    const char* header;
    bool matches;
  };
  const Row rows[] = {
      {"Bearer s3cret", true},
      {"bearer s3cret", true},
      {"Bearer s3cre", false},
      {"Bearer s3cretX", false},
      {"Basic s3cret", false},
      {"s3cret", false},
      {"", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.header);
    EXPECT_EQ(SecretMatches(row.header, "s3cret"), row.matches);
  }
  EXPECT_FALSE(SecretMatches("Bearer ", ""));
}

class ApiServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/devhost-console-XXXXXX";
    console_ = mkdtemp(pattern);
    std::ofstream(console_ + "/index.html") << "<html>console</html>";
    std::ofstream(console_ + "/app.js") << "// app";
    ServerSettings settings;
    settings.secret = "s3cret";
    settings.threads = 4;
    settings.console_folder = console_;
    settings.plugin_memory = [] {
      MemoryStatistics statistics{};
      statistics.peakBytesInUse = 900;
      statistics.allocationsAtPeak = 9;
      statistics.bytesAllocated = 5000;
      statistics.allocationCount = 50;
      statistics.bytesFreed = 4200;
      statistics.freeCount = 42;
      return statistics;
    };
    server_ = std::make_unique<ApiServer>(std::move(settings), router_, events_, log_);
    port_ = server_->Bind();
    ASSERT_GT(port_, 0);
    server_->SetOpenApiDocument(R"({"openapi":"3.1.0"})");
    server_->Start();
  }
  void TearDown() override {
    server_->Stop();
    std::filesystem::remove_all(console_);
  }
  httplib::Client Client() {
    httplib::Client client("127.0.0.1", port_);
    client.set_bearer_token_auth("s3cret");
    return client;
  }

  HostLog log_;
  EventHub events_;
  CatalogueRouter router_{devhost_test::EchoCatalogue()};
  std::string console_;
  std::unique_ptr<ApiServer> server_;
  int port_ = 0;
};

TEST_F(ApiServerTest, RefusesRequestsWithoutTheSecret) {
  httplib::Client anonymous("127.0.0.1", port_);
  for (const char* path : {"/items", "/openapi.json", "/events", "/memory", "/nothing"}) {
    SCOPED_TRACE(path);
    auto result = anonymous.Get(path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 401);
  }
  anonymous.set_bearer_token_auth("guess");
  EXPECT_EQ(anonymous.Get("/items")->status, 401);
}

TEST_F(ApiServerTest, ServesTheConsoleFilesAloneWithoutTheSecret) {
  httplib::Client anonymous("127.0.0.1", port_);
  struct Row {
    const char* path;
    int status;
    const char* body;
  };
  const Row rows[] = {
      {"/", 200, "<html>console</html>"}, {"/index.html", 200, "<html>console</html>"},
      {"/app.js", 200, "// app"},         {"/app.js/x", 401, nullptr},
      {"/missing.js", 401, nullptr},      {"/../index.html", 401, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    auto result = anonymous.Get(row.path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, row.status);
    if (row.body != nullptr) {
      EXPECT_EQ(result->body, row.body);
    }
  }
  EXPECT_EQ(anonymous.Post("/", "", "text/plain")->status, 401);
}

TEST_F(ApiServerTest, ServesPlugInPathsTheOpenApiDocumentAndTheMemoryStatistics) {
  httplib::Client client = Client();
  auto result = client.Get("/items/7?x=1", {{"X-Probe", "p"}});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->body, R"({"method":2,"path":"/items/7","query":{"x":"1"},"body":"","type":"",)"
                          R"("probe":"p"})");
  result = client.Post("/items", R"({"name":"x"})", "application/json");
  ASSERT_TRUE(result);
  EXPECT_NE(result->body.find(R"("body":"{\"name\":\"x\"}","type":"application/json")"),
            std::string::npos);
  result = client.Get("/openapi.json");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->body, R"({"openapi":"3.1.0"})");
  result = client.Get("/memory");
  ASSERT_TRUE(result);
  // The plug-in's counters, then the process heap's figures, which vary.
  EXPECT_THAT(result->body,
              ::testing::MatchesRegex(
                  R"(\{"peakBytesInUse":900,"allocationsAtPeak":9,"bytesAllocated":5000,)"
                  R"("allocations":50,"bytesFreed":4200,"frees":42,"bytesInUse":800,)"
                  R"("blocksInUse":8,"processHeapInUse":[0-9]+,"processHeapHeld":[0-9]+\})"));
  EXPECT_EQ(client.Delete("/items/7")->status, 204);
}

TEST_F(ApiServerTest, TakesPostsAndDeletesThatAnnounceNoBody) {
  // What "curl -X POST" and "curl -X DELETE" send: no Content-Length, no body. Written by hand
  // because HTTP client libraries add the length themselves.
  struct Row {
    const char* request_line;
    const char* status_line;
  };
  const Row rows[] = {
      {"POST /items HTTP/1.1", "HTTP/1.1 200 OK"},
      {"DELETE /items/7 HTTP/1.1", "HTTP/1.1 204 No Content"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.request_line);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = std::string(row.request_line) +
                                "\r\nHost: 127.0.0.1\r\nAuthorization: Bearer s3cret\r\n\r\n";
    ASSERT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    std::string answer;
    char buffer[512];
    while (answer.find("\r\n") == std::string::npos) {
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), row.status_line);
  }
}

TEST_F(ApiServerTest, ServesMoreLongConnectionsThanItStartedWorkersFor) {
  // Six event streams on a server that started four workers: every stream must open while the
  // others stay connected. A fixed pool would leave two waiting for good.
  constexpr int kStreams = 6;
  std::latch all_open(kStreams);
  std::vector<std::thread> clients;
  for (int i = 0; i < kStreams; ++i) {
    clients.emplace_back([&] {
      httplib::Client client = Client();
      bool counted = false;
      client.Get("/events", [&](const char*, std::size_t) {
        if (!counted) {
          counted = true;
          all_open.count_down();
          all_open.wait();
        }
        return false;
      });
    });
  }
  for (std::thread& client : clients) client.join();
}

TEST_F(ApiServerTest, StreamsPublishedEventsToListeners) {
  httplib::Client client = Client();
  std::string received;
  const OwnedHostValue value = OwnedHostValue::TextObject({{"uri", "/a"}});
  auto result = client.Get("/events", [&](const char* data, std::size_t length) {
    received.append(data, length);
    // The greeting shows the stream is open: publish once, then read until the frame is in.
    if (received.find("events of the development host") != std::string::npos &&
        received.find("event: OnJsonApiEvent") == std::string::npos &&
        received.find("published") == std::string::npos) {
      received += "published";
      events_.Publish("OnJsonApiEvent", value.record());
    }
    return received.find("data: {\"uri\":\"/a\"}\n\n") == std::string::npos;
  });
  EXPECT_NE(received.find("event: OnJsonApiEvent\ndata: {\"uri\":\"/a\"}\n\n"), std::string::npos)
      << received;
}

}  // namespace
}  // namespace devhost
