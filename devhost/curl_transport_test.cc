#include "devhost/curl_transport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

namespace devhost {
namespace {

// A sign-on service that takes a request and then says nothing: it answers only once the
// client has gone, or after 30 s, which a client told to stop must never see.
class SilentService {
 public:
  SilentService() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, 8);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~SilentService() {
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/token"; }
  // Ready once the first request has come in.
  std::future<void> request_in() { return request_in_.get_future(); }
  // Connections accepted after the first.
  int later_connections() const { return later_connections_; }

 private:
  void Serve() {
    const int client = accept(fd_, nullptr, nullptr);
    if (client < 0) return;
    char buffer[4096];
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    request_in_.set_value();
    pollfd watch{client, POLLIN | POLLRDHUP, 0};
    if (poll(&watch, 1, 30000) == 0) {
      const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
      send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    close(client);
    // Counts whoever comes next, until the test ends.
    while (true) {
      const int next = accept(fd_, nullptr, nullptr);
      if (next < 0) return;
      ++later_connections_;
      close(next);
    }
  }

  int fd_;
  int port_ = 0;
  std::promise<void> request_in_;
  std::atomic<int> later_connections_{0};
  std::thread thread_;
};

TEST(SendWithCurl, EndsExchangesInFlightAndRefusesNewOnesOnceTransfersStop) {
  GlobalCurlInit();
  SilentService service;
  const std::string url = service.url();
  HostHttpRequest request{};
  request.method = kHostMethodPost;
  request.url = url.c_str();
  request.body = "password=x";
  request.bodyLength = 10;
  std::future<void> request_in = service.request_in();
  std::future<HttpExchange> in_flight =
      std::async(std::launch::async, [&request] { return SendWithCurl(request); });
  request_in.wait();
  StopTransfers();
  const HttpExchange ended = in_flight.get();
  EXPECT_FALSE(ended.delivered);
  EXPECT_EQ(ended.error, "the host is stopping");
  // No new exchange reaches the service: no password goes out once the host stops.
  const HttpExchange refused = SendWithCurl(request);
  EXPECT_FALSE(refused.delivered);
  EXPECT_EQ(refused.error, "the host is stopping");
  ResumeTransfers();
  EXPECT_EQ(service.later_connections(), 0);
  GlobalCurlCleanup();
}

}  // namespace
}  // namespace devhost
