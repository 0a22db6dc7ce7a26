// The Windows C runtime has no memmem: each place where the first byte occurs is compared.
#include <cstring>

#include "FindBytes.h"

namespace tavrin {

const char* FindBytes(const char* haystack, std::size_t haystackLength, const char* needle,
                      std::size_t needleLength) {
  if (needleLength == 0) return haystack;
  if (haystackLength < needleLength) return nullptr;
  const char* last = haystack + (haystackLength - needleLength);
  for (const char* at = haystack; at <= last; ++at) {
    at = static_cast<const char*>(
        std::memchr(at, needle[0], static_cast<std::size_t>(last - at) + 1));
    if (at == nullptr) return nullptr;
    if (std::memcmp(at, needle, needleLength) == 0) return at;
  }
  return nullptr;
}

}  // namespace tavrin
