#include "devhost/http_server.h"

#include <fcntl.h>
#include <malloc.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "devhost/curl_transport.h"
#include "wire/url_decode.h"

namespace devhost {

// One request: its path (decoded) and query (as sent; libmicrohttpd's own URL argument leaves
// it out), then the body as it arrives.
struct ApiServer::Exchange {
  std::string path;
  std::string query;
  std::string body;
  std::size_t target_bytes = 0;  // of the request line's target, as sent
  bool checked = false;          // the first call, with the headers alone, has been answered
  bool awaiting_body = false;    // nothing answered yet: the body, if any, then the plug-in
  bool too_large = false;        // the body passed the limit: the rest is read and dropped
};

namespace {

constexpr std::size_t kMaxBody = 8u << 20;
constexpr unsigned kMaxReadyWaitSeconds = 60;
// Connections open at once that count as a burst.
constexpr std::size_t kBurst = 64;

const char* ContentTypeOf(std::string_view file) {
  struct Row {
    std::string_view suffix;
    const char* type;
  };
  static constexpr Row kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
  };
  for (const Row& row : kTypes) {
    if (file.ends_with(row.suffix)) return row.type;
  }
  return "application/octet-stream";
}

using Headers = std::vector<std::pair<std::string, std::string>>;

// No page of another site may frame an answer, read it as another type, or load into the
// console anything but the host's own files.
constexpr std::pair<const char*, const char*> kPageGuards[] = {
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Content-Security-Policy",
     "default-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    {"Referrer-Policy", "no-referrer"},
};

void AddPageGuards(MHD_Response* response) {
  for (const auto& [name, value] : kPageGuards) MHD_add_response_header(response, name, value);
}

// The connection whose request this thread serves, and its socket. libmicrohttpd gives every
// connection a thread of its own, and names the connection only to the callbacks of a request;
// the first one of each request sets them.
thread_local MHD_Connection* t_connection = nullptr;
thread_local int t_connection_fd = -1;

// What the host says where libmicrohttpd would answer a malformed or oversized request itself.
std::string LibraryErrorMessage(unsigned status) {
  switch (status) {
    case MHD_HTTP_CONTENT_TOO_LARGE:
      return "The body is larger than this host takes.";
    case MHD_HTTP_URI_TOO_LONG:
      return "The request line is longer than this host takes.";
    case MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE:
      return "The request's headers are larger than this host takes.";
    case MHD_HTTP_HTTP_VERSION_NOT_SUPPORTED:
      return "This host speaks HTTP/1.0 and HTTP/1.1 only.";
    case MHD_HTTP_BAD_REQUEST:
      return "The request is malformed.";
    default:
      return "The request cannot be served.";
  }
}

// Writes the host's JSON answer in place of the one libmicrohttpd is about to write, and ends
// sending, so that the library's one goes nowhere and the connection closes.
void WriteLibraryError(int fd, unsigned status) {
  const std::string body = ErrorBody(static_cast<int>(status), LibraryErrorMessage(status));
  const char* reason = MHD_get_reason_phrase_for(status);
  std::string answer =
      "HTTP/1.1 " + std::to_string(status) + " " + reason +
      "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\nConnection: close\r\n";
  for (const auto& [name, value] : kPageGuards) answer += std::string(name) + ": " + value + "\r\n";
  answer += "\r\n" + body;
  std::string_view rest = answer;
  while (!rest.empty()) {
    const ssize_t sent = send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
    if (sent <= 0) break;
    rest.remove_prefix(static_cast<std::size_t>(sent));
  }
  shutdown(fd, SHUT_WR);
}

// Control bytes of a request path written raw to the log could forge lines or drive the
// terminal.
std::string EscapeForLog(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

MHD_Result Send(MHD_Connection* connection, unsigned status, const std::string& content_type,
                const std::string& body, const Headers& headers = {}) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  if (!content_type.empty()) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, content_type.c_str());
  }
  for (const auto& [name, value] : headers) {
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  AddPageGuards(response);
  const MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result SendError(MHD_Connection* connection, unsigned status, const std::string& message,
                     const Headers& headers = {}) {
  return Send(connection, status, "application/json", ErrorBody(static_cast<int>(status), message),
              headers);
}

const char* HeaderValue(MHD_Connection* connection, const char* name) {
  return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

// The value of the first piece named `name` in a query; empty when there is none.
std::string QueryValue(std::string_view query, std::string_view name) {
  for (auto& [piece, value] : wire::QueryPieces(query)) {
    if (piece == name) return std::move(value);
  }
  return {};
}

// An open /events stream: the frame being written and how much of it went out.
struct EventStream {
  EventHub* hub;
  std::shared_ptr<EventHub::Listener> listener;
  std::chrono::milliseconds keep_alive;  // the longest quiet spell
  std::string frame;
  std::size_t sent = 0;
  bool greeted = false;
};

// Runs on the connection's own thread, which may wait here for the next event.
ssize_t ReadEvents(void* context, std::uint64_t, char* buffer, std::size_t capacity) {
  EventStream& stream = *static_cast<EventStream*>(context);
  while (stream.sent == stream.frame.size()) {
    stream.frame.clear();
    stream.sent = 0;
    if (!stream.greeted) {
      // A comment line first, so that clients see the stream open at once.
      stream.greeted = true;
      stream.frame = ": events of the development host\n\n";
      break;
    }
    bool closed = false;
    if (stream.hub->Next(*stream.listener, stream.frame, stream.keep_alive, closed)) break;
    if (closed) return MHD_CONTENT_READER_END_OF_STREAM;
    // Quiet for a while: a comment, well inside the idle timeout, keeps the stream open and
    // finds clients that went away (the write fails).
    stream.frame = ":\n\n";
  }
  const std::size_t length = std::min(capacity, stream.frame.size() - stream.sent);
  std::copy_n(stream.frame.data() + stream.sent, length, buffer);
  stream.sent += length;
  return static_cast<ssize_t>(length);
}

void ForgetEvents(void* context) {
  auto* stream = static_cast<EventStream*>(context);
  stream->hub->Forget(stream->listener);
  delete stream;
}

// False when a request carries both Content-Length and Transfer-Encoding, or Content-Lengths
// that differ.
bool BodyFramingIsClear(MHD_Connection* connection) {
  struct Framing {
    bool transfer_encoding = false;
    std::optional<std::string> length;
    bool lengths_differ = false;
  } framing;
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* context, MHD_ValueKind, const char* name, const char* value) {
        auto& framing = *static_cast<Framing*>(context);
        const std::string text = value != nullptr ? value : "";
        if (strcasecmp(name, MHD_HTTP_HEADER_TRANSFER_ENCODING) == 0) {
          framing.transfer_encoding = true;
        } else if (strcasecmp(name, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0) {
          framing.lengths_differ |= framing.length.has_value() && *framing.length != text;
          framing.length = text;
        }
        return MHD_YES;
      },
      &framing);
  return !framing.lengths_differ && !(framing.transfer_encoding && framing.length);
}

// What the process's file descriptor limit leaves for connections, beside the host's own
// files, sockets to the sign-on service and the plug-in's.
unsigned ConnectionRoom(unsigned wanted) {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return wanted;
  constexpr rlim_t kReserved = 128;
  if (limit.rlim_cur <= kReserved * 2) return static_cast<unsigned>(limit.rlim_cur / 2);
  return static_cast<unsigned>(std::min<rlim_t>(wanted, limit.rlim_cur - kReserved));
}

}  // namespace

