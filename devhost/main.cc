// The development host: loads the plug-in through the C interface alone, implements the host
// operations for real and serves the plug-in's API on 127.0.0.1 for people and tests.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "devhost/catalogue_router.h"
#include "devhost/curl_transport.h"
#include "devhost/data_store.h"
#include "devhost/event_hub.h"
#include "devhost/exchange_log.h"
#include "devhost/host_log.h"
#include "devhost/host_operations.h"
#include "devhost/host_value_json.h"
#include "devhost/http_server.h"
#include "devhost/openapi_document.h"
#include "devhost/plugin_instance.h"
#include "devhost/sign_on_report.h"
#include "devhost/timer_queue.h"

#ifndef ULIX_DEVHOST_CONSOLE_FOLDER
#define ULIX_DEVHOST_CONSOLE_FOLDER ""
#endif

#ifndef ULIX_DEVHOST_DEFAULT_PLUGIN
#define ULIX_DEVHOST_DEFAULT_PLUGIN "libzpk-be-ulix-auth.so"
#endif

namespace {

constexpr const char* kUsage = R"(Usage: ulix-devhost [options] [-- plug-in arguments...]

Loads the sign-on plug-in and serves its API on 127.0.0.1. Every request needs the header
"Authorization: Bearer <secret>"; the secret is new on every run and is printed at start and
written with the port to <state>/devhost.lock (mode 0600).

Options:
  --plugin PATH        the plug-in library (default: the one built with this host)
  --state DIR          state folder: data store, telemetry, lock file (default: ./devhost-state)
  --port N             port on 127.0.0.1, 1 to 65535 (default 0: any free port)
  --region R           the region served at /vornclient/region-locale
  --store PATH=JSON    put a document into the data store before the plug-in starts;
                       repeatable. Example (one argument):
    --store '/data-store/v1/system-settings/region_data/EU/ulix={"url":"http://127.0.0.1:9000","client":"devhost"}'
  --log-file FILE      append the log lines to FILE as well as standard error
  --log-requests       one log line per API request: method, path, status, time, and the time
                       spent in outgoing HTTP (never bodies)
  --core-dumps         allow core dumps (off by default: a core file would hold the secret,
                       tokens and passwords)
  --console DIR        the sign-on console's files, served at / (default: the source tree's
                       devhost/console; --console= turns it off)
  --help               this text

Plug-in arguments (served at /vornclient/command-line-args) follow "--"; arguments starting with
"--ulix-auth." are handed to the plug-in wherever they stand, for example:
  --ulix-auth.url=http://127.0.0.1:9000 --ulix-auth.client=devhost
  --ulix-auth.username=demo --ulix-auth.password-file=FILE --ulix-auth.platform=EU
The plug-in reads url, client, token, required, disabled, username, password and platform; the
host warns of any other name after "--ulix-auth.".
The password reaches the plug-in as --ulix-auth.password=..., taken from the first line of the
file --ulix-auth.password-file names, or from the environment variable ULIX_AUTH_PASSWORD.
--ulix-auth.password=... works on the command line too, but every local user can read a
command line in the process table: prefer the file or the variable.

Routes besides the plug-in's own (GET /openapi.json lists those):
  GET /events          Server-Sent Events: every event the plug-in publishes, the host's timer
                       notes and each outgoing exchange; ?replay=1 sends the earlier ones first
  GET /exchanges       the plug-in's outgoing HTTP exchanges, secrets masked
  GET /openapi.json    the API, with a summary for each operation
  GET /memory          the plug-in's memory statistics beside the process heap
  GET /ready?wait=S    200 once the start-up work is done (the configuration applied, the sign-on
                       from the command line finished or failed), 503 if not within S seconds
                       (at most 60); says whether a player is signed on and the last error
  /                    the console page: open http://127.0.0.1:<port>/#secret=<secret>
The API lines are printed once the plug-in has started. Ctrl-C or SIGTERM stops the plug-in and
exits 0.
)";

