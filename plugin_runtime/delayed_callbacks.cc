#include "plugin_runtime/delayed_callbacks.h"

#include <map>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <utility>
#include <vector>

#include "logging/logger.h"

namespace plugin_runtime {

struct DelayedCallbacks::Table {
  struct Entry {
    std::uintptr_t ticket = 0;
    Function function;
  };

  explicit Table(const std::atomic<bool>& stop_flag) : stopping(stop_flag) {}

  void Run(std::uint64_t id);

  // Held shared while a function runs and exclusively to close, so that closing waits for it.
  std::shared_mutex run_mutex;
  bool closed = false;                // guarded by run_mutex
  const std::atomic<bool>& stopping;  // valid while not closed

  // Guards the id counter and the entries.
  mutable std::mutex mutex;
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
  std::shared_lock<std::shared_mutex> running(run_mutex);
  if (closed) return;
  const Function* function = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = entries.find(id);
    if (found == entries.end()) return;
    function = &found->second.function;
  }
  struct RemoveEntry {
    Table& table;
    std::uint64_t id;
    ~RemoveEntry() {
      std::lock_guard<std::mutex> lock(table.mutex);
      table.entries.erase(id);
    }
  } remove{*this, id};
  // Only this callback removes its own entry, and closing waits for it, so the function stays
  // valid while it runs.
  if (!stopping.load(std::memory_order_acquire) && *function) (*function)();
}

DelayedCallbacks::DelayedCallbacks(const std::atomic<bool>& stopping)
    : table_(std::make_shared<Table>(stopping)) {}

DelayedCallbacks::~DelayedCallbacks() { Close(); }

DelayedCallbacks::Added DelayedCallbacks::Add(Function function) {
  std::lock_guard<std::mutex> lock(table_->mutex);
  const std::uint64_t id = table_->next_id++;
  const std::uintptr_t ticket = IssueTicket(table_, id);
  table_->entries.emplace(id, Table::Entry{ticket, std::move(function)});
  return {id, reinterpret_cast<void*>(ticket)};
}

void DelayedCallbacks::RunEntry(void* context) {
  // Called by the host on its own threads: nothing may unwind into it.
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
    std::unique_lock<std::shared_mutex> running(table_->run_mutex);
    table_->closed = true;
    std::lock_guard<std::mutex> lock(table_->mutex);
    for (const auto& [id, entry] : table_->entries) dropped.push_back(entry.ticket);
    table_->entries.clear();
  }
  DropTickets(dropped);
}

}  // namespace plugin_runtime
