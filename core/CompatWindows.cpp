#include "CompatWindows.h"

#include <cstring>

extern "C" void* memmem(const void* haystack, size_t haystackLength, const void* needle,
                        size_t needleLength) {
  auto* text = static_cast<const unsigned char*>(haystack);
  auto* pattern = static_cast<const unsigned char*>(needle);
  if (needleLength == 0) return const_cast<unsigned char*>(text);
  if (haystackLength < needleLength) return nullptr;
  const unsigned char* last = text + (haystackLength - needleLength);
  for (const unsigned char* at = text; at <= last; ++at) {
    at = static_cast<const unsigned char*>(
        std::memchr(at, pattern[0], static_cast<size_t>(last - at) + 1));
    if (at == nullptr) return nullptr;
    if (std::memcmp(at, pattern, needleLength) == 0) return const_cast<unsigned char*>(at);
  }
  return nullptr;
}