struct Options {
  std::string plugin = ULIX_DEVHOST_DEFAULT_PLUGIN;
  std::string state = "devhost-state";
  std::string console = ULIX_DEVHOST_CONSOLE_FOLDER;
  int port = 0;
  std::optional<std::string> region;
  std::vector<std::pair<std::string, std::string>> store;
  std::string log_file;
  bool log_requests = false;
  bool core_dumps = false;
  std::vector<std::string> plugin_arguments;
};

// Parses the command line; nullopt (with a message printed) when it is wrong or --help asked.
std::optional<Options> ParseOptions(int argc, char** argv, int& exit_code) {
  Options options;
  exit_code = 0;
  auto fail = [&](const std::string& message) -> std::optional<Options> {
    std::fprintf(stderr, "ulix-devhost: %s (see --help)\n", message.c_str());
    exit_code = 2;
    return std::nullopt;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--") {
      for (++i; i < argc; ++i) options.plugin_arguments.emplace_back(argv[i]);
      break;
    }
    if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      return std::nullopt;
    }
    if (argument.starts_with("--ulix-auth.")) {
      options.plugin_arguments.push_back(argument);
      continue;
    }
    if (argument == "--log-requests" || argument == "--core-dumps") {
      (argument == "--log-requests" ? options.log_requests : options.core_dumps) = true;
      continue;
    }
    // Every other option takes a value, as "--name=value" or "--name value".
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    static const char* const kValued[] = {"--plugin", "--state", "--region", "--log-file",
                                          "--port",   "--store", "--console"};
    if (std::find(std::begin(kValued), std::end(kValued), name) == std::end(kValued)) {
      return fail("unknown option '" + argument + "'");
    }
    std::string value;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return fail(name + " needs a value");
    }
    if (name == "--plugin") {
      options.plugin = value;
    } else if (name == "--state") {
      options.state = value;
    } else if (name == "--region") {
      options.region = value;
    } else if (name == "--console") {
      options.console = value;
    } else if (name == "--log-file") {
      options.log_file = value;
    } else if (name == "--port") {
      char* end = nullptr;
      const long number = std::strtol(value.c_str(), &end, 10);
      if (end == value.c_str() || *end != '\0') {
        return fail(name + " needs a number, not '" + value + "'");
      }
      if (number < 0 || number > 65535) {
        return fail(name + " " + value +
                    " is out of range: ports go from 1 to 65535 (0: any free port)");
      }
      options.port = static_cast<int>(number);
    } else if (name == "--store") {
      const std::size_t split = value.find('=');
      if (split == std::string::npos || !value.starts_with("/")) {
        return fail("--store needs PATH=JSON");
      }
      options.store.emplace_back(value.substr(0, split), value.substr(split + 1));
    }
  }
  // The password from a file or the environment, so that it need not stand in the process
  // table; the plug-in reads it from its command line as ever.
  constexpr std::string_view kFile = "--ulix-auth.password-file=";
  constexpr std::string_view kPassword = "--ulix-auth.password=";
  bool has_password = false;
  for (std::string& argument : options.plugin_arguments) {
    if (argument.starts_with(kFile)) {
      const std::string file = argument.substr(kFile.size());
      // As ssh does for keys: a password others may read is no longer the user's alone.
      struct stat status {};
      if (stat(file.c_str(), &status) == 0 && (status.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        return fail("permissions " + std::string(mode) + " for the password file '" + file +
                    "' are too open: other users may read it; chmod 600 it");
      }
      std::ifstream in(file);
      std::string password;
      if (!in || !std::getline(in, password)) {
        return fail("cannot read the password from '" + file + "'");
      }
      if (!password.empty() && password.back() == '\r') password.pop_back();
      argument = std::string(kPassword) + password;
    }
    has_password |= argument.starts_with(kPassword);
  }
  if (const char* password = std::getenv("ULIX_AUTH_PASSWORD")) {
    if (!has_password) options.plugin_arguments.push_back(std::string(kPassword) + password);
    unsetenv("ULIX_AUTH_PASSWORD");
  }
  return options;
}