// libmicrohttpd's callbacks, which reach the server's private parts.
struct ApiServerCallbacks {
  // Called with the request line's target before anything else of a request; what it returns
  // is the request's state from then on.
  static void* Begin(void*, const char* target, MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    t_connection_fd = info != nullptr ? info->connect_fd : -1;
    t_connection = connection;
    auto* exchange = new (std::nothrow) ApiServer::Exchange;
    if (exchange == nullptr) return nullptr;
    const std::string_view text = target;
    const std::size_t mark = text.find('?');
    exchange->target_bytes = text.size();
    exchange->path = wire::PercentDecode(text.substr(0, mark), false);
    if (mark != std::string_view::npos) {
      exchange->query = text.substr(mark + 1);
      // The host reads the query from its own copy. Left alone, libmicrohttpd would file each
      // piece in the connection's memory pool next to the headers, and a long query of short
      // pieces would exhaust it and end the connection without an answer. The target lies in
      // the library's own read buffer, which it parses in place right after this call.
      const_cast<char*>(target)[mark + 1] = '\0';
    }
    return exchange;
  }

  // libmicrohttpd's log, which announces each answer the library is about to write itself
  // (HTML, without the guards) on the thread of its connection.
  static void LibraryLog(void* context, const char* format, va_list arguments) {
    constexpr std::string_view kAnnouncement = "Error processing request (HTTP response code is %u";
    if (t_connection == nullptr || !std::string_view(format).starts_with(kAnnouncement)) return;
    auto& server = *static_cast<ApiServer*>(context);
    {
      // A library answer queued while the daemon stops crashes libmicrohttpd 0.9.75; the
      // host's own answer would let the client go on and stop the server in that moment. So
      // Stop waits for the announced ones to end, and none is replaced once it has begun.
      std::lock_guard<std::mutex> lock(server.connections_mutex_);
      auto found = server.connections_.find(t_connection);
      if (server.stopping_ || found == server.connections_.end() || found->second.library_answer) {
        return;
      }
      found->second.library_answer = true;
      ++server.library_answers_;
    }
    va_list copy;
    va_copy(copy, arguments);
    const unsigned status = va_arg(copy, unsigned);
    va_end(copy);
    WriteLibraryError(t_connection_fd, status);
  }

