#include "plugin_runtime/entry_scope.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "logging/logger.h"

namespace plugin_runtime {
namespace {

// The threads inside a call of the host's, with their depth and what their outermost scope runs
// on its way out. A fixed table rather than thread-local variables, which trip leak checkers once
// the host has unloaded the library while its threads live on, and rather than a growing one,
// which would keep heap the plug-in must give back when it stops. Threads past the table's size
// are not counted: a stop neither waits for them nor defers freeing the plug-in for them.
struct Frame {
  std::thread::id thread;  // default: a free slot
  int depth = 0;
  std::vector<std::function<void()>> at_exit;
};

struct Frames {
  std::mutex mutex;
  std::condition_variable left;  // a thread's outermost scope ended
  int waiting = 0;               // threads in WaitForOtherThreads
  std::array<Frame, 64> frames;
  std::size_t used = 0;  // slots ever taken: the rest are free

  // The frame of `thread` (a default id finds a free one), or null; mutex held.
  Frame* Find(std::thread::id thread) {
    for (std::size_t i = 0; i < used; ++i) {
      if (frames[i].thread == thread) return &frames[i];
    }
    if (thread == std::thread::id() && used < frames.size()) return &frames[used++];
    return nullptr;
  }
  bool OthersInside(std::thread::id self) const {
    for (std::size_t i = 0; i < used; ++i) {
      if (frames[i].thread != std::thread::id() && frames[i].thread != self) return true;
    }
    return false;
  }
};

Frames& TheFrames() {
  static Frames frames;
  return frames;
}

}  // namespace

EntryScope::EntryScope() {
  Frames& frames = TheFrames();
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(frames.mutex);
  if (Frame* frame = frames.Find(self)) {
    ++frame->depth;
  } else if (Frame* free = frames.Find(std::thread::id())) {
    free->thread = self;
    free->depth = 1;
  }
}

EntryScope::~EntryScope() {
  std::vector<std::function<void()>> actions;
  {
    Frames& frames = TheFrames();
    std::lock_guard<std::mutex> lock(frames.mutex);
    Frame* frame = frames.Find(std::this_thread::get_id());
    if (frame == nullptr || --frame->depth > 0) return;
    actions.swap(frame->at_exit);
    frame->thread = std::thread::id();
    if (frames.waiting > 0) frames.left.notify_all();
  }
  for (std::function<void()>& action : actions) {
    try {
      action();
    } catch (...) {
      logging::Log(logging::kError, logging::kGroupDbg, "stop: unexpected exception");
    }
  }
}

bool EntryScope::Inside() {
  Frames& frames = TheFrames();
  std::lock_guard<std::mutex> lock(frames.mutex);
  return frames.Find(std::this_thread::get_id()) != nullptr;
}

void EntryScope::AtExit(std::function<void()> action) {
  Frames& frames = TheFrames();
  std::lock_guard<std::mutex> lock(frames.mutex);
  if (Frame* frame = frames.Find(std::this_thread::get_id())) {
    frame->at_exit.push_back(std::move(action));
  }
}

void EntryScope::WaitForOtherThreads() {
  Frames& frames = TheFrames();
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(frames.mutex);
  ++frames.waiting;
  frames.left.wait(lock, [&] { return !frames.OthersInside(self); });
  --frames.waiting;
}

}  // namespace plugin_runtime