// Refuses a state folder that another user owns or may write to (they could plant links or
// read the lock file's secret), then holds a lock on it for the host's life: a second host on
// the same folder stops at once. -1 (with a message printed) when the folder is not ours.
int LockStateFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "ulix-devhost: cannot create state folder %s: %s\n", folder.c_str(),
                 std::strerror(errno));
    return -1;
  }
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat status {};
  if (fd < 0 || fstat(fd, &status) != 0) {
    std::fprintf(stderr, "ulix-devhost: cannot open state folder %s: %s\n", folder.c_str(),
                 std::strerror(errno));
    if (fd >= 0) close(fd);
    return -1;
  }
  if (status.st_uid != geteuid() || (status.st_mode & 022) != 0) {
    std::fprintf(
        stderr,
        "ulix-devhost: state folder %s is %s; it must be yours and writable by you "
        "alone (%s %s)\n",
        folder.c_str(), status.st_uid != geteuid() ? "owned by another user" : "writable by others",
        status.st_uid != geteuid() ? "sudo chown -R \"$(id -u)\"" : "chmod 700", folder.c_str());
    close(fd);
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    std::fprintf(stderr, "ulix-devhost: another host is running on %s (see %s/devhost.lock)\n",
                 folder.c_str(), folder.c_str());
    close(fd);
    return -1;
  }
  return fd;
}

// Files left in the state folder by an older host, or copied in, keep their mode when opened:
// make each the user's alone, as the files the host creates are.
void MakeStateFilesPrivate(int folder_fd) {
  DIR* folder = fdopendir(dup(folder_fd));
  if (folder == nullptr) return;
  while (const dirent* entry = readdir(folder)) {
    const int fd =
        openat(folder_fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat status {};
    if (fd >= 0 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        (status.st_mode & 077) != 0) {
      fchmod(fd, status.st_mode & 0700);
    }
    if (fd >= 0) close(fd);
  }
  closedir(folder);
}

std::string NewSecret() {
  unsigned char bytes[32];
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      std::perror("ulix-devhost: getrandom");
      std::exit(1);
    }
    filled += static_cast<std::size_t>(got);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string secret;
  for (unsigned char byte : bytes) {
    secret += kHex[byte >> 4];
    secret += kHex[byte & 15];
  }
  return secret;
}

// Why the server could not listen on `port`, in words a person can act on: a second bind
// tells whether another program holds the port.
std::string WhyCannotListen(int port) {
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool bound =
      probe >= 0 && bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  const int reason = errno;
  if (probe >= 0) close(probe);
  if (bound) return "cannot listen on 127.0.0.1:" + std::to_string(port);
  if (reason == EADDRINUSE) {
    return "cannot listen on 127.0.0.1:" + std::to_string(port) +
           ": the port is in use by another program; leave out --port to take any free port";
  }
  if (reason == EACCES) {
    return "cannot listen on 127.0.0.1:" + std::to_string(port) +
           ": ports below 1024 need root; leave out --port to take any free port";
  }
  return "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(reason);
}

