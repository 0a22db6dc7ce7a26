// tavrin on Windows: program start.
#include "CodePage.h"
#include "Main.h"
#include "Win32DesktopServices.h"
#include "platform/windows/WideText.h"

namespace {

// Per-monitor scaling where the system has it (Windows 10 1703 on); the manifest asks the same.
void BecomePerMonitorAware() {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  const auto set = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"user32"), "SetProcessDpiAwarenessContext")));
  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  if (set != nullptr) set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  BecomePerMonitorAware();
  INITCOMMONCONTROLSEX controls{
      sizeof controls, ICC_BAR_CLASSES | ICC_COOL_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
  ::InitCommonControlsEx(&controls);
  // The folder picker needs COM on this thread.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  tavrin::InitCodePageFromLocale();

  tavrin::Win32DesktopServices services;
  tavrin::TFMain window(services);
  window.quitWhenClosed = true;
  // Files named on the command line (Explorer's "Send to", a shortcut) are listed as if dropped.
  int count = 0;
  if (LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) window.AddResultList(tavrin::Utf8FromWide(arguments[i]));
    ::LocalFree(arguments);
  }
  ::ShowWindow(window.Hwnd(),
               show == SW_SHOWMAXIMIZED || show == SW_SHOWMINNOACTIVE ? show : SW_SHOWNORMAL);
  ::UpdateWindow(window.Hwnd());

  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window.PreTranslateMessage(message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return static_cast<int>(message.wParam);
}
