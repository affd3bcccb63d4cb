// Replacement global operator new and delete for the plug-in library alone: every C++ allocation
// the plug-in makes goes through the counting functions, so the host's memory statistics cover
// it. They are hidden, so the host and any other library keep their own allocator.
//
// On ELF systems two measures keep them hidden. The forms that the compiler declares in every
// translation unit (plain and aligned new, plain, sized and aligned delete) already have default
// visibility, so GCC ignores the attribute on them and the assembler directive below hides them
// instead. The other forms are declared in <new>, also with default visibility, so this file
// declares them itself first instead of including that header.

#include <cstddef>

#include "platform/internal/counting_new_support.h"

namespace std {
struct nothrow_t;
enum class align_val_t : size_t;
}  // namespace std

#if defined(__ELF__)
#define ULIX_HIDDEN __attribute__((visibility("hidden")))

// Itanium mangling spells std::size_t "m" where it is unsigned long and "j" where unsigned int.
#if __SIZEOF_SIZE_T__ == 8
#define ULIX_SIZE "m"
#else
#define ULIX_SIZE "j"
#endif
asm(".hidden _Znw" ULIX_SIZE
    "\n"
    ".hidden _Zna" ULIX_SIZE
    "\n"
    ".hidden _Znw" ULIX_SIZE
    "St11align_val_t\n"
    ".hidden _Zna" ULIX_SIZE
    "St11align_val_t\n"
    ".hidden _ZdlPv\n"
    ".hidden _ZdaPv\n"
    ".hidden _ZdlPv" ULIX_SIZE
    "\n"
    ".hidden _ZdaPv" ULIX_SIZE
    "\n"
    ".hidden _ZdlPvSt11align_val_t\n"
    ".hidden _ZdaPvSt11align_val_t\n"
    ".hidden _ZdlPv" ULIX_SIZE
    "St11align_val_t\n"
    ".hidden _ZdaPv" ULIX_SIZE "St11align_val_t\n");

// The attribute still documents the intent on the forms where GCC ignores it. Clang refuses an
// attribute that differs from its own declaration of those forms, so there the directive alone
// hides them.
#pragma GCC diagnostic ignored "-Wattributes"
#if defined(__clang__)
#define ULIX_HIDDEN_IMPLICIT
#else
#define ULIX_HIDDEN_IMPLICIT ULIX_HIDDEN
#endif
#else
// A Windows DLL exports only what it marks for export, so the operators stay inside as they are.
#define ULIX_HIDDEN
#define ULIX_HIDDEN_IMPLICIT
#endif

namespace {

using platform::internal::AllocateForNew;

std::size_t Alignment(std::align_val_t alignment) { return static_cast<std::size_t>(alignment); }

}  // namespace

ULIX_HIDDEN_IMPLICIT void* operator new(std::size_t bytes) { return AllocateForNew(bytes, 0); }
ULIX_HIDDEN_IMPLICIT void* operator new[](std::size_t bytes) { return AllocateForNew(bytes, 0); }
ULIX_HIDDEN void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  return AllocateForNew(bytes, 0, /*or_null=*/true);
}
ULIX_HIDDEN void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return AllocateForNew(bytes, 0, /*or_null=*/true);
}
ULIX_HIDDEN_IMPLICIT void* operator new(std::size_t bytes, std::align_val_t alignment) {
  return AllocateForNew(bytes, Alignment(alignment));
}
ULIX_HIDDEN_IMPLICIT void* operator new[](std::size_t bytes, std::align_val_t alignment) {
  return AllocateForNew(bytes, Alignment(alignment));
}
ULIX_HIDDEN void* operator new(std::size_t bytes, std::align_val_t alignment,
                               const std::nothrow_t&) noexcept {
  return AllocateForNew(bytes, Alignment(alignment), /*or_null=*/true);
}
ULIX_HIDDEN void* operator new[](std::size_t bytes, std::align_val_t alignment,
                                 const std::nothrow_t&) noexcept {
  return AllocateForNew(bytes, Alignment(alignment), /*or_null=*/true);
}

ULIX_HIDDEN_IMPLICIT void operator delete(void* block) noexcept {
  platform::internal::FreeForDelete(block);
}
ULIX_HIDDEN_IMPLICIT void operator delete[](void* block) noexcept {
  platform::internal::FreeForDelete(block);
}
ULIX_HIDDEN void operator delete(void* block, const std::nothrow_t&) noexcept {
  platform::internal::FreeForDelete(block);
}
ULIX_HIDDEN void operator delete[](void* block, const std::nothrow_t&) noexcept {
  platform::internal::FreeForDelete(block);
}
ULIX_HIDDEN_IMPLICIT void operator delete(void* block, std::size_t) noexcept {
  platform::internal::FreeForDelete(block);
}
ULIX_HIDDEN_IMPLICIT void operator delete[](void* block, std::size_t) noexcept {
  platform::internal::FreeForDelete(block);
}
ULIX_HIDDEN_IMPLICIT void operator delete(void* block, std::align_val_t alignment) noexcept {
  platform::internal::FreeForAlignedDelete(block, Alignment(alignment));
}
ULIX_HIDDEN_IMPLICIT void operator delete[](void* block, std::align_val_t alignment) noexcept {
  platform::internal::FreeForAlignedDelete(block, Alignment(alignment));
}
ULIX_HIDDEN_IMPLICIT void operator delete(void* block, std::size_t,
                                          std::align_val_t alignment) noexcept {
  platform::internal::FreeForAlignedDelete(block, Alignment(alignment));
}
ULIX_HIDDEN_IMPLICIT void operator delete[](void* block, std::size_t,
                                            std::align_val_t alignment) noexcept {
  platform::internal::FreeForAlignedDelete(block, Alignment(alignment));
}
ULIX_HIDDEN void operator delete(void* block, std::align_val_t alignment,
                                 const std::nothrow_t&) noexcept {
  platform::internal::FreeForAlignedDelete(block, Alignment(alignment));
}
ULIX_HIDDEN void operator delete[](void* block, std::align_val_t alignment,
                                   const std::nothrow_t&) noexcept {
  platform::internal::FreeForAlignedDelete(block, Alignment(alignment));
}
