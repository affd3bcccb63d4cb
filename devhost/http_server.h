// The host's API server: HTTP on 127.0.0.1 only, every request authorised by the run's bearer
// secret. Plug-in paths go through the catalogue router; the host adds /events (Server-Sent
// Events), /openapi.json, /memory (the plug-in's memory statistics) and /ready (whether the
// plug-in's start-up work is done).
//
// libmicrohttpd serves it, one thread per connection: a request may wait seconds on the
// sign-on service and an event stream stays open for the client's life, and neither may hold
// up anyone else. The host owns the listening socket and its backlog, so that a burst of
// connections on a busy machine waits in the kernel's queue instead of being dropped.
#ifndef DEVHOST_HTTP_SERVER_H_
#define DEVHOST_HTTP_SERVER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "devhost/catalogue_router.h"
#include "devhost/event_hub.h"
#include "devhost/host_log.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace devhost {

// Compares without an early exit, so the time taken says nothing about where a guess went
// wrong.
bool SecretMatches(std::string_view authorization_header, std::string_view secret);

struct ServerSettings {
  std::string secret;
  int port = 0;  // 0: any free port
  // Connections the kernel holds for the server before it accepts them.
  int backlog = 4096;
  // Connections served at once; more are closed as soon as they are accepted. Lowered to what
  // the process's file descriptor limit leaves room for (twice this many, for connections
  // being closed).
  unsigned max_connections = 4096;
  // A connection that sends nothing for this long is closed, between requests or inside one.
  // Quiet event streams get a comment three times as often, so that they stay open.
  unsigned idle_timeout_seconds = 10;
  // Connections waiting for a request line and headers (new ones, and kept-alive ones between
  // requests). When one more comes, the oldest of them is closed: connections that stall in
  // their headers cannot keep out requests that arrive whole. 0: half the connection cap.
  unsigned max_waiting_connections = 0;
  // A request line and headers must be complete this long after the connection opened or its
  // previous request was answered, however slowly they trickle in; else the connection closes.
  std::chrono::milliseconds header_deadline = std::chrono::seconds(10);
  // Likewise the body, from the moment its headers are in.
  std::chrono::milliseconds body_deadline = std::chrono::seconds(10);
  // The request line and headers together; a request over it is answered 431 (or 414 for the
  // line alone) before anything is read of its body.
  std::size_t max_header_bytes = 64 * 1024;
  // Folder of the sign-on console's static files, served at "/" without the secret (they hold
  // none; the page takes the secret from its address fragment). Empty: no console.
  std::string console_folder;
  // One line per plug-in request: method, path, status, time taken and the part of it spent in
  // outgoing HTTP (never bodies).
  bool log_requests = false;
  // What GET /memory reports; without it that path is 404.
  std::function<MemoryStatistics()> plugin_memory;
  // What GET /ready asks: waits up to the given time for the plug-in's start-up work and tells
  // whether it is done. Without it that path is 404.
  std::function<bool(std::chrono::milliseconds)> wait_ready;
  // The body /ready answers, given whether the start-up work is done; without it {"ready": ...}.
  std::function<std::string(bool ready)> ready_body;
  // The host's own JSON read routes (GET /exchanges, ...): path and what it answers now.
  std::vector<std::pair<std::string, std::function<std::string()>>> json_routes;
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

  // Binds 127.0.0.1 and listens (connections wait in the backlog until Start); returns the
  // port, or -1 when it cannot.
  int Bind();
  // The document /openapi.json serves; set before Start.
  void SetOpenApiDocument(std::string document) { openapi_ = std::move(document); }
  // Serves until Stop; false when the server cannot start.
  bool Start();
  // From now on every request is answered 503 at once; requests in flight go on. Any thread,
  // a signal handler's thread included.
  void Refuse() { refusing_ = true; }
  // Refuses, ends the event streams, closes every connection and waits for requests in flight.
  void Stop();

  struct Exchange;  // one request's state, from its first line to its answer

 private:
  // The answer to a whole request; for libmicrohttpd's access handler.
  int Answer(MHD_Connection* connection, const char* method, Exchange& exchange);
  int AnswerPlugin(MHD_Connection* connection, const char* method, Exchange& exchange);
  int StreamEvents(MHD_Connection* connection, bool replay);
  // The console file a public path names, if it is one; empty otherwise.
  std::string ConsoleFile(std::string_view path) const;

  ServerSettings settings_;
  const CatalogueRouter& router_;
  EventHub& events_;
  HostLog& log_;
  std::string openapi_;
  std::vector<std::string> console_paths_;  // request paths of the console's files
  // Once a second while there are connections: closes those past their header deadline, and
  // after a burst of connections hands the memory their threads freed back to the system.
  void Housekeeping();
  // Whether the Host header names this server (a page on another name reaching 127.0.0.1
  // through DNS rebinding sends its own).
  bool HostIsOurs(const char* host) const;

  // Where a connection is in its request, as the housekeeper sees it.
  enum class Phase {
    kHeaders,    // waiting for a request line and headers
    kBody,       // headers in, receiving the body
    kAnswering,  // the plug-in or the host is answering, or an event stream is open
    kClosing,    // shut down by the housekeeper; its thread closes it
  };
  struct Watch {
    int fd;
    Phase phase;
    std::chrono::steady_clock::time_point since;   // when the phase began
    std::list<MHD_Connection*>::iterator waiting;  // in waiting_ while in kHeaders
    bool library_answer = false;                   // the host answered in place of libmicrohttpd
  };
  // Moves a connection to `phase` (connections_mutex_ held).
  void EnterPhase(Watch& watch, MHD_Connection* connection, Phase phase);
  // Shuts a connection down under its thread (connections_mutex_ held).
  void CloseUnder(Watch& watch);
  std::mutex connections_mutex_;
  std::condition_variable housekeeping_wake_;
  std::unordered_map<MHD_Connection*, Watch> connections_;
  std::list<MHD_Connection*> waiting_;  // connections in kHeaders, oldest first
  std::size_t max_waiting_ = 0;
  std::size_t max_live_ = 0;          // connections not being closed
  std::size_t closing_ = 0;           // connections in kClosing
  std::size_t library_answers_ = 0;   // connections with library_answer set
  std::size_t peak_connections_ = 0;  // since the last burst ended
  std::optional<std::chrono::steady_clock::time_point> trim_at_;
  bool stopping_ = false;
  std::atomic<bool> refusing_{false};
  std::thread housekeeper_;
  int port_ = 0;
  int listen_fd_ = -1;
  MHD_Daemon* daemon_ = nullptr;

  friend struct ApiServerCallbacks;
};

}  // namespace devhost

#endif  // DEVHOST_HTTP_SERVER_H_
