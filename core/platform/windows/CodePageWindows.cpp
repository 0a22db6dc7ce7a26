// The user's code page on Windows: the system's ANSI code page and the lead-byte ranges it
// declares.
#include <windows.h>

#include "CodePage.h"

namespace tavrin {

// The ANSI code page is a system setting that holds for the life of the process, so its name
// can be asked at any time.
std::string CurrentCodeSetName() {
  return "CP" + std::to_string(::GetACP());
}

void InitCodePageFromLocale() {
  LeadByteSet set;
  CPINFO info;
  if (::GetCPInfo(CP_ACP, &info)) {
    // Pairs of inclusive bounds, ended by a pair of zeros.
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
      set.AddRange(info.LeadByte[i], info.LeadByte[i + 1]);
    }
  }
  SetCurrentLeadByteSet(set);
}

}  // namespace tavrin