  // Keeps the housekeeper's account of the open connections.
  static void Connection(void* context, MHD_Connection* connection, void**,
                         MHD_ConnectionNotificationCode code) {
    auto& server = *static_cast<ApiServer*>(context);
    using Phase = ApiServer::Phase;
    std::lock_guard<std::mutex> lock(server.connections_mutex_);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      const MHD_ConnectionInfo* info =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
      ApiServer::Watch& watch = server.connections_[connection] = {
          info != nullptr ? info->connect_fd : -1, Phase::kAnswering, {}, {}};
      server.EnterPhase(watch, connection, Phase::kHeaders);
      // Keep room for requests that arrive whole: the newcomer may be one of them, the
      // connection waiting longest is the likeliest to be stalled.
      if (server.waiting_.size() > server.max_waiting_) {
        server.CloseUnder(server.connections_.at(server.waiting_.front()));
      }
      // Over the cap the newcomer goes. Connections being closed count no more: they hold a
      // descriptor a moment longer, which the library's own, larger limit leaves room for.
      if (server.connections_.size() - server.closing_ > server.max_live_) server.CloseUnder(watch);
      server.peak_connections_ = std::max(server.connections_.size(), server.peak_connections_);
      server.housekeeping_wake_.notify_one();
      return;
    }
    // Called before the socket is closed: the housekeeper never touches a descriptor that
    // may have been reused.
    auto found = server.connections_.find(connection);
    if (found == server.connections_.end()) return;
    server.EnterPhase(found->second, connection, Phase::kClosing);
    --server.closing_;
    if (found->second.library_answer && --server.library_answers_ == 0) {
      server.housekeeping_wake_.notify_all();
    }
    server.connections_.erase(found);
    if (server.peak_connections_ >= kBurst && server.connections_.size() <= kBurst / 8) {
      server.peak_connections_ = server.connections_.size();
      // The connections' threads end and are cleaned up a little after they report closing.
      server.trim_at_ = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      server.housekeeping_wake_.notify_one();
    }
  }

  static void Move(ApiServer& server, MHD_Connection* connection, ApiServer::Phase phase) {
    std::lock_guard<std::mutex> lock(server.connections_mutex_);
    auto found = server.connections_.find(connection);
    if (found != server.connections_.end()) server.EnterPhase(found->second, connection, phase);
  }

  // The request is answered: the connection waits for the next one.
  static void End(void* context, MHD_Connection* connection, void** state,
                  MHD_RequestTerminationCode) {
    Move(*static_cast<ApiServer*>(context), connection, ApiServer::Phase::kHeaders);
    delete static_cast<ApiServer::Exchange*>(*state);
    *state = nullptr;
  }

  // First with the headers alone, then once per piece of body, then once more with none.
  static MHD_Result Access(void* context, MHD_Connection* connection, const char*,
                           const char* method, const char*, const char* upload,
                           std::size_t* upload_size, void** state) {
    auto* exchange = static_cast<ApiServer::Exchange*>(*state);
    if (exchange == nullptr) return MHD_NO;  // out of memory: drop the connection
    auto& server = *static_cast<ApiServer*>(context);
    try {
      if (!exchange->checked) {
        exchange->checked = true;
        const int answer = server.Answer(connection, method, *exchange);
        Move(server, connection,
             exchange->awaiting_body ? ApiServer::Phase::kBody : ApiServer::Phase::kAnswering);
        return static_cast<MHD_Result>(answer);
      }
      if (*upload_size != 0) {
        if (exchange->body.size() + *upload_size > kMaxBody) {
          exchange->too_large = true;
          exchange->body.clear();
        } else if (!exchange->too_large) {
          exchange->body.append(upload, *upload_size);
        }
        *upload_size = 0;
        return MHD_YES;
      }
      Move(server, connection, ApiServer::Phase::kAnswering);
      if (exchange->too_large) {
        return SendError(connection, MHD_HTTP_CONTENT_TOO_LARGE,
                         "The body is larger than this host takes.");
      }
      return static_cast<MHD_Result>(server.AnswerPlugin(connection, method, *exchange));
    } catch (const std::exception&) {
      return SendError(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, "The host failed to answer.");
    }
  }
};
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
    difference |=
        static_cast<unsigned>(std::tolower(static_cast<unsigned char>(authorization_header[i])) ^
                              std::tolower(static_cast<unsigned char>(kScheme[i])));
  }
  for (std::size_t i = 0; i < secret.size(); ++i) {
    difference |= static_cast<unsigned char>(authorization_header[kScheme.size() + i]) ^
                  static_cast<unsigned char>(secret[i]);
  }
  return difference == 0;
}

