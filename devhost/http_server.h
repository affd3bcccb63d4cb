// The host's API server: HTTP on 127.0.0.1 only, every request authorised by the run's bearer
// secret. Plug-in paths go through the catalogue router; the host adds /events (Server-Sent
// Events), /openapi.json and /memory (the plug-in's memory statistics).
#ifndef DEVHOST_HTTP_SERVER_H_
#define DEVHOST_HTTP_SERVER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devhost/catalogue_router.h"
#include "devhost/event_hub.h"
#include "devhost/host_log.h"

namespace httplib {
class Server;
}

namespace devhost {

// Compares without an early exit, so the time taken says nothing about where a guess went
// wrong.
bool SecretMatches(std::string_view authorization_header, std::string_view secret);

struct ServerSettings {
  std::string secret;
  int port = 0;  // 0: any free port
  int threads = 16;
  // Folder of the sign-on console's static files, served at "/" without the secret (they hold
  // none; the page takes the secret from its address fragment). Empty: no console.
  std::string console_folder;
  // One line per plug-in request: method, path, status, time taken and the part of it spent in
  // outgoing HTTP (never bodies).
  bool log_requests = false;
  // What GET /memory reports; without it that path is 404.
  std::function<MemoryStatistics()> plugin_memory;
};

// The process's whole malloc heap: what is in use, and what the allocator holds (in use, or
// free but kept).
struct ProcessHeap {
  std::uint64_t in_use = 0;
  std::uint64_t held = 0;
};
ProcessHeap ReadProcessHeap();

// What GET /memory answers: the plug-in's six counters, its bytes and blocks in use, then the
// process heap beside them.
std::string MemoryStatisticsJson(const MemoryStatistics& statistics, const ProcessHeap& heap);

class ApiServer {
 public:
  // The router, hub and log must outlive the server.
  ApiServer(ServerSettings settings, const CatalogueRouter& router, EventHub& events, HostLog& log);
  // Stops.
  ~ApiServer();
  ApiServer(const ApiServer&) = delete;
  ApiServer& operator=(const ApiServer&) = delete;

  // Binds 127.0.0.1 and returns the port, or -1 when it cannot.
  int Bind();
  // The document /openapi.json serves; set before Start.
  void SetOpenApiDocument(std::string document) { openapi_ = std::move(document); }
  // Serves on a thread of its own until Stop.
  void Start();
  // Ends the event streams, stops accepting and waits for requests in flight.
  void Stop();

 private:
  void Install();

  ServerSettings settings_;
  const CatalogueRouter& router_;
  EventHub& events_;
  HostLog& log_;
  std::string openapi_;
  std::vector<std::string> console_paths_;  // request paths of the console's files
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
};

}  // namespace devhost

#endif  // DEVHOST_HTTP_SERVER_H_
