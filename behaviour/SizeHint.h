// How large a file is now, as a hint for painting only: 0 when it cannot be told.
#pragma once

#include <cstdint>
#include <string>

namespace tavrin::platform {

std::uint64_t SizeHint(const std::string& path);

}  // namespace tavrin::platform
