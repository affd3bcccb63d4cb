// How a shared library marks the one function it exports: every other symbol stays inside.
#ifndef PLATFORM_LIBRARY_EXPORT_H_
#define PLATFORM_LIBRARY_EXPORT_H_

// On Windows a DLL exports what is marked for export and nothing else; on ELF systems the build
// hides every symbol by default and the mark makes this one visible. The default calling
// convention is kept on both Windows widths (the caller removes the arguments), so the 32-bit
// export keeps its plain name.
#if defined(_WIN32)
#define ULIX_LIBRARY_EXPORT __declspec(dllexport)
#else
#define ULIX_LIBRARY_EXPORT __attribute__((visibility("default")))
#endif

#endif  // PLATFORM_LIBRARY_EXPORT_H_
