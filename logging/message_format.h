// The printf-style formatting of log messages. Most messages use only %s, %d and their kin; those
// are written here directly, which costs a fraction of a full vsnprintf. A format with anything
// else (flags, widths, precisions, floating point, pointers) goes to vsnprintf whole.
#ifndef LOGGING_MESSAGE_FORMAT_H_
#define LOGGING_MESSAGE_FORMAT_H_

#include <cstdarg>
#include <cstddef>

namespace logging {

// Writes `format` with `arguments` into `buffer` as vsnprintf does: at most `size` - 1 characters
// and a terminating NUL (nothing when `size` is 0). Returns the length written, never more than
// `size` - 1, where vsnprintf would return the length it wanted.
//
// Written directly: plain text, "%%", and the conversions c, s, d, i, u, x and X with the length
// modifiers hh, h, l, ll, z, j and t. A null %s argument is written as "(null)", as the C library
// does. Anything else sends the whole format to vsnprintf.
std::size_t FormatMessage(char* buffer, std::size_t size, const char* format,
                          std::va_list arguments);

}  // namespace logging

#endif  // LOGGING_MESSAGE_FORMAT_H_
