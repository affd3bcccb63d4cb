#include "plugin_runtime/delayed_callbacks.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "logging/logger.h"
#include "plugin_runtime/entry_scope.h"

namespace plugin_runtime {

struct DelayedCallbacks::Table {
  struct Entry {
    std::uintptr_t ticket = 0;
    // Shared with the frame running it, which closing does not wait for when it is its own.
    std::shared_ptr<Function> function;
  };

  explicit Table(const std::atomic<bool>& stop_flag) : stopping(stop_flag) {}

  void Run(std::uint64_t id);

  // Guards everything below.
  mutable std::mutex mutex;
  // Signalled when a function ends, for Close.
  std::condition_variable finished;
  // Functions running, per thread: closing waits for those of other threads only, since a
  // callback may stop the plug-in itself.
  std::map<std::thread::id, int> running;
  bool closed = false;
  const std::atomic<bool>& stopping;  // valid while not closed
  std::uint64_t next_id = 1;
  std::map<std::uint64_t, Entry> entries;
};

namespace {

struct DelayedTicket {
  std::weak_ptr<DelayedCallbacks::Table> table;
  std::uint64_t id;
};

// Never destroyed: a host may fire a callback while the process exits. Built in static storage
// rather than on the heap, and empty once every plug-in has stopped, so that unloading the
// library leaves nothing behind.
struct TicketTable {
  std::mutex mutex;
  std::uintptr_t next = 1;
  std::map<std::uintptr_t, DelayedTicket> tickets;
};

TicketTable& Tickets() {
  alignas(TicketTable) static unsigned char storage[sizeof(TicketTable)];
  static TicketTable* const kTable = new (storage) TicketTable();
  return *kTable;
}

std::uintptr_t IssueTicket(const std::shared_ptr<DelayedCallbacks::Table>& table,
                           std::uint64_t id) {
  TicketTable& tickets = Tickets();
  std::lock_guard<std::mutex> lock(tickets.mutex);
  // A counter the width of a pointer wraps only after as many callbacks as there are addresses;
  // 0 is skipped so that a null context is never a ticket.
  std::uintptr_t ticket = tickets.next++;
  if (ticket == 0) ticket = tickets.next++;
  tickets.tickets[ticket] = DelayedTicket{table, id};
  return ticket;
}

// The owner and id of `ticket`, which is used up; a null owner when it is unknown or expired.
std::pair<std::shared_ptr<DelayedCallbacks::Table>, std::uint64_t> RedeemTicket(
    std::uintptr_t ticket) {
  TicketTable& tickets = Tickets();
  std::lock_guard<std::mutex> lock(tickets.mutex);
  auto found = tickets.tickets.find(ticket);
  if (found == tickets.tickets.end()) return {nullptr, 0};
  std::pair<std::shared_ptr<DelayedCallbacks::Table>, std::uint64_t> owner{
      found->second.table.lock(), found->second.id};
  tickets.tickets.erase(found);
  return owner;
}

void DropTickets(const std::vector<std::uintptr_t>& dropped) {
  if (dropped.empty()) return;
  TicketTable& tickets = Tickets();
  std::lock_guard<std::mutex> lock(tickets.mutex);
  for (std::uintptr_t ticket : dropped) tickets.tickets.erase(ticket);
}

}  // namespace

void DelayedCallbacks::Table::Run(std::uint64_t id) {
  const std::thread::id self = std::this_thread::get_id();
  std::shared_ptr<Function> function;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (closed) return;
    auto found = entries.find(id);
    if (found == entries.end()) return;
    function = found->second.function;
    ++running[self];
  }
  struct Finish {
    Table& table;
    std::uint64_t id;
    std::thread::id self;
    ~Finish() {
      std::lock_guard<std::mutex> lock(table.mutex);
      table.entries.erase(id);
      if (--table.running[self] == 0) table.running.erase(self);
      table.finished.notify_all();
    }
  } finish{*this, id, self};
  if (!stopping.load(std::memory_order_acquire) && *function) (*function)();
}

DelayedCallbacks::DelayedCallbacks(const std::atomic<bool>& stopping)
    : table_(std::make_shared<Table>(stopping)) {}

DelayedCallbacks::~DelayedCallbacks() { Close(); }

DelayedCallbacks::Added DelayedCallbacks::Add(Function function) {
  std::lock_guard<std::mutex> lock(table_->mutex);
  const std::uint64_t id = table_->next_id++;
  const std::uintptr_t ticket = IssueTicket(table_, id);
  table_->entries.emplace(id,
                          Table::Entry{ticket, std::make_shared<Function>(std::move(function))});
  return {id, reinterpret_cast<void*>(ticket)};
}

void DelayedCallbacks::RunEntry(void* context) {
  // Called by the host on its own threads: nothing may unwind into it.
  const EntryScope entry;
  try {
    auto [table, id] = RedeemTicket(reinterpret_cast<std::uintptr_t>(context));
    if (table != nullptr) table->Run(id);
  } catch (...) {
    logging::Log(logging::kError, logging::kGroupDbg, "delayed callback: unexpected exception");
  }
}

std::size_t DelayedCallbacks::PendingCount() const {
  std::lock_guard<std::mutex> lock(table_->mutex);
  return table_->entries.size();
}

void DelayedCallbacks::Close() {
  std::vector<std::uintptr_t> dropped;
  {
    std::unique_lock<std::mutex> lock(table_->mutex);
    table_->closed = true;
    const std::thread::id self = std::this_thread::get_id();
    table_->finished.wait(lock, [&] {
      const auto& running = table_->running;
      return running.empty() || (running.size() == 1 && running.begin()->first == self);
    });
    for (const auto& [id, entry] : table_->entries) dropped.push_back(entry.ticket);
    table_->entries.clear();
  }
  DropTickets(dropped);
}

}  // namespace plugin_runtime
