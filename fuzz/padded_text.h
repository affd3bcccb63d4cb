// A NUL-terminated copy of fuzzer input in a buffer whose size is a multiple of 16 bytes.
#ifndef FUZZ_PADDED_TEXT_H_
#define FUZZ_PADDED_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fuzz {

// The JSON reader's SSE2 scanners load whole aligned 16-byte blocks, which may reach past the NUL.
// Real buffers tolerate that (a block never crosses a page), but AddressSanitizer would report the
// bytes past the allocation, so fuzz input gets the padding a page would give.
class PaddedText {
 public:
  PaddedText(const std::uint8_t* data, std::size_t size) {
    const std::size_t capacity = (size + 1 + 15) / 16 * 16;
    text_ = static_cast<char*>(std::aligned_alloc(16, capacity));
    std::memcpy(text_, data, size);
    std::memset(text_ + size, 0, capacity - size);
  }
  PaddedText(const PaddedText&) = delete;
  PaddedText& operator=(const PaddedText&) = delete;
  ~PaddedText() { std::free(text_); }

  const char* c_str() const { return text_; }

 private:
  char* text_;
};

}  // namespace fuzz

#endif  // FUZZ_PADDED_TEXT_H_
