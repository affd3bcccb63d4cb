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

TEST(SendWithCurl, EndsExchangesInFlightAndRefusesNewOnesOnceTransfersStop) {
  GlobalCurlInit();
  // A sign-on service that takes a request and then says nothing. A client told to stop that
  // waits out its 30 s instead fails with curl's own message.
  const int service = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(service, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  listen(service, 8);
  getsockname(service, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/token";
  const HostHttpRequest request{kHostMethodPost, url.c_str(), nullptr, 0, "password=x", 10, 30, 0};
  std::future<HttpExchange> in_flight =
      std::async(std::launch::async, [&request] { return SendWithCurl(request); });
  // The request is in once its headers have come.
  pollfd watch{service, POLLIN, 0};
  poll(&watch, 1, -1);
  const int client = accept(service, nullptr, nullptr);
  std::string received;
  char buffer[4096];
  while (received.find("\r\n\r\n") == std::string::npos) {
    const ssize_t got = recv(client, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    received.append(buffer, static_cast<std::size_t>(got));
  }
  StopTransfers();
  const HttpExchange ended = in_flight.get();
  // No new exchange reaches the service: no password goes out once the host stops.
  const HttpExchange refused = SendWithCurl(request);
  ResumeTransfers();
  EXPECT_EQ(std::to_string(ended.delivered) + " " + ended.error + "|" +
                std::to_string(refused.delivered) + " " + refused.error,
            "0 the host is stopping|0 the host is stopping");
  EXPECT_LT(accept(service, nullptr, nullptr), 0);  // nobody else came
  close(client);
  close(service);
  GlobalCurlCleanup();
}

}  // namespace
}  // namespace devhost
