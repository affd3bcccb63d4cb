#include "devhost/curl_transport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <string>

namespace devhost {
namespace {

// A sign-on service on a loopback port of its own: its URL, and each request's connection once
// its headers have come.
class Service {
 public:
  Service() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    listen(socket_, 8);
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/token";
  }
  ~Service() { close(socket_); }
  int Accept() {
    pollfd watch{socket_, POLLIN, 0};
    poll(&watch, 1, -1);
    const int client = accept(socket_, nullptr, nullptr);
    std::string received;
    char buffer[4096];
    while (received.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      received.append(buffer, static_cast<std::size_t>(got));
    }
    return client;
  }
  bool Anybody() { return accept(socket_, nullptr, nullptr) >= 0; }

  std::string url;

 private:
  const int socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
};

TEST(SendWithCurl, EndsExchangesInFlightAndRefusesNewOnesOnceTransfersStop) {
  GlobalCurlInit();
  // A service that takes a request and then says nothing. A client told to stop that waits out
  // its 30 s instead fails with curl's own message.
  Service service;
  const HostHttpRequest request{
      kHostMethodPost, service.url.c_str(), nullptr, 0, "password=x", 10, 30, 0};
  std::future<HttpExchange> in_flight =
      std::async(std::launch::async, [&request] { return SendWithCurl(request); });
  const int client = service.Accept();
  StopTransfers();
  const HttpExchange ended = in_flight.get();
  // No new exchange reaches the service: no password goes out once the host stops.
  const HttpExchange refused = SendWithCurl(request);
  ResumeTransfers();
  EXPECT_EQ(std::to_string(ended.delivered) + " " + ended.error + "|" +
                std::to_string(refused.delivered) + " " + refused.error,
            "0 the host is stopping|0 the host is stopping");
  EXPECT_FALSE(service.Anybody());
  close(client);
  GlobalCurlCleanup();
}

TEST(SendWithCurl, TakesAnswerBodiesOfUpToEightMebibytes) {
  GlobalCurlInit();
  Service service;
  const HostHttpRequest request{kHostMethodGet, service.url.c_str(), nullptr, 0, nullptr, 0, 30, 0};
  std::string outcomes;
  for (const std::size_t size : {std::size_t{8} << 20, (std::size_t{8} << 20) + 1}) {
    std::future<HttpExchange> answer =
        std::async(std::launch::async, [&request] { return SendWithCurl(request); });
    const int client = service.Accept();
    const std::string text = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) +
                             "\r\nConnection: close\r\n\r\n" + std::string(size, 'x');
    for (std::size_t sent = 0; sent < text.size();) {
      const ssize_t wrote = send(client, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
      if (wrote <= 0) break;  // a client that refuses the body hangs up
      sent += static_cast<std::size_t>(wrote);
    }
    close(client);
    const HttpExchange got = answer.get();
    outcomes += std::to_string(got.delivered) + " " + std::to_string(got.body.size()) + "|";
  }
  EXPECT_EQ(outcomes, "1 8388608|0 0|");
  GlobalCurlCleanup();
}

}  // namespace
}  // namespace devhost
