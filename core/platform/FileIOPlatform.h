// What the whole-file routines need from each platform, and the steps they share.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "FileIOTools.h"

namespace tavrin::platform {

// Writes contents to a new file beside fileName and puts it in that name's place once it is
// complete; refuses a name that leads to mustNotBe (when given), a link, or anything but a
// writable regular file.
void WriteReplacing(const std::string& fileName, std::string_view contents,
                    const FileIdentity* mustNotBe);

// Fills text, sized to the file's reported size, from readUpTo (which returns less than asked
// only at the end of the file), then reads on to the real end: the reported size is a first
// guess, since procfs files report 0 and a file may grow or shrink while it is read. One small
// read after the measured part nearly always confirms the end without growing the text.
void ReadToEnd(std::string& text, const std::function<std::size_t(char*, std::size_t)>& readUpTo,
               const std::string& fileName);

}  // namespace tavrin::platform
