// A drop handle as the shell builds one for WM_DROPFILES, for programs that drive the Windows
// window as a user's drop from Explorer would.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "WinApi.h"
#include "platform/windows/WideText.h"

namespace tavrin::testing {

// DROPFILES, then the wide names each ended by a NUL and the list by one more. The window that
// receives it releases it.
inline HDROP BuildDrop(const std::vector<std::wstring>& paths) {
  std::wstring list;
  for (const std::wstring& path : paths) list += path + L'\0';
  list.push_back(L'\0');
  const std::size_t bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
  HGLOBAL memory = ::GlobalAlloc(GHND, bytes);
  auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::memcpy(drop + 1, list.data(), list.size() * sizeof(wchar_t));
  ::GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

// The same with the names given as UTF-8.
inline HDROP BuildDrop(const std::vector<std::string>& paths) {
  std::vector<std::wstring> wide(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) WideFromUtf8(paths[i], wide[i]);
  return BuildDrop(wide);
}

}  // namespace tavrin::testing
