#include "plugin_runtime/entry_scope.h"

#include <array>
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
// are not counted: a stop made from inside one of their calls frees the plug-in at once.
struct Frame {
  std::thread::id thread;  // default: no thread
  int depth = 0;
  std::vector<std::function<void()>> at_exit;
};

struct Frames {
  std::mutex mutex;
  std::array<Frame, 64> frames;

  // The frame of `thread` (a default id finds a free one), or null; mutex held.
  Frame* Find(std::thread::id thread) {
    for (Frame& frame : frames) {
      if (frame.thread == thread) return &frame;
    }
    return nullptr;
  }
};

Frames& TheFrames() {
  static Frames frames;
  return frames;
}

}  // namespace

EntryScope::EntryScope() {
  Frames& frames = TheFrames();
  std::lock_guard<std::mutex> lock(frames.mutex);
  if (Frame* frame = frames.Find(std::this_thread::get_id())) {
    ++frame->depth;
  } else if (Frame* free = frames.Find(std::thread::id())) {
    free->thread = std::this_thread::get_id();
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

}  // namespace plugin_runtime
