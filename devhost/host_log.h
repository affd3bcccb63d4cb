// The host's log: one line per record with the time (UTC, milliseconds) and the level, on
// standard error and, when asked, appended to a file.
#ifndef DEVHOST_HOST_LOG_H_
#define DEVHOST_HOST_LOG_H_

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace devhost {

// The level words of the plug-in's log levels 0 to 3; other numbers print as themselves.
std::string LevelName(std::int32_t level);

class HostLog {
 public:
  HostLog() = default;
  ~HostLog();
  HostLog(const HostLog&) = delete;
  HostLog& operator=(const HostLog&) = delete;

  // Appends to `path` from now on as well. False when it cannot be opened.
  bool OpenFile(const std::string& path);
  // Any thread; lines are never interleaved.
  void Write(std::int32_t level, std::string_view message);
  // The host's own lines, marked as such.
  void Host(std::string_view message) { Write(3, std::string("devhost: ").append(message)); }

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

}  // namespace devhost

#endif  // DEVHOST_HOST_LOG_H_