ApiServer::ApiServer(ServerSettings settings, const CatalogueRouter& router, EventHub& events,
                     HostLog& log)
    : settings_(std::move(settings)), router_(router), events_(events), log_(log) {
  if (!settings_.console_folder.empty()) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(settings_.console_folder, error)) {
      if (entry.is_regular_file()) {
        console_paths_.push_back("/" + entry.path().filename().string());
      }
    }
    if (!console_paths_.empty()) console_paths_.push_back("/");
  }
}

ApiServer::~ApiServer() { Stop(); }

int ApiServer::Bind() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(settings_.port));
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, std::max(settings_.backlog, 1)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  listen_fd_ = fd;
  port_ = ntohs(address.sin_port);
  return port_;
}

bool ApiServer::Start() {
  if (listen_fd_ < 0 || daemon_ != nullptr) return false;
  // Twice the cap, for connections that are being closed.
  const unsigned room = ConnectionRoom(settings_.max_connections * 2);
  max_live_ = std::min(settings_.max_connections, room);
  max_waiting_ = settings_.max_waiting_connections != 0
                     ? std::min<std::size_t>(settings_.max_waiting_connections, max_live_)
                     : std::max<std::size_t>(max_live_ / 2, 1);
  // The pool holds the read buffer (half of it at first) with the request line and headers in
  // it, the headers' records and the answer's head. Twice the header limit keeps a whole head
  // in the first half, so that the host's own check answers 414 or 431 and not the library.
  const std::size_t pool = settings_.max_header_bytes * 2 + 32 * 1024;
  // The connection threads inherit the caller's signal mask; SIGPIPE of a client gone away is
  // taken by libmicrohttpd's own sends. The error log is where the library announces the
  // answers it writes itself.
  daemon_ = MHD_start_daemon(MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                                 MHD_USE_POLL | MHD_USE_ERROR_LOG,
                             0, nullptr, nullptr, &ApiServerCallbacks::Access, this,
                             MHD_OPTION_LISTEN_SOCKET, listen_fd_, MHD_OPTION_CONNECTION_LIMIT,
                             room, MHD_OPTION_CONNECTION_TIMEOUT, settings_.idle_timeout_seconds,
                             MHD_OPTION_CONNECTION_MEMORY_LIMIT, pool, MHD_OPTION_EXTERNAL_LOGGER,
                             &ApiServerCallbacks::LibraryLog, this, MHD_OPTION_URI_LOG_CALLBACK,
                             &ApiServerCallbacks::Begin, this, MHD_OPTION_NOTIFY_COMPLETED,
                             &ApiServerCallbacks::End, this, MHD_OPTION_NOTIFY_CONNECTION,
                             &ApiServerCallbacks::Connection, this, MHD_OPTION_END);
  if (daemon_ == nullptr) return false;
  housekeeper_ = std::thread([this] { Housekeeping(); });
  return true;
}

