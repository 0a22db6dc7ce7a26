// The user's code set on POSIX systems: the locale's LC_CTYPE names it.
#include <langinfo.h>

#include <clocale>

#include "CodePage.h"

namespace tavrin {

namespace {

std::string g_codeSetName = "ANSI_X3.4-1968";

}  // namespace

std::string CurrentCodeSetName() {
  return g_codeSetName;
}

void InitCodePageFromLocale() {
  if (std::setlocale(LC_CTYPE, "") == nullptr) std::setlocale(LC_CTYPE, "C");
  const char* name = nl_langinfo(CODESET);
  g_codeSetName = (name != nullptr && *name != '\0') ? name : "ANSI_X3.4-1968";
  SetCurrentLeadByteSet(LeadByteSetForCodeSet(g_codeSetName));
}

}  // namespace tavrin
