// C library functions that the core uses and the Windows C runtime lacks. Included into every
// core source of the Windows build by core/CMakeLists.txt, so shared sources need no guards.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// The first occurrence of needle in haystack, as in the GNU C library; null when none.
void* memmem(const void* haystack, size_t haystackLength, const void* needle, size_t needleLength);

#ifdef __cplusplus
}
#endif