void ApiServer::Housekeeping() {
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> lock(connections_mutex_);
  while (!stopping_) {
    housekeeping_wake_.wait(lock,
                            [this] { return stopping_ || !connections_.empty() || trim_at_; });
    if (housekeeping_wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; })) {
      break;
    }
    const Clock::time_point now = Clock::now();
    for (auto& [connection, watch] : connections_) {
      if ((watch.phase == Phase::kHeaders && now - watch.since > settings_.header_deadline) ||
          (watch.phase == Phase::kBody && now - watch.since > settings_.body_deadline)) {
        CloseUnder(watch);
      }
    }
    if (trim_at_ && now >= *trim_at_) {
      trim_at_.reset();
      // Each connection's thread may have used an allocator arena of its own, which would
      // otherwise keep the burst's high-water mark for the life of the host.
      lock.unlock();
      malloc_trim(0);
      lock.lock();
    }
  }
}

void ApiServer::EnterPhase(Watch& watch, MHD_Connection* connection, Phase phase) {
  if (watch.phase == Phase::kClosing) return;
  if (watch.phase == Phase::kHeaders) waiting_.erase(watch.waiting);
  if (phase == Phase::kClosing) ++closing_;
  watch.phase = phase;
  watch.since = std::chrono::steady_clock::now();
  if (phase == Phase::kHeaders) watch.waiting = waiting_.insert(waiting_.end(), connection);
}

void ApiServer::CloseUnder(Watch& watch) {
  // Its thread sees the connection end and closes it.
  if (watch.fd >= 0) shutdown(watch.fd, SHUT_RDWR);
  EnterPhase(watch, nullptr, Phase::kClosing);
}

bool ApiServer::HostIsOurs(const char* host) const {
  if (host == nullptr) return true;  // HTTP/1.0; browsers always send one
  const std::string port = ":" + std::to_string(port_);
  for (const char* name : {"127.0.0.1", "localhost"}) {
    if (strcasecmp(host, (name + port).c_str()) == 0) return true;
  }
  return false;
}

