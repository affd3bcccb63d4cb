#include "devhost/http_server.h"

#include <httplib.h>
#include <malloc.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "devhost/curl_transport.h"

namespace devhost {
namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr std::size_t kMaxWorkers = 256;
constexpr std::size_t kMaxBody = 8u << 20;

// Runs connections on workers, adding a worker whenever every one is busy (up to a limit). A
// kept-alive connection holds its worker until it has been quiet for the keep-alive timeout, so
// with a fixed pool smaller than the number of clients, newcomers would wait for other
// clients' timeouts. Workers stay for later connections until shutdown.
class GrowingThreadPool : public httplib::TaskQueue {
 public:
  GrowingThreadPool(std::size_t initial, std::size_t limit) : limit_(std::max(initial, limit)) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < initial; ++i) workers_.emplace_back([this] { Work(); });
  }

  void enqueue(std::function<void()> job) override {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    if (idle_ < jobs_.size() && workers_.size() < limit_) {
      workers_.emplace_back([this] { Work(); });
    }
    ready_.notify_one();
  }

  // The server calls this once it accepts no more connections.
  void shutdown() override {
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      workers.swap(workers_);
    }
    ready_.notify_all();
    for (std::thread& worker : workers) worker.join();
  }

 private:
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ++idle_;
      ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      --idle_;
      if (jobs_.empty()) return;  // stopping, and nothing left to finish
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
    }
  }

  const std::size_t limit_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> workers_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
};

void Reply(httplib::Response& response, int status, const std::string& message) {
  response.status = status;
  response.set_content(ErrorBody(status, message), "application/json");
}

}  // namespace

ProcessHeap ReadProcessHeap() {
  const struct mallinfo2 heap = mallinfo2();
  return {heap.uordblks + heap.hblkhd, heap.arena + heap.hblkhd};
}

std::string MemoryStatisticsJson(const MemoryStatistics& statistics, const ProcessHeap& heap) {
  // Packed fields: copied out before use.
  const std::uint64_t peak = statistics.peakBytesInUse;
  const std::uint64_t at_peak = statistics.allocationsAtPeak;
  const std::uint64_t allocated = statistics.bytesAllocated;
  const std::uint64_t allocations = statistics.allocationCount;
  const std::uint64_t freed = statistics.bytesFreed;
  const std::uint64_t frees = statistics.freeCount;
  return "{\"peakBytesInUse\":" + std::to_string(peak) +
         ",\"allocationsAtPeak\":" + std::to_string(at_peak) +
         ",\"bytesAllocated\":" + std::to_string(allocated) +
         ",\"allocations\":" + std::to_string(allocations) +
         ",\"bytesFreed\":" + std::to_string(freed) + ",\"frees\":" + std::to_string(frees) +
         ",\"bytesInUse\":" + std::to_string(static_cast<std::int64_t>(allocated - freed)) +
         ",\"blocksInUse\":" + std::to_string(static_cast<std::int64_t>(allocations - frees)) +
         ",\"processHeapInUse\":" + std::to_string(heap.in_use) +
         ",\"processHeapHeld\":" + std::to_string(heap.held) + "}";
}

bool SecretMatches(std::string_view authorization_header, std::string_view secret) {
  constexpr std::string_view kScheme = "Bearer ";
  if (secret.empty() || authorization_header.size() != kScheme.size() + secret.size()) {
    return false;
  }
  unsigned difference = 0;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    difference |= static_cast<unsigned char>(std::tolower(authorization_header[i])) ^
                  static_cast<unsigned char>(std::tolower(kScheme[i]));
  }
  for (std::size_t i = 0; i < secret.size(); ++i) {
    difference |= static_cast<unsigned char>(authorization_header[kScheme.size() + i]) ^
                  static_cast<unsigned char>(secret[i]);
  }
  return difference == 0;
}

ApiServer::ApiServer(ServerSettings settings, const CatalogueRouter& router, EventHub& events,
                     HostLog& log)
    : settings_(std::move(settings)),
      router_(router),
      events_(events),
      log_(log),
      server_(std::make_unique<httplib::Server>()) {
  Install();
}

ApiServer::~ApiServer() { Stop(); }

int ApiServer::Bind() {
  if (settings_.port == 0) return server_->bind_to_any_port(kLoopback);
  return server_->bind_to_port(kLoopback, settings_.port) ? settings_.port : -1;
}

void ApiServer::Start() {
  thread_ = std::thread([this] { server_->listen_after_bind(); });
}

void ApiServer::Stop() {
  events_.Close();
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
}

