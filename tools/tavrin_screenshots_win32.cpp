// Pictures of the Windows window for the README: the list after a run, its edit menu open, the
// preview page and the About box, as 24-bit BMP files (scripts/screenshots-windows.sh turns them
// into PNG).
//   tavrin-screenshots-windows.exe EXAMPLES_DIR OUTPUT_DIR
// The example pages are copied to where the installer puts them and dropped on the window as
// from Explorer; the window is driven with the messages a user's actions send.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AboutBox.h"
#include "CodePage.h"
#include "DropHandle.h"
#include "FakeDesktop.h"
#include "Main.h"
#include "platform/windows/WideText.h"

namespace {

namespace fs = std::filesystem;
using tavrin::TFMain;

void Pump() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

// Lets the window finish what it was asked (layout, painting) before it is taken.
void Settle(DWORD ms = 300) {
  const ULONGLONG end = ::GetTickCount64() + ms;
  for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    Pump();
  }
}

std::string Utf8(const fs::path& path) {
  return tavrin::Utf8FromWide(path.wstring());
}

// The window as drawn, frame and caption included, from its own device context; or, with an
// area, that part of the screen (where a menu shows over the window).
bool SaveBmp(HWND window, const fs::path& path, const RECT* area = nullptr) {
  if (area == nullptr) {
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Settle();
  }
  RECT frame;
  ::GetWindowRect(window, &frame);
  if (area != nullptr) frame = *area;
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as the file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC source = area != nullptr ? ::GetDC(nullptr) : ::GetWindowDC(window);
  const int fromX = area != nullptr ? frame.left : 0, fromY = area != nullptr ? frame.top : 0;
  HDC memory = ::CreateCompatibleDC(source);
  HBITMAP bitmap = ::CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  bool ok =
      bitmap != nullptr && ::BitBlt(memory, 0, 0, width, height, source, fromX, fromY, SRCCOPY);
  ::GdiFlush();

  const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
  const std::uint32_t imageBytes = stride * static_cast<std::uint32_t>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + imageBytes;
  info.bmiHeader.biSizeImage = imageBytes;
  if (ok) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), imageBytes);
    ok = static_cast<bool>(out);
  }
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(area != nullptr ? nullptr : window, source);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", Utf8(path).c_str());
  return ok;
}

void Command(const TFMain& window, int id) {
  ::SendMessageW(window.Hwnd(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void DoubleClickList(const TFMain& window, int row) {
  NMITEMACTIVATE click{};
  click.hdr.hwndFrom = window.lvwResult;
  click.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(window.lvwResult));
  click.hdr.code = NM_DBLCLK;
  click.iItem = row;
  ::SendMessageW(window.Hwnd(), WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
}

// What the message loop gets when Alt and a letter are pressed over a control.
MSG AltKey(HWND control, WPARAM key) {
  MSG message{};
  message.hwnd = control;
  message.message = WM_SYSKEYDOWN;
  message.wParam = key;
  message.lParam = static_cast<LPARAM>(KF_ALTDOWN) << 16;
  return message;
}

// Where the installer puts the examples: %LOCALAPPDATA%\Programs\tavrin\examples.
fs::path InstalledExamples() {
  wchar_t local[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
  const fs::path base =
      length > 0 && length < MAX_PATH ? fs::path(local) : fs::temp_directory_path();
  return base / L"Programs" / L"tavrin" / L"examples";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: tavrin-screenshots-windows EXAMPLES_DIR OUTPUT_DIR\n");
    return 2;
  }
  INITCOMMONCONTROLSEX controls{
      sizeof controls, ICC_BAR_CLASSES | ICC_COOL_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
  ::InitCommonControlsEx(&controls);
  tavrin::InitCodePageFromLocale();

  const fs::path examples = fs::absolute(argv[1]);
  const fs::path out = fs::absolute(argv[2]);
  fs::create_directories(out);
  // Work on copies, so the examples folder gets no outputs.
  const fs::path work = InstalledExamples() / examples.filename();
  fs::create_directories(work);
  std::vector<std::string> pages;
  for (const fs::directory_entry& entry : fs::directory_iterator(examples)) {
    if (!entry.is_regular_file()) continue;
    fs::copy_file(entry.path(), work / entry.path().filename(),
                  fs::copy_options::overwrite_existing);
    if (entry.path().extension() == L".html") {
      pages.push_back(Utf8(work / entry.path().filename()));
    }
  }
  std::sort(pages.begin(), pages.end());
  fs::current_path(work);

  tavrin::testing::FakeDesktop fake;
  TFMain window(fake);
  ::ShowWindow(window.Hwnd(), SW_SHOW);
  ::SetForegroundWindow(window.Hwnd());
  Settle();

  ::SendMessageW(window.Hwnd(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(tavrin::testing::BuildDrop(pages)), 0);
  Command(window, tavrin::kIdFileRun);
  // The Japanese page chosen, for the preview.
  const int kJapanesePage = 1;
  ListView_SetItemState(window.lvwResult, kJapanesePage, LVIS_SELECTED | LVIS_FOCUSED,
                        LVIS_SELECTED | LVIS_FOCUSED);
  ::SetFocus(window.lvwResult);
  bool ok = SaveBmp(window.Hwnd(), out / L"windows-list.bmp");

  // The edit menu open under its caption, with its items' pictures: the screen there is taken
  // while the menu shows, then the menu is closed.
  static fs::path menuShot;
  static bool menuOk = false;
  menuShot = out / L"windows-menu.bmp";
  window.whileMenuShows = [&window](HMENU menu) {
    RECT button{};
    ::SendMessageW(window.ttbMenu, TB_GETRECT, static_cast<WPARAM>(tavrin::kIdMenuFile + 1),
                   reinterpret_cast<LPARAM>(&button));
    ::MapWindowPoints(window.ttbMenu, nullptr, reinterpret_cast<POINT*>(&button), 2);
    ::SetTimer(nullptr, 0, 500, [](HWND, UINT, UINT_PTR timer, DWORD) {
      ::KillTimer(nullptr, timer);
      HWND popup = ::FindWindowW(L"#32768", nullptr);
      HWND main = ::GetActiveWindow();
      RECT area{}, shown{};
      ::GetWindowRect(main, &area);
      if (popup != nullptr && ::GetWindowRect(popup, &shown)) ::UnionRect(&area, &area, &shown);
      menuOk = popup != nullptr && SaveBmp(main, menuShot, &area);
      ::EndMenu();
    });
    ::TrackPopupMenuEx(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD, button.left,
                       button.bottom, window.Hwnd(), nullptr);
    return 0;
  };
  window.PreTranslateMessage(AltKey(window.lvwResult, 'E'));
  window.whileMenuShows = nullptr;
  ok &= menuOk;

  DoubleClickList(window, kJapanesePage);
  ok &= SaveBmp(window.Hwnd(), out / L"windows-view.bmp");

  window.whileAboutBoxShows = [&](HWND box) {
    ok &= SaveBmp(box, out / L"windows-about.bmp");
    ::PostMessageW(box, WM_CLOSE, 0, 0);
  };
  Command(window, tavrin::kIdHelpVersion);

  // Anything the window asked of the desktop (a box) means the pictures show a failure.
  for (const auto& box : fake.messageBoxes) {
    std::fprintf(stderr, "unexpected box: %s\n", box.text.c_str());
    ok = false;
  }
  return ok ? 0 : 1;
}