void ApiServer::Stop() {
  Refuse();
  events_.Close();
  {
    std::unique_lock<std::mutex> lock(connections_mutex_);
    stopping_ = true;
    housekeeping_wake_.notify_all();
    // Their connections close as soon as the library has queued its answer.
    housekeeping_wake_.wait_for(lock, std::chrono::seconds(1),
                                [this] { return library_answers_ == 0; });
  }
  if (housekeeper_.joinable()) housekeeper_.join();
  if (daemon_ != nullptr) {
    // Closes the listening socket too.
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    listen_fd_ = -1;
  }
  if (listen_fd_ >= 0) {
    close(listen_fd_);
    listen_fd_ = -1;
  }
}

std::string ApiServer::ConsoleFile(std::string_view path) const {
  if (std::find(console_paths_.begin(), console_paths_.end(), path) == console_paths_.end()) {
    return {};
  }
  return settings_.console_folder + (path == "/" ? std::string("/index.html") : std::string(path));
}

int ApiServer::Answer(MHD_Connection* connection, const char* method_text, Exchange& exchange) {
  const std::string_view method = method_text;
  const std::string& path = exchange.path;
  const std::string& query = exchange.query;
  const bool reading = method == "GET" || method == "HEAD";
  if (refusing_) {
    return SendError(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "The host is stopping.",
                     {{"Connection", "close"}});
  }
  // What libmicrohttpd let through: it refuses heads larger than its memory pool itself.
  const MHD_ConnectionInfo* head =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
  if (exchange.target_bytes > settings_.max_header_bytes) {
    return SendError(connection, MHD_HTTP_URI_TOO_LONG, LibraryErrorMessage(MHD_HTTP_URI_TOO_LONG),
                     {{"Connection", "close"}});
  }
  if (head != nullptr && head->header_size > settings_.max_header_bytes) {
    return SendError(connection, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE,
                     LibraryErrorMessage(MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE),
                     {{"Connection", "close"}});
  }
  // Where the body ends must be beyond doubt: a proxy in front could read it otherwise, and
  // take what follows as a request of its own.
  if (!BodyFramingIsClear(connection)) {
    return SendError(connection, MHD_HTTP_BAD_REQUEST,
                     "The request gives its body's length more than one way.",
                     {{"Connection", "close"}});
  }
  if (!HostIsOurs(HeaderValue(connection, MHD_HTTP_HEADER_HOST))) {
    return SendError(connection, MHD_HTTP_MISDIRECTED_REQUEST,
                     "This host answers to 127.0.0.1:" + std::to_string(port_) + " only.");
  }

  // The console's own files are public; only exact names are, never a path below them.
  if (reading) {
    const std::string file = ConsoleFile(path);
    if (!file.empty()) {
      std::ifstream in(file, std::ios::binary);
      if (!in) return SendError(connection, MHD_HTTP_NOT_FOUND, "No such console file.");
      std::ostringstream content;
      content << in.rdbuf();
      return Send(connection, MHD_HTTP_OK, ContentTypeOf(file), content.str(),
                  {{"Cache-Control", "no-store"}});
    }
  }
  const char* authorization = HeaderValue(connection, MHD_HTTP_HEADER_AUTHORIZATION);
  if (!SecretMatches(authorization != nullptr ? authorization : "", settings_.secret)) {
    return SendError(connection, MHD_HTTP_UNAUTHORIZED,
                     "This host needs Authorization: Bearer <secret> (see the lock file).",
                     {{"WWW-Authenticate", "Bearer"}});
  }
  // A body over the limit is refused before a byte of it is read.
  if (const char* length = HeaderValue(connection, MHD_HTTP_HEADER_CONTENT_LENGTH)) {
    if (std::strtoull(length, nullptr, 10) > kMaxBody) {
      return SendError(connection, MHD_HTTP_CONTENT_TOO_LARGE,
                       "The body is larger than this host takes.");
    }
  }
  if (reading) {
    if (path == "/openapi.json") {
      return Send(connection, MHD_HTTP_OK, "application/json", openapi_);
    }
    if (path == "/memory" && settings_.plugin_memory) {
      return Send(connection, MHD_HTTP_OK, "application/json",
                  MemoryStatisticsJson(settings_.plugin_memory(), ReadProcessHeap()),
                  {{"Cache-Control", "no-store"}});
    }
    if (path == "/ready" && settings_.wait_ready) {
      // "?wait=SECONDS" (at most a minute) waits for the start-up work to end.
      const unsigned wait = std::min<unsigned>(
          static_cast<unsigned>(std::strtoul(QueryValue(query, "wait").c_str(), nullptr, 10)),
          kMaxReadyWaitSeconds);
      const bool ready = settings_.wait_ready(std::chrono::seconds(wait));
      return Send(connection, ready ? MHD_HTTP_OK : MHD_HTTP_SERVICE_UNAVAILABLE,
                  "application/json",
                  settings_.ready_body ? settings_.ready_body(ready)
                  : ready              ? R"({"ready":true})"
                                       : R"({"ready":false})",
                  {{"Cache-Control", "no-store"}});
    }
    for (const auto& [route, answer] : settings_.json_routes) {
      if (path == route) {
        return Send(connection, MHD_HTTP_OK, "application/json", answer(),
                    {{"Cache-Control", "no-store"}});
      }
    }
    if (path == "/events") {
      // A HEAD has its headers alone: no stream to open and none to end.
      if (method == "HEAD") {
        return Send(connection, MHD_HTTP_OK, "text/event-stream", "",
                    {{MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache"}});
      }
      // "?replay=1" first sends the events published before the client came (the plug-in
      // signs on from its command line before anyone can listen).
      return StreamEvents(connection, QueryValue(query, "replay") == "1");
    }
  }
  exchange.awaiting_body = true;
  return MHD_YES;  // the body, if any, then the plug-in
}

int ApiServer::StreamEvents(MHD_Connection* connection, bool replay) {
  // A third of the idle timeout, so that a late comment still comes well within it.
  const std::chrono::milliseconds keep_alive =
      settings_.idle_timeout_seconds != 0
          ? std::chrono::milliseconds(settings_.idle_timeout_seconds * 1000 / 3)
          : std::chrono::milliseconds(15000);
  auto* stream = new EventStream{&events_, events_.Listen(replay), keep_alive, {}, 0, false};
  MHD_Response* response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024,
                                                             &ReadEvents, stream, &ForgetEvents);
  if (response == nullptr) {
    ForgetEvents(stream);
    return MHD_NO;
  }
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
  AddPageGuards(response);
  const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return queued;
}

int ApiServer::AnswerPlugin(MHD_Connection* connection, const char* method, Exchange& exchange) {
  ApiRequest api;
  // A HEAD is answered as the GET it asks about; libmicrohttpd leaves the body out.
  api.method = std::string_view(method) == "HEAD" ? "GET" : method;
  api.path = exchange.path;
  api.query = exchange.query;
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* context, MHD_ValueKind, const char* name, const char* value) {
        // The secret is the host's; the plug-in never needs to see it.
        if (strcasecmp(name, MHD_HTTP_HEADER_AUTHORIZATION) == 0) return MHD_YES;
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        static_cast<ApiRequest*>(context)->headers.emplace_back(std::move(lower),
                                                                value != nullptr ? value : "");
        return MHD_YES;
      },
      &api);
  const char* content_type = HeaderValue(connection, MHD_HTTP_HEADER_CONTENT_TYPE);
  api.content_type = content_type != nullptr ? content_type : "";
  api.body = std::move(exchange.body);
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
    log_.Host(api.method + " " + EscapeForLog(api.path) + " " + std::to_string(answer.status) +
              timing);
  }
  return Send(connection, static_cast<unsigned>(answer.status), answer.content_type, answer.body,
              answer.headers);
}

}  // namespace devhost