bool WriteLockFile(const std::string& path, int port, const std::string& secret) {
  // A new file of our own, never one that stands there already (nor what a link points to).
  const std::string temporary = path + ".new";
  unlink(temporary.c_str());
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::string content = "{\"pid\":" + std::to_string(getpid()) +
                              ",\"port\":" + std::to_string(port) + ",\"secret\":\"" + secret +
                              "\"}\n";
  const bool written =
      write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  fsync(fd);
  close(fd);
  // Readers see the old file or the whole new one.
  return written && rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Every client connection has a thread of its own; with an allocator arena per busy thread
  // (up to eight per core), each arena would keep the high-water mark of the last burst of
  // connections. Two keep a burst's memory small, at no cost in latency.
  mallopt(M_ARENA_MAX, 2);

  int exit_code = 0;
  std::optional<Options> parsed = ParseOptions(argc, argv, exit_code);
  if (!parsed) return exit_code;
  const Options& options = *parsed;

  // Signals are taken by this thread alone, through sigwait; every thread started from here
  // on inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Every client connection is a descriptor: take all the process may have.
  struct rlimit files {};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  // The process holds the secret, tokens and passwords: no core file, no ptrace by other
  // processes of the user, unless asked for.
  if (!options.core_dumps) {
    const struct rlimit no_core { 0, 0 };
    setrlimit(RLIMIT_CORE, &no_core);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  }
  // Every file the host creates (store, telemetry, lock, log) is its user's alone.
  umask(077);

  // First of all, so that a second host on the same folder touches nothing.
  const int state_lock = LockStateFolder(options.state);
  if (state_lock < 0) return 1;
  MakeStateFilesPrivate(state_lock);
  const std::string lock_path = options.state + "/devhost.lock";

  devhost::HostLog log;
  if (!options.log_file.empty() && !log.OpenFile(options.log_file)) {
    std::fprintf(stderr, "ulix-devhost: cannot open log file %s\n", options.log_file.c_str());
    return 1;
  }

  std::string error;
  std::unique_ptr<devhost::DataStore> store =
      devhost::DataStore::Open(options.state + "/data-store.sqlite3", error);
  if (!store) {
    std::fprintf(stderr, "ulix-devhost: cannot open the data store %s/data-store.sqlite3: %s\n",
                 options.state.c_str(), error.c_str());
    return 1;
  }
  for (const auto& [path, json] : options.store) {
    if (!devhost::OwnedHostValue::ParseJson(json, error)) {
      std::fprintf(stderr, "ulix-devhost: --store %s: not JSON: %s\n", path.c_str(), error.c_str());
      return 2;
    }
    if (!store->Put(path, json, error)) {
      std::fprintf(stderr, "ulix-devhost: --store %s: %s\n", path.c_str(), error.c_str());
      return 1;
    }
  }

  // A misspelt option would otherwise be ignored in silence.
  for (const std::string& warning : devhost::UnknownPluginOptions(options.plugin_arguments)) {
    std::fprintf(stderr, "ulix-devhost: warning: %s\n", warning.c_str());
  }

  devhost::GlobalCurlInit();
  int result = 0;
  {
    devhost::EventHub events;
    devhost::TimerQueue timers;
    devhost::ExchangeLog exchanges(&events);
    devhost::HostSettings settings{options.plugin_arguments, options.region,
                                   options.state + "/telemetry.jsonl", &exchanges};
    devhost::HostOperations host(std::move(settings), *store, events, timers, log);

    std::unique_ptr<devhost::PluginInstance> plugin =
        devhost::PluginInstance::Load(options.plugin, error);
    if (!plugin) {
      std::fprintf(stderr, "ulix-devhost: %s\n", error.c_str());
      devhost::GlobalCurlCleanup();
      return 1;
    }
    devhost::CatalogueRouter router(plugin->catalogue());
    devhost::SignOnReporter reporter(router, log, events, options.plugin_arguments);
    router.SetObserver(&reporter);
    const std::string secret = NewSecret();
    devhost::ServerSettings server_settings;
    server_settings.secret = secret;
    server_settings.port = options.port;
    server_settings.wait_ready = [&timers](std::chrono::milliseconds wait) {
      return timers.WaitQuiet(wait);
    };
    server_settings.console_folder = options.console;
    server_settings.log_requests = options.log_requests;
    server_settings.plugin_memory = [&plugin] { return plugin->Statistics(); };
    server_settings.ready_body = [&reporter](bool ready) { return reporter.ReadyJson(ready); };
    server_settings.json_routes.emplace_back("/exchanges",
                                             [&exchanges] { return exchanges.Json(); });
    devhost::ApiServer server(std::move(server_settings), router, events, log);
    const int port = server.Bind();
    if (port < 0) {
      std::fprintf(stderr, "ulix-devhost: %s\n", WhyCannotListen(options.port).c_str());
      plugin.reset();
      devhost::GlobalCurlCleanup();
      return 1;
    }
    const std::string address = "http://127.0.0.1:" + std::to_string(port);
    server.SetOpenApiDocument(devhost::BuildOpenApiDocument(
        plugin->catalogue(), std::string("zpk-be-") + plugin->short_name(), plugin->version(),
        address));

    const HostContext context{host.functions(), 1};
    // Once the start-up work is done, a line on how the command line's sign-on went.
    std::atomic<bool> stopping{false};
    std::thread start_up_report;
    if (!plugin->Start(&context)) {
      log.Host("the plug-in refused to start");
      result = 1;
    } else {
      // Queued behind the plug-in's own start-up callbacks: its configuration is in place
      // before it hears that the plug-ins are ready.
      timers.Schedule("plugin-manager-status", 0,
                      [&host] { host.PublishPluginManagerState(true); });
      start_up_report = std::thread([&] {
        if (timers.WaitQuiet(std::chrono::seconds(60)) && !stopping) reporter.ReportStartUp();
      });
      if (!server.Start()) {
        std::fprintf(stderr, "ulix-devhost: cannot serve on 127.0.0.1:%d\n", port);
        result = 1;
      } else {
        if (!WriteLockFile(lock_path, port, secret)) {
          log.Host("cannot write the lock file " + lock_path);
        }
        const std::string auth = "-H 'Authorization: Bearer " + secret + "'";
        const std::string api = address + "/ulix-auth/v1";
        std::string text =
            "API:     " + address + "\nSecret:  " + secret + "\nLock:    " + lock_path + "\nTry:\n";
        for (const std::string& line :
             {"curl " + auth + " " + api + "/authorization",
              "curl " + auth + " " + api + "/authorization/access-token",
              "curl " + auth + " " + api + "/authorization/id-token",
              "curl " + auth + " " + api + "/authorization/error",
              "curl -X POST " + auth + " " + api + "/authorization/userinfo",
              "curl " + auth + " " + api + "/authorization/userinfo",
              "curl -X POST " + auth + " " + api + "/authorization/refresh",
              "curl -X DELETE " + auth + " " + api + "/authorization",
              "curl -X POST " + auth +
                  " -H 'Content-Type: application/json' -d "
                  "'{\"username\":\"<user>\",\"password\":\"<password>\",\"platformId\":\"EU\"}' " +
                  api + "/authorization/gas",
              "curl -N " + auth + " '" + address + "/events?replay=1'",
              "curl " + auth + " " + address + "/exchanges",
              "curl " + auth + " " + address + "/ready",
              "curl " + auth + " " + address + "/openapi.json"}) {
          text += "  " + line + "\n";
        }
        text += "Console: " + address + "/#secret=" + secret + "\nCtrl-C stops the host.\n";
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);

        int signal_number = 0;
        while (sigwait(&stop_signals, &signal_number) != 0) {
        }
        // New requests get 503 and exchanges with the sign-on service end now, so that the
        // stop waits for no slow service and sends no more passwords.
        server.Refuse();
        devhost::StopTransfers();
        log.Host(std::string("stopping on ") + (signal_number == SIGINT ? "SIGINT" : "SIGTERM"));
      }
    }
    // No new requests, no more callbacks, then the plug-in: nothing can call into it while it
    // takes itself apart.
    stopping = true;
    server.Stop();
    timers.Stop();
    if (start_up_report.joinable()) start_up_report.join();
    plugin->Stop();
    // Everything the plug-in allocated should be given back once it has stopped.
    const MemoryStatistics memory = plugin->Statistics();
    log.Host(devhost::MemoryAfterStopLine(memory));
    plugin.reset();
    // Ours: the folder's lock has been held all along.
    unlink(lock_path.c_str());
    const std::size_t leaked = devhost::HostOperations::OutstandingResponses();
    if (leaked != 0) log.Host(std::to_string(leaked) + " host responses were never released");
  }
  store.reset();
  devhost::GlobalCurlCleanup();
  close(state_lock);
  return result;
}
