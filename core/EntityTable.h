// The replacement table kept in "CEntity.txt": lines of pattern=replacement with five escapes.
#pragma once

#include <string>

#include "CodePage.h"
#include "VBLikeFunctions.h"

namespace tavrin {

inline constexpr const char* kEntityTableFileName = "CEntity.txt";

// Turns the bytes of a table file into rows of fields: LF bytes deleted, lines cut at CR,
// fields cut at "=", then the escapes decoded in their fixed order.
ArrayOfArrayOfString ParseEntityTable(std::string text,
                                      const LeadByteSet& leadBytes = CurrentLeadByteSet());

// Reads the named file whole and parses it; raises the file's open or read error.
ArrayOfArrayOfString LoadEntityTable(const std::string& fileName = kEntityTableFileName,
                                     const LeadByteSet& leadBytes = CurrentLeadByteSet());

}  // namespace tavrin
