// Names of the 64 group bits: eight predefined, the rest registered at run time.
#ifndef LOGGING_LOG_GROUPS_H_
#define LOGGING_LOG_GROUPS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace logging {

inline constexpr int kMaxLogGroups = 64;

// The bit of the group whose name matches the first three characters of `name`. An unknown name
// is registered at the next free bit (bit 8 upward) and keeps it for the life of the process.
// Once all 64 bits are named, an unknown name gets no bit: the result is 0, which a log call
// treats as "no groups", so such calls are still logged rather than lost. An empty name also
// gives 0. Any thread may call it (two threads registering the same new name at the same moment
// may each get a bit).
std::uint64_t GroupMask(std::string_view name);

// The names of the set bits in ascending bit order joined with ";"; "???" for a bit without a
// name, "" for 0. Example: 0x41 gives "DBG;NET".
std::string GroupNames(std::uint64_t mask);

}  // namespace logging

#endif  // LOGGING_LOG_GROUPS_H_