void ApiServer::Install() {
  httplib::Server& server = *server_;
  const std::size_t threads = static_cast<std::size_t>(std::max(settings_.threads, 4));
  server.new_task_queue = [threads] { return new GrowingThreadPool(threads, kMaxWorkers); };
  // Load tests and busy tools reuse their connections far longer than the library's default.
  // An idle connection holds its worker, and Stop waits for it, for the whole keep-alive
  // timeout: keep that short.
  server.set_keep_alive_max_count(100000);
  server.set_keep_alive_timeout(2);
  server.set_payload_max_length(kMaxBody);
  // Headers and body leave in separate writes; without this, Nagle's algorithm holds the body
  // back until the client's delayed acknowledgement, some 40 ms per kept-alive request.
  server.set_tcp_nodelay(true);

  if (!settings_.console_folder.empty() && server.set_mount_point("/", settings_.console_folder)) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(settings_.console_folder, error)) {
      if (entry.is_regular_file()) {
        console_paths_.push_back("/" + entry.path().filename().string());
      }
    }
    console_paths_.push_back("/");
  }

  server.set_pre_routing_handler([this](const httplib::Request& request,
                                        httplib::Response& response) {
    // The console's own files are public; only exact names are, never a path below them.
    if ((request.method == "GET" || request.method == "HEAD") &&
        std::find(console_paths_.begin(), console_paths_.end(), request.path) !=
            console_paths_.end()) {
      response.set_header("Cache-Control", "no-store");
      return httplib::Server::HandlerResponse::Unhandled;
    }
    if (!SecretMatches(request.get_header_value("Authorization"), settings_.secret)) {
      response.set_header("WWW-Authenticate", "Bearer");
      Reply(response, 401, "This host needs Authorization: Bearer <secret> (see the lock file).");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.Get("/openapi.json", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(openapi_, "application/json");
  });
  if (settings_.plugin_memory) {
    server.Get("/memory", [this](const httplib::Request&, httplib::Response& response) {
      response.set_header("Cache-Control", "no-store");
      response.set_content(MemoryStatisticsJson(settings_.plugin_memory(), ReadProcessHeap()),
                           "application/json");
    });
  }

  // "?replay=1" first sends the events published before the client came (the plug-in signs on
  // from its command line before anyone can listen).
  server.Get("/events", [this](const httplib::Request& request, httplib::Response& response) {
    auto listener = events_.Listen(request.get_param_value("replay") == "1");
    auto greeted = std::make_shared<bool>(false);
    response.set_header("Cache-Control", "no-cache");
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, listener, greeted](std::size_t, httplib::DataSink& sink) {
          // A comment line first, so that clients see the stream open at once.
          static const std::string kHello = ": events of the development host\n\n";
          std::string frame = *greeted ? "" : kHello;
          *greeted = true;
          bool closed = false;
          int idle_waits = 0;
          for (;;) {
            if (!frame.empty()) return sink.write(frame.data(), frame.size());
            if (events_.Next(*listener, frame, std::chrono::milliseconds(500), closed)) continue;
            if (closed || !sink.is_writable()) return false;
            // Quiet for a while: a comment keeps proxies from closing the stream and finds
            // clients that went away.
            if (++idle_waits >= 30) frame = ":\n\n";
          }
        },
        [this, listener](bool) { events_.Forget(listener); });
  });

  auto dispatch = [this](const httplib::Request& request, std::string body,
                         httplib::Response& response) {
    ApiRequest api;
    api.method = request.method;
    api.path = request.path;
    const std::size_t mark = request.target.find('?');
    if (mark != std::string::npos) api.query = request.target.substr(mark + 1);
    for (const auto& [name, value] : request.headers) {
      // The secret is the host's; the plug-in never needs to see it.
      if (strcasecmp(name.c_str(), "Authorization") == 0) continue;
      std::string lower = name;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      api.headers.emplace_back(std::move(lower), value);
    }
    api.content_type = request.get_header_value("Content-Type");
    api.body = std::move(body);
    const double http_before = ThreadHttpSeconds();
    const auto started = std::chrono::steady_clock::now();
    ApiAnswer answer = router_.Handle(api);
    if (settings_.log_requests) {
      const double total =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      const double http = ThreadHttpSeconds() - http_before;
      char timing[96];
      std::snprintf(timing, sizeof timing, " in %.3f ms (outgoing HTTP %.3f ms)", total * 1e3,
                    http * 1e3);
      log_.Host(request.method + " " + request.path + " " + std::to_string(answer.status) + timing);
    }
    response.status = answer.status;
    for (const auto& [name, value] : answer.headers) response.set_header(name, value);
    if (!answer.content_type.empty()) {
      response.set_content(std::move(answer.body), answer.content_type.c_str());
    }
  };
  auto without_body = [dispatch](const httplib::Request& request, httplib::Response& response) {
    dispatch(request, "", response);
  };
  // The library would wait for the end of the connection for the body of a POST, PUT, PATCH or
  // DELETE that announces no length (as "curl -X POST" sends them) and then answer 400; these
  // handlers read a body only when one is announced.
  const std::size_t limit = kMaxBody;
  auto with_body = [dispatch, limit](const httplib::Request& request, httplib::Response& response,
                                     const httplib::ContentReader& read) {
    std::string body;
    const bool announced =
        request.has_header("Content-Length") ||
        request.get_header_value("Transfer-Encoding").find("chunked") != std::string::npos;
    bool too_large = false;
    if (announced) {
      read([&](const char* data, std::size_t length) {
        too_large = body.size() + length > limit;
        if (!too_large) body.append(data, length);
        return !too_large;
      });
    }
    if (too_large) {
      Reply(response, 413, "The body is larger than this host takes.");
      return;
    }
    dispatch(request, std::move(body), response);
  };
  server.Get(".*", without_body);
  server.Options(".*", without_body);
  server.Post(".*", with_body);
  server.Put(".*", with_body);
  server.Delete(".*", with_body);
  server.Patch(".*", with_body);
}

}  // namespace devhost
