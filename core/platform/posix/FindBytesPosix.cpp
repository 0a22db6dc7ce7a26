// The C library's own substring search, tuned for each processor.
#include <string.h>

#include "FindBytes.h"

namespace tavrin {

const char* FindBytes(const char* haystack, std::size_t haystackLength, const char* needle,
                      std::size_t needleLength) {
  return static_cast<const char*>(::memmem(haystack, haystackLength, needle, needleLength));
}

}  // namespace tavrin
