// The first occurrence of some bytes in others, as fast as the platform's C library allows.
#pragma once

#include <cstddef>

namespace tavrin {

// The first occurrence of needle in haystack; null when there is none. An empty needle is found
// at the start.
const char* FindBytes(const char* haystack, std::size_t haystackLength, const char* needle,
                      std::size_t needleLength);

}  // namespace tavrin
