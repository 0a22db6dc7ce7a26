// The main window drawn with Win32 and the common controls: its controls, named as the rest of
// the program knows them. What the window does is the behaviour's; this face draws and forwards.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "WinApi.h"
#include "WindowBehaviour.h"
#include "WindowFonts.h"
#include "WindowView.h"

namespace tavrin {

class CoolBar;
class MenuRow;
class Pages;

// Command ids of the menu items; the toolbar's buttons send their item's id.
enum MenuId : int {
  kIdFileRun = 101,
  kIdFileFindFile,
  kIdFileClose,
  kIdEditListClear,
  kIdEditListAllClear,
  kIdEditListIsRecycled,
  kIdEditCEntity,
  kIdHelpVersion,
};
// The caption buttons of ttbMenu, one for each menu.
enum MenuButtonId : int { kIdMenuFile = 201, kIdMenuEdit, kIdMenuHelp };

// The name of the toolbar's button at a position, left to right ("ToolButton1"...).
const char* ToolButtonName(int index);
// Whether the control is the container or lies inside it.
bool IsInside(HWND control, HWND container);

class TFMain : private WindowView {
 public:
  // Creates the window, hidden, and runs its creation handler.
  explicit TFMain(DesktopServices& services);
  ~TFMain() override;
  TFMain(const TFMain&) = delete;
  TFMain& operator=(const TFMain&) = delete;

  HWND Hwnd() const { return hwnd_; }
  // Set by the program: closing the window ends the message loop.
  bool quitWhenClosed = false;
  // Registers the window classes; once per process, before the first window.
  static bool RegisterClasses(HINSTANCE instance);

  // Lists a file as if it had been dropped.
  void AddResultList(const std::string& path);
  // Keys the window handles before the focused control sees them (Ctrl+Tab between the pages);
  // true when the message was taken.
  bool PreTranslateMessage(const MSG& message);

  // A long preview goes into its memo this many characters at a time, one slice per message,
  // so that the window answers between them: the edit control lays out one long line slowly.
  static constexpr std::size_t kPreviewSlice = 4096;

  // The control of a given name ("lvwResult", "ttbMain"...), or null.
  HWND Control(std::string_view name) const;
  // The name of one of the window's controls, or "".
  std::string NameOf(HWND control) const;
  // Runs while the About box shows, inside its modal loop, given the box: tests read it and close
  // it there.
  std::function<void(HWND)> whileAboutBoxShows;
  // Runs instead of showing a menu's popup, given the popup; tests answer it with an item's id.
  std::function<int(HMENU)> whileMenuShows;
  const std::vector<FileListItem>& Rows() const { return behaviour_.Rows(); }
  const ArrayOfArrayOfString& EntityTable() const { return behaviour_.EntityTable(); }

  // The window's controls and menus, named as the rest of the program knows them.
  HWND tcbMain = nullptr;
  HWND ttbMain = nullptr;
  HWND ttbMenu = nullptr;
  HWND tpcMain = nullptr;
  HWND ttsMain = nullptr;
  HWND ttsView = nullptr;
  HWND lvwResult = nullptr;
  HWND pnlView = nullptr;
  HWND tmeViewPath = nullptr;
  HWND tmeView = nullptr;
  HWND tsbMain = nullptr;
  HIMAGELIST tilMain = nullptr;
  HMENU tmiFile = nullptr;
  HMENU tmiEdit = nullptr;
  HMENU tmiHelp = nullptr;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR data);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnNotify(const NMHDR& header);
  void OnCommand(int id);
  void OnDropFiles(HDROP drop);
  void OnFocusChanged(HWND now);
  void OnPageChanged(bool focusWasInOldPage);
  void OpenMenu(int button, bool fromKeyboard);

  void Forward(void (WindowBehaviour::*handler)());
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  void BuildStatusBar();
  void FitStatusBar();
  void Name(HWND control, const char* name);
  void Layout();
  int Scaled(int pixels) const { return ScaledTo(pixels, dpi_); }

  // What the behaviour asks of the face.
  WindowHandle Handle() override { return hwnd_; }
  void RowsAppended(std::span<const FileListItem> rows) override;
  void RowChanged(int row, const FileListItem& item) override;
  void RowsRemoved(const std::vector<int>& rows) override;
  void RowsCleared() override;
  std::vector<int> SelectedRows() const override;
  void SetRowSelected(int row, bool selected) override;
  void ScrollToRow(int row) override;
  void PaintNow(int row) override;
  void SetStatusText(std::string_view text) override;
  void SetPreview(std::string_view shownPath, std::string_view shownText) override;
  void ShowPage(Page page) override;
  void ShowAboutBox() override;
  void CloseWindow() override;

  HWND hwnd_ = nullptr;
  WindowBehaviour behaviour_;
  UINT dpi_ = 96;
  WindowFonts fonts_;
  std::unique_ptr<CoolBar> coolBar_;
  std::unique_ptr<MenuRow> menuRow_;
  std::unique_ptr<Pages> pages_;
  HICON smallIcon_ = nullptr, bigIcon_ = nullptr;
  std::vector<std::pair<std::string, HWND>> names_;
  // The control of this window that last had the focus, kept while the focus is elsewhere.
  HWND lastFocus_ = nullptr;
  bool focusInOldPage_ = false;
  // A run changes each row's task text, image and selection twice: the changes wait here
  // until the list paints or is looked at, and then only the last of each goes in.
  struct RowShown {
    std::string taskText;
    int imageIndex;
  };
  mutable std::map<int, RowShown> rowChanges_;
  mutable std::map<int, bool> selectionChanges_;
  // Changes left when the command ends go in from the message loop, should nothing look first.
  static constexpr UINT kRowChangesMessage = WM_APP + 1;
  mutable bool changesPosted_ = false;
  void PostRowChanges();
  void ApplyRowChanges() const;
  // The preview text and how much of it the memo holds; the rest goes in from the message loop.
  static constexpr UINT kPreviewSliceMessage = WM_APP + 2;
  std::wstring previewText_;
  std::size_t previewShown_ = 0;
  bool previewPosted_ = false;
  void FeedPreview();
  void FeedPreviewLater();
};

}  // namespace tavrin
