// The Windows window, created for real and driven with the messages a user's actions send; what
// it shows is read back from its controls, what it asks of the desktop from the recording fake.
#include <gtest/gtest.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "AboutBox.h"
#include "DropHandle.h"
#include "FakeDesktop.h"
#include "Main.h"
#include "ScrollingBox.h"
#include "TempDir.h"
#include "WatchedDevice.h"
#include "Win32DesktopServices.h"
#include "WindowFonts.h"
#include "platform/windows/WideText.h"

namespace tavrin {
namespace {

using testing::BuildDrop;
using testing::FakeDesktop;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::wstring Wide(const std::string& utf8) {
  std::wstring wide;
  WideFromUtf8(utf8, wide);
  return wide;
}

std::string TextOf(HWND control) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Utf8FromWide(text);
}

// What the message loop gets when Alt and a letter are pressed over a control.
MSG AltAndKey(HWND control, WPARAM key) {
  MSG message{};
  message.hwnd = control;
  message.message = WM_SYSKEYDOWN;
  message.wParam = key;
  message.lParam = static_cast<LPARAM>(KF_ALTDOWN) << 16;
  return message;
}

std::string MenuItemCaption(HMENU menu, int position) {
  wchar_t caption[256] = {};
  ::GetMenuStringW(menu, static_cast<UINT>(position), caption, 256, MF_BYPOSITION);
  return Utf8FromWide(caption);
}

// What a screen reader reads of one object through oleacc.
struct AccessibleRead {
  HWND window = nullptr;
  bool element = false;  // a part the window's object draws itself (a row, a button), no window
  LONG role = 0;
  std::string name, description, value;
};

// One text of an object, or "" where it has none.
template <typename Getter>
std::string ReadText(Getter get) {
  BSTR text = nullptr;
  std::string read;
  if (get(&text) == S_OK && text != nullptr) {
    read = Utf8FromWide(std::wstring(text, ::SysStringLen(text)));
  }
  ::SysFreeString(text);
  return read;
}

AccessibleRead ReadAccessible(IAccessible& object, HWND window, const VARIANT& child) {
  AccessibleRead read;
  read.window = window;
  read.element = child.lVal != CHILDID_SELF;
  read.name = ReadText([&](BSTR* text) { return object.get_accName(child, text); });
  read.description = ReadText([&](BSTR* text) { return object.get_accDescription(child, text); });
  read.value = ReadText([&](BSTR* text) { return object.get_accValue(child, text); });
  VARIANT role;
  ::VariantInit(&role);
  if (SUCCEEDED(object.get_accRole(child, &role)) && role.vt == VT_I4) read.role = role.lVal;
  ::VariantClear(&role);
  return read;
}

// Every object in a window's client area, walked as a screen reader walks it: from the window's
// object to its children, each child window's object, and the parts an object draws where
// oleacc gives them.
void ReadAccessibleTree(HWND window, std::vector<AccessibleRead>& reads) {
  IAccessible* object = nullptr;
  if (FAILED(::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                          __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object))) ||
      object == nullptr) {
    return;
  }
  VARIANT self;
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  reads.push_back(ReadAccessible(*object, window, self));
  LONG count = 0;
  if (SUCCEEDED(object->get_accChildCount(&count)) && count > 0) {
    std::vector<VARIANT> children(static_cast<std::size_t>(count));
    LONG got = 0;
    if (SUCCEEDED(::AccessibleChildren(object, 0, count, children.data(), &got))) {
      for (LONG i = 0; i < got; ++i) {
        VARIANT& child = children[static_cast<std::size_t>(i)];
        if (child.vt == VT_I4) {
          reads.push_back(ReadAccessible(*object, window, child));
        } else if (child.vt == VT_DISPATCH && child.pdispVal != nullptr) {
          IAccessible* inner = nullptr;
          HWND below = nullptr;
          if (SUCCEEDED(child.pdispVal->QueryInterface(__uuidof(IAccessible),
                                                       reinterpret_cast<void**>(&inner)))) {
            ::WindowFromAccessibleObject(inner, &below);
            inner->Release();
          }
          if (below != nullptr && ::IsChild(window, below)) ReadAccessibleTree(below, reads);
        }
        ::VariantClear(&child);
      }
    }
  }
  object->Release();
}

const AccessibleRead* ReadOf(const std::vector<AccessibleRead>& reads, HWND window) {
  for (const AccessibleRead& read : reads) {
    if (read.window == window && !read.element) return &read;
  }
  return nullptr;
}

class Win32WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_COOL_CLASSES |
                                                       ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
    ::InitCommonControlsEx(&controls);
  }
  void SetUp() override {
    saved_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.Path());
  }
  void TearDown() override {
    window_.reset();
    Pump();
    std::filesystem::current_path(saved_);
  }

  TFMain& Open() {
    window_ = std::make_unique<TFMain>(fake_);
    ::ShowWindow(window_->Hwnd(), SW_SHOW);
    ::SetForegroundWindow(window_->Hwnd());
    Pump();
    return *window_;
  }
  static void Pump() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }

  std::string File(const std::string& name, const std::string& contents) {
    const std::string path = dir_ / name;
    WriteBytes(path, contents);
    return path;
  }
  void Drop(const std::vector<std::string>& paths) {
    std::vector<std::wstring> wide;
    for (const std::string& path : paths) wide.push_back(Wide(path));
    DropWide(wide);
  }
  void DropWide(const std::vector<std::wstring>& paths) {
    ::SendMessageW(window_->Hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(BuildDrop(paths)), 0);
  }
  void Command(int id) { ::SendMessageW(window_->Hwnd(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
  void DoubleClickList() {
    NMITEMACTIVATE click{};
    click.hdr.hwndFrom = window_->lvwResult;
    click.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(window_->lvwResult));
    click.hdr.code = NM_DBLCLK;
    click.iItem = -1;
    ::SendMessageW(window_->Hwnd(), WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
  }
  // A click on a tab: the control asks, changes, and tells.
  void SelectTab(int index) {
    NMHDR header{window_->tpcMain, static_cast<UINT_PTR>(::GetDlgCtrlID(window_->tpcMain)),
                 static_cast<UINT>(TCN_SELCHANGING)};
    ::SendMessageW(window_->Hwnd(), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
    ::SendMessageW(window_->tpcMain, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    header.code = static_cast<UINT>(TCN_SELCHANGE);
    ::SendMessageW(window_->Hwnd(), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
  }
  void SelectRow(int row) {
    ListView_SetItemState(window_->lvwResult, row, LVIS_SELECTED, LVIS_SELECTED);
  }

  int RowCount() const { return ListView_GetItemCount(window_->lvwResult); }
  // Whole, however long: the buffer grows until the text leaves room in it.
  std::string ItemText(int row, int column) const {
    std::wstring text(256, L'\0');
    while (true) {
      LVITEMW item{};
      item.iSubItem = column;
      item.pszText = text.data();
      item.cchTextMax = static_cast<int>(text.size());
      const auto got = static_cast<std::size_t>(::SendMessageW(window_->lvwResult, LVM_GETITEMTEXTW,
                                                               static_cast<WPARAM>(row),
                                                               reinterpret_cast<LPARAM>(&item)));
      if (got + 1 < text.size()) return Utf8FromWide(text.substr(0, got));
      text.assign(text.size() * 2, L'\0');
    }
  }
  int ItemImage(int row) const {
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    ::SendMessageW(window_->lvwResult, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
  }
  std::string StatusText() const {
    wchar_t text[256] = {};
    ::SendMessageW(window_->tsbMain, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    return Utf8FromWide(text);
  }
  int CurrentPage() const { return TabCtrl_GetCurSel(window_->tpcMain); }

  TempDir dir_;
  FakeDesktop fake_;
  std::unique_ptr<TFMain> window_;

 private:
  std::filesystem::path saved_;
};

TEST_F(Win32WindowTest, StartsWithTheLayoutItsControlsAndOneErrorForTheMissingTable) {
  TFMain& window = Open();
  EXPECT_EQ(TextOf(window.Hwnd()), "tavrin");
  for (const char* name : {"tcbMain", "ttbMain", "ttbMenu", "tpcMain", "ttsMain", "ttsView",
                           "lvwResult", "pnlView", "tmeViewPath", "tmeView", "tsbMain"}) {
    ASSERT_NE(window.Control(name), nullptr) << name;
    EXPECT_TRUE(::IsWindow(window.Control(name))) << name;
    EXPECT_EQ(window.NameOf(window.Control(name)), name);
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  RECT client;
  ::GetClientRect(window.Hwnd(), &client);
  EXPECT_EQ(client.right, ::MulDiv(632, dpi, 96));
  EXPECT_EQ(client.bottom, ::MulDiv(453, dpi, 96));
  EXPECT_TRUE(::GetWindowLongPtrW(window.Hwnd(), GWL_STYLE) & WS_THICKFRAME);
  EXPECT_EQ(::SendMessageW(window.tcbMain, RB_GETBANDCOUNT, 0, 0), 2);

  // The toolbar: its buttons in order with their items' commands and images, and no tooltips.
  // Each button carries its item's caption, never shown: what a screen reader reads for it.
  const struct {
    int command, image;
    const char* caption;
  } buttons[] = {{kIdFileRun, 4, "実行(&R)"},
                 {kIdFileFindFile, 11, "ファイル検索ダイアログを表示する(&F)"},
                 {0, -1, ""},
                 {kIdEditListClear, 6, "選択した項目をクリア(&S)"},
                 {kIdEditListAllClear, 7, "リストを全てクリア(&C)"},
                 {0, -1, ""},
                 {kIdEditListIsRecycled, 9, "リストファイルをごみ箱へ(&R)"},
                 {0, -1, ""},
                 {kIdFileClose, 5, "閉じる(&C)"}};
  EXPECT_EQ(::SendMessageW(window.ttbMain, TB_GETTEXTROWS, 0, 0), 0);
  ASSERT_EQ(::SendMessageW(window.ttbMain, TB_BUTTONCOUNT, 0, 0), 9);
  for (int i = 0; i < 9; ++i) {
    TBBUTTON button{};
    ::SendMessageW(window.ttbMain, TB_GETBUTTON, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(&button));
    EXPECT_EQ(button.idCommand, buttons[i].command) << ToolButtonName(i);
    if (buttons[i].command == 0) {
      EXPECT_TRUE(button.fsStyle & BTNS_SEP) << ToolButtonName(i);
    } else {
      EXPECT_EQ(button.iBitmap, buttons[i].image) << ToolButtonName(i);
      wchar_t caption[256] = {};
      ::SendMessageW(window.ttbMain, TB_GETBUTTONTEXTW, static_cast<WPARAM>(button.idCommand),
                     reinterpret_cast<LPARAM>(caption));
      EXPECT_EQ(Utf8FromWide(caption), buttons[i].caption) << ToolButtonName(i);
    }
  }
  EXPECT_STREQ(ToolButtonName(1), "ToolButton9");
  EXPECT_EQ(::SendMessageW(window.ttbMain, TB_GETTOOLTIPS, 0, 0), 0);
  EXPECT_FALSE(::GetWindowLongPtrW(window.ttbMain, GWL_STYLE) & TBSTYLE_TOOLTIPS);

  // The menus, their captions with access keys, reached from the menu row's buttons by Alt.
  const std::vector<std::string> file = {"実行(&R)", "ファイル検索ダイアログを表示する(&F)", "",
                                         "閉じる(&C)"};
  const std::vector<std::string> edit = {"選択した項目をクリア(&S)",
                                         "リストを全てクリア(&C)",
                                         "",
                                         "リストファイルをごみ箱へ(&R)",
                                         "",
                                         "「CEntity.txt」の読み込みを確認する(&E)"};
  const std::vector<std::string> help = {"バージョン情報(&A)..."};
  const struct {
    HMENU menu;
    const std::vector<std::string>* captions;
    wchar_t key;
    int button;
  } menus[] = {{window.tmiFile, &file, L'F', kIdMenuFile},
               {window.tmiEdit, &edit, L'E', kIdMenuEdit},
               {window.tmiHelp, &help, L'H', kIdMenuHelp}};
  for (const auto& menu : menus) {
    ASSERT_EQ(::GetMenuItemCount(menu.menu), static_cast<int>(menu.captions->size()));
    for (int i = 0; i < ::GetMenuItemCount(menu.menu); ++i) {
      EXPECT_EQ(MenuItemCaption(menu.menu, i), (*menu.captions)[static_cast<std::size_t>(i)]);
    }
    UINT button = 0;
    EXPECT_TRUE(::SendMessageW(window.ttbMenu, TB_MAPACCELERATORW, menu.key,
                               reinterpret_cast<LPARAM>(&button)));
    EXPECT_EQ(static_cast<int>(button), menu.button);
  }

  // The list's columns, the pages, the empty status bar.
  HWND header = ListView_GetHeader(window.lvwResult);
  EXPECT_EQ(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_EQ(ListView_GetColumnWidth(window.lvwResult, 0), ::MulDiv(120, dpi, 96));
  EXPECT_EQ(ListView_GetColumnWidth(window.lvwResult, 2), ::MulDiv(80, dpi, 96));
  RECT list;
  ::GetClientRect(window.lvwResult, &list);
  EXPECT_EQ(ListView_GetColumnWidth(window.lvwResult, 0) +
                ListView_GetColumnWidth(window.lvwResult, 1) +
                ListView_GetColumnWidth(window.lvwResult, 2),
            list.right);
  EXPECT_TRUE(ListView_GetExtendedListViewStyle(window.lvwResult) & LVS_EX_FULLROWSELECT);
  EXPECT_FALSE(::GetWindowLongPtrW(window.lvwResult, GWL_STYLE) & LVS_SHOWSELALWAYS);
  EXPECT_EQ(TabCtrl_GetItemCount(window.tpcMain), 2);
  EXPECT_EQ(CurrentPage(), 0);
  EXPECT_EQ(StatusText(), "");
  RECT status;
  ::GetWindowRect(window.tsbMain, &status);
  EXPECT_EQ(status.bottom - status.top, ::MulDiv(20, dpi, 96));
  EXPECT_EQ(::GetFocus(), window.tpcMain);

  // The path line's bevel lies on its right and bottom edges only.
  RECT outer, inner;
  ::GetWindowRect(window.tmeViewPath, &outer);
  ::GetClientRect(window.tmeViewPath, &inner);
  ::MapWindowPoints(window.tmeViewPath, nullptr, reinterpret_cast<POINT*>(&inner), 2);
  EXPECT_EQ(inner.left, outer.left);
  EXPECT_EQ(inner.top, outer.top);
  EXPECT_GT(outer.right, inner.right);
  EXPECT_GT(outer.bottom, inner.bottom);

  ASSERT_EQ(fake_.messageBoxes.size(), 1u);
  EXPECT_EQ(fake_.messageBoxes[0].text, "ファイル CEntity.txt は開けません.");
  EXPECT_EQ(fake_.messageBoxes[0].caption, "tavrin");
}

TEST_F(Win32WindowTest, DroppedFilesAreListedAndRunConvertsThem) {
  Open();
  const std::vector<std::string> names = {"日本語.html", "한글.html", "\xF0\x9F\x98\x80.htm"};
  std::vector<std::string> paths;
  for (const std::string& name : names) paths.push_back(File(name, "<p>" + name + "</p>"));
  std::filesystem::create_directory(testing::NativePath(dir_ / "フォルダ"));
  Drop({paths[0], dir_ / "フォルダ", paths[1], paths[2], dir_ / "missing.html"});
  // A name that is no valid UTF-16 (an unpaired surrogate) names no file, least of all the one
  // that the replacement character would name.
  File("bad\xEF\xBF\xBD.html", "<p>another file</p>");
  DropWide({Wide(dir_ / "bad") + L'\xD800' + L".html"});
  ASSERT_EQ(RowCount(), 3);
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(ItemText(row, 0), names[static_cast<std::size_t>(row)]);
    EXPECT_EQ(ItemText(row, 1), paths[static_cast<std::size_t>(row)]);
    EXPECT_EQ(ItemText(row, 2), "未処理");
    EXPECT_EQ(ItemImage(row), 0);
  }

  // Run, from its toolbar button.
  ::SendMessageW(window_->Hwnd(), WM_COMMAND, MAKEWPARAM(kIdFileRun, BN_CLICKED),
                 reinterpret_cast<LPARAM>(window_->ttbMain));
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(ItemText(row, 2), "完了");
    EXPECT_EQ(ItemImage(row), 3);
    EXPECT_EQ(ReadBytes(paths[static_cast<std::size_t>(row)] + ".txt"),
              names[static_cast<std::size_t>(row)]);
  }
  EXPECT_EQ(StatusText(), "実行終了");
}

// Windows enforces MAX_PATH where Wine does not, and a Linux file system under Wine allows 255
// bytes for a name where Windows allows 255 UTF-16 units: the files are made, and removed, by
// "\\?\" names, each name as long as the file system takes. A file nearly 4,000 characters deep
// is listed and converted; a name at the limit is listed, and its output, longer than any name
// may be, stops the run with the create error.
TEST_F(Win32WindowTest, FilesUnderLongPathsAreListedAndConverted) {
  Open();
  struct Made {
    std::vector<std::wstring> files, folders;
    ~Made() {
      for (const std::wstring& file : files) ::DeleteFileW(file.c_str());
      for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        ::RemoveDirectoryW(folder->c_str());
      }
    }
  } made;
  const std::wstring exact = L"\\\\?\\";
  std::wstring folder = testing::NativePath(dir_ / "").wstring();
  if (folder.ends_with(L'\\')) folder.pop_back();
  // Wine stops where the path's Unix form reaches 4,096 bytes, the name and Wine's own folders
  // included.
  while (folder.size() < 3600) {
    folder += L'\\' + std::wstring(200, L'd');
    ASSERT_TRUE(::CreateDirectoryW((exact + folder).c_str(), nullptr))
        << folder.size() << " characters, error " << ::GetLastError();
    made.folders.push_back(exact + folder);
  }
  const auto make = [&](const std::wstring& name, std::string_view bytes) {
    const std::wstring path = folder + L'\\' + name;
    HANDLE file = ::CreateFileW((exact + path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    // Wine cuts a name longer than the file system takes to what it takes, and makes that file.
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((exact + path).c_str(), &found);
    ::FindClose(search);
    if (search == INVALID_HANDLE_VALUE || found.cFileName != name) {
      ::DeleteFileW((exact + path).c_str());
      return false;
    }
    made.files.push_back(exact + path);
    made.files.push_back(exact + path + L".txt");
    return true;
  };
  ASSERT_TRUE(make(L"p.html", "<p>deep</p>")) << ::GetLastError();
  // 255 UTF-16 units on Windows, 255 bytes on Linux; no extension, which the list does not ask
  // for. Its output's name is longer than either allows (and Wine, cutting it, names the input).
  std::wstring longName;
  for (std::size_t count = 255; count > 0 && longName.empty(); --count) {
    if (make(std::wstring(count, L'長'), "<p>long name</p>")) longName.assign(count, L'長');
  }
  ASSERT_FALSE(longName.empty());

  const std::string deep = Utf8FromWide(folder + L"\\p.html");
  const std::string named = Utf8FromWide(folder + L'\\' + longName);
  DropWide({folder + L"\\p.html", exact + folder + L"\\p.html", folder + L'\\' + longName});
  ASSERT_EQ(RowCount(), 3) << Utf8FromWide(longName).size() << " bytes in the long name";
  const std::string paths[] = {deep, Utf8FromWide(exact) + deep, named};
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(ItemText(row, 0), row < 2 ? "p.html" : Utf8FromWide(longName));
    EXPECT_EQ(ItemText(row, 1), paths[row]);
    EXPECT_EQ(ItemText(row, 2), "未処理");
  }

  fake_.messageBoxes.clear();
  Command(kIdFileRun);
  EXPECT_EQ(ItemText(1, 2), "完了");
  EXPECT_EQ(ItemText(2, 2), "開始");
  ASSERT_EQ(fake_.messageBoxes.size(), 1u);
  EXPECT_EQ(fake_.messageBoxes[0].text, "ファイル " + named + ".txt を作成できません.");
  HANDLE output = ::CreateFileW((exact + folder + L"\\p.html.txt").c_str(), GENERIC_READ, 0,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(output, INVALID_HANDLE_VALUE);
  char text[16] = {};
  DWORD got = 0;
  ::ReadFile(output, text, sizeof text, &got, nullptr);
  ::CloseHandle(output);
  EXPECT_EQ(std::string(text, got), "deep");
  EXPECT_EQ(StatusText(), "実行終了");
  // Nothing else is left in the folder: no temporary of the output that could not be made.
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((exact + folder + L"\\*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    names.insert(found.cFileName);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  EXPECT_EQ(names, (std::set<std::wstring>{L".", L"..", L"p.html", L"p.html.txt", longName}));
}

TEST_F(Win32WindowTest, EachMenuItemRunsItsCommand) {
  TFMain& window = Open();
  const std::string a = File("a.html", "a"), b = File("b.html", "b");
  std::vector<std::string> aboutLabels;
  std::string aboutCaption;
  BITMAP aboutPicture{};
  std::uint32_t discPixel = 0;
  const int dpi = static_cast<int>(DpiOf(window.Hwnd()));
  window.whileAboutBoxShows = [&](HWND box) {
    aboutCaption = TextOf(box);
    // The picture decoded from the resources, read back from Image1's bitmap.
    const auto shown = reinterpret_cast<HBITMAP>(
        ::SendMessageW(::GetDlgItem(box, kIdImage1), STM_GETIMAGE, IMAGE_BITMAP, 0));
    if (shown != nullptr && ::GetObjectW(shown, sizeof aboutPicture, &aboutPicture) != 0 &&
        aboutPicture.bmBits != nullptr && aboutPicture.bmBitsPixel == 32) {
      const auto* pixels = static_cast<const std::uint32_t*>(aboutPicture.bmBits);
      discPixel = pixels[::MulDiv(130, dpi, 96) * aboutPicture.bmWidth + ::MulDiv(90, dpi, 96)];
    }
    for (int id : {kIdLabel2, kIdLabel3, kIdLabel5, kIdLabel4}) {
      aboutLabels.push_back(TextOf(::GetDlgItem(box, id)));
    }
    ::PostMessageW(box, WM_CLOSE, 0, 0);
  };
  fake_.folderAnswers.push_back("C:\\検索");
  fake_.messageBoxes.clear();

  Command(kIdFileFindFile);
  EXPECT_EQ(fake_.searchWindows, std::vector<std::string>{"C:\\検索"});
  Command(kIdEditCEntity);  // the table is still missing: the open error
  Command(kIdHelpVersion);
  EXPECT_EQ(aboutCaption, "バージョン情報");
  ASSERT_EQ(aboutLabels.size(), 4u);
  EXPECT_EQ(aboutLabels[2], "compired with");
  EXPECT_EQ(aboutPicture.bmWidth, ::MulDiv(240, dpi, 96));
  EXPECT_EQ(aboutPicture.bmHeight, ::MulDiv(320, dpi, 96));
  // The sign's blue disc, in the right channel order.
  EXPECT_GT(static_cast<int>(discPixel & 0xFF), static_cast<int>((discPixel >> 16) & 0xFF) + 60)
      << std::hex << discPixel;
  EXPECT_TRUE(::IsWindowEnabled(window.Hwnd()));

  Drop({a, b, a});
  SelectRow(1);
  Command(kIdEditListClear);
  EXPECT_EQ(RowCount(), 2);
  EXPECT_EQ(ItemText(1, 0), "a.html");
  // Rows apart from each other go at once; the list draws again afterwards.
  Drop({b, a, b});
  for (int row : {0, 2, 3}) SelectRow(row);
  Command(kIdEditListClear);
  ASSERT_EQ(RowCount(), 2);
  EXPECT_EQ(ItemText(0, 0), "a.html");
  EXPECT_EQ(ItemText(1, 0), "b.html");
  EXPECT_EQ(ListView_GetSelectedCount(window.lvwResult), 0u);
  EXPECT_TRUE(::IsWindowVisible(window.lvwResult));
  Command(kIdEditListAllClear);
  EXPECT_EQ(RowCount(), 0);
  Drop({a, b});
  Command(kIdEditListIsRecycled);
  EXPECT_EQ(RowCount(), 0);
  EXPECT_EQ(fake_.trashCalls, std::vector<std::string>{a + '\0' + b + '\0' + '\0'});
  EXPECT_EQ(StatusText(), "削除終了");
  ASSERT_EQ(fake_.messageBoxes.size(), 2u);
  EXPECT_EQ(fake_.messageBoxes[0].text, "ファイル CEntity.txt は開けません.");
  EXPECT_EQ(fake_.messageBoxes[1].caption, "クッション");

  // Alt+E opens the edit menu from the menu row; its item runs.
  Drop({a});
  HMENU shown = nullptr;
  window.whileMenuShows = [&](HMENU menu) {
    shown = menu;
    return static_cast<int>(kIdEditListAllClear);
  };
  EXPECT_TRUE(window.PreTranslateMessage(AltAndKey(window.lvwResult, 'E')));
  EXPECT_EQ(shown, window.tmiEdit);
  EXPECT_EQ(RowCount(), 0);
  // F10, or Alt pressed and let go alone, opens the first menu, as on a menu bar, not the
  // system menu that a window without a menu bar would otherwise enter unseen.
  shown = nullptr;
  ::SendMessageW(window.Hwnd(), WM_SYSCOMMAND, SC_KEYMENU, 0);
  EXPECT_EQ(shown, window.tmiFile);

  Command(kIdFileClose);
  EXPECT_EQ(window.Hwnd(), nullptr);
}

// What a screen reader finds, read through oleacc as one reads it, from the window down: each
// control's name and role, the status text's change announced, the About picture described.
TEST_F(Win32WindowTest, AScreenReaderReadsEveryPartByItsNameAndRole) {
  // The window's objects reach the reader through COM, as they would another process.
  struct Com {
    HRESULT started = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~Com() {
      if (SUCCEEDED(started)) ::CoUninitialize();
    }
  } com;
  TFMain& window = Open();
  Drop({File("a.html", "<p>one</p>")});
  std::vector<HWND> announced;
  static std::vector<HWND>* changes = nullptr;
  changes = &announced;
  HWINEVENTHOOK hook = ::SetWinEventHook(
      EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr,
      [](HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
        if (object == OBJID_CLIENT && child == CHILDID_SELF) changes->push_back(hwnd);
      },
      ::GetCurrentProcessId(), ::GetCurrentThreadId(), WINEVENT_OUTOFCONTEXT);
  Command(kIdFileRun);
  Pump();
  ::UnhookWinEvent(hook);

  std::vector<AccessibleRead> reads;
  ReadAccessibleTree(window.Hwnd(), reads);
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads[0].name, "tavrin");
  // Each control, reached from the window, by the names the other face gives; the tab strip
  // reads as the page it shows, the status bar's text is its value.
  const struct {
    const char* control;
    LONG role;
    const char* name;
  } parts[] = {
      {"ttbMain", ROLE_SYSTEM_TOOLBAR, "ツールバー"},
      {"ttbMenu", ROLE_SYSTEM_MENUBAR, "メニュー"},
      {"tpcMain", ROLE_SYSTEM_PAGETABLIST, "リスト"},
      {"ttsMain", ROLE_SYSTEM_PROPERTYPAGE, "リスト"},
      {"ttsView", ROLE_SYSTEM_PROPERTYPAGE, "ビュー"},
      {"lvwResult", ROLE_SYSTEM_LIST, "リスト"},
      {"tmeViewPath", ROLE_SYSTEM_TEXT, "パス"},
      {"tmeView", ROLE_SYSTEM_TEXT, "ビュー"},
      {"tsbMain", ROLE_SYSTEM_STATUSBAR, "ステータス"},
  };
  for (const auto& part : parts) {
    const AccessibleRead* read = ReadOf(reads, window.Control(part.control));
    ASSERT_NE(read, nullptr) << part.control << " is not reached from the window";
    EXPECT_EQ(read->role, part.role) << part.control;
    EXPECT_EQ(read->name, part.name) << part.control;
  }
  EXPECT_EQ(ReadOf(reads, window.tsbMain)->value, "実行終了");
  EXPECT_NE(std::count(announced.begin(), announced.end(), window.tsbMain), 0)
      << "the status text's change is not announced";
  // The menu row's buttons read as a menu bar's items, which open a menu.
  IAccessible* row = nullptr;
  ASSERT_EQ(::AccessibleObjectFromWindow(window.ttbMenu, static_cast<DWORD>(OBJID_CLIENT),
                                         __uuidof(IAccessible), reinterpret_cast<void**>(&row)),
            S_OK);
  for (LONG button = 1; button <= 4; ++button) {
    VARIANT child;
    child.vt = VT_I4;
    child.lVal = button;
    VARIANT role;
    ::VariantInit(&role);
    row->get_accRole(child, &role);
    EXPECT_EQ(role.vt == VT_I4 ? role.lVal : 0, button <= 3 ? ROLE_SYSTEM_MENUITEM : 0) << button;
    ::VariantClear(&role);
  }
  row->Release();
  // Where oleacc gives the parts an object draws (rows, buttons, tabs), none reads as nothing.
  // Wine's gives none of them: there the captions behind them are checked where they are set.
  for (const AccessibleRead& read : reads) {
    if (!read.element) continue;
    switch (read.role) {
      case ROLE_SYSTEM_PUSHBUTTON:
      case ROLE_SYSTEM_BUTTONDROPDOWN:
      case ROLE_SYSTEM_BUTTONMENU:
      case ROLE_SYSTEM_PAGETAB:
      case ROLE_SYSTEM_LISTITEM:
      case ROLE_SYSTEM_MENUITEM:
        EXPECT_NE(read.name, "") << window.NameOf(read.window) << " has a nameless part";
        break;
      default:
        break;
    }
  }
  // The bands read by their titles, which are never drawn.
  const char* titles[] = {"ツールバー", "メニュー バー"};
  for (int band = 0; band < 2; ++band) {
    wchar_t title[64] = {};
    REBARBANDINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = RBBIM_TEXT | RBBIM_STYLE;
    info.lpText = title;
    info.cch = 64;
    ::SendMessageW(window.tcbMain, RB_GETBANDINFOW, static_cast<WPARAM>(band),
                   reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(Utf8FromWide(title), titles[band]);
    EXPECT_TRUE(info.fStyle & RBBS_HIDETITLE) << band;
  }
  // Menu items keep their text beside the picture the window draws, so the menus read it.
  for (HMENU menu : {window.tmiFile, window.tmiEdit, window.tmiHelp}) {
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
      MENUITEMINFOW item{};
      item.cbSize = sizeof item;
      item.fMask = MIIM_FTYPE;
      ::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item);
      EXPECT_FALSE(item.fType & MFT_OWNERDRAW) << MenuItemCaption(menu, i);
    }
  }

  SelectTab(1);
  reads.clear();
  ReadAccessibleTree(window.tpcMain, reads);
  EXPECT_EQ(reads.at(0).name, "ビュー");

  // The About box: its picture named and described, its labels read as they show.
  std::vector<AccessibleRead> about;
  HWND picture = nullptr;
  window.whileAboutBoxShows = [&](HWND box) {
    ReadAccessibleTree(box, about);
    picture = ::GetDlgItem(box, kIdImage1);
    ::PostMessageW(box, WM_CLOSE, 0, 0);
  };
  Command(kIdHelpVersion);
  ASSERT_FALSE(about.empty());
  EXPECT_EQ(about[0].name, "バージョン情報");
  const AccessibleRead* image1 = ReadOf(about, picture);
  ASSERT_NE(image1, nullptr);
  EXPECT_EQ(image1->role, ROLE_SYSTEM_GRAPHIC);
  EXPECT_EQ(image1->name, "tavrin ver 2");
  EXPECT_NE(image1->description.find("「tavrin」"), std::string::npos) << image1->description;
  std::vector<std::string> names;
  for (const AccessibleRead& read : about) names.push_back(read.name);
  for (const char* label :
       {"作者: tavrin 開発チーム", "連絡先: tavrin-dev@example.invalid", "compired with"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), label), names.end()) << label;
  }
}

// The real menu, driven by a key posted each time the open menu waits for one: Left and Right go
// round the menu row as on a menu bar, each menu opening with its first item selected.
TEST_F(Win32WindowTest, ArrowKeysAndTheMouseMoveAlongTheMenuRow) {
  TFMain& window = Open();
  Drop({File("a.html", "a"), File("b.html", "b")});
  SelectRow(1);
  static std::vector<HMENU> opened;
  static std::vector<WPARAM> keys;
  static POINT helpButton{};
  RECT help{};
  ::SendMessageW(window.ttbMenu, TB_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&help));
  helpButton = {(help.left + help.right) / 2, (help.top + help.bottom) / 2};
  ::ClientToScreen(window.ttbMenu, &helpButton);
  opened.clear();
  // Taken from the back; 0 moves the mouse onto the help menu's caption button.
  keys = {VK_RETURN, VK_RIGHT, VK_LEFT, 0, VK_LEFT, 0};
  static HHOOK hook = nullptr;
  hook = ::SetWindowsHookExW(
      WH_CALLWNDPROC,
      [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && sent->message == WM_INITMENUPOPUP) {
          opened.push_back(reinterpret_cast<HMENU>(sent->wParam));
        }
        if (code == HC_ACTION && sent->message == WM_ENTERIDLE && sent->wParam == MSGF_MENU) {
          const WPARAM key = keys.empty() ? VK_ESCAPE : keys.back();
          if (!keys.empty()) keys.pop_back();
          if (key == 0) {
            ::SetCursorPos(helpButton.x, helpButton.y);
            ::PostMessageW(sent->hwnd, WM_MOUSEMOVE, 0, 0);
          } else {
            ::PostMessageW(sent->hwnd, WM_KEYDOWN, key, 0);
          }
        }
        return ::CallNextHookEx(hook, code, wParam, lParam);
      },
      nullptr, ::GetCurrentThreadId());
  EXPECT_TRUE(window.PreTranslateMessage(AltAndKey(window.lvwResult, 'E')));
  ::UnhookWindowsHookEx(hook);
  // The mouse moving onto the help button opens its menu; a mouse message without a move (as a
  // newly shown menu brings) changes nothing.
  EXPECT_EQ(opened, (std::vector<HMENU>{window.tmiEdit, window.tmiHelp, window.tmiEdit,
                                        window.tmiFile, window.tmiEdit}));
  // Return chose the first item of the edit menu: the selected row is cleared.
  ASSERT_EQ(RowCount(), 1);
  EXPECT_EQ(ItemText(0, 0), "a.html");
}

TEST_F(Win32WindowTest, DoubleClicksAndTabsShowThePreviewAsTheFocusMoves) {
  TFMain& window = Open();
  const std::string page = File("page.html", "<b>one</b>\ntwo");
  Drop({page});
  SelectRow(0);
  DoubleClickList();
  EXPECT_EQ(CurrentPage(), 1);
  EXPECT_TRUE(::IsWindowVisible(window.tmeView));
  EXPECT_EQ(TextOf(window.tmeViewPath), page);
  EXPECT_EQ(TextOf(window.tmeView), "one\r\ntwo");

  ::SendMessageW(window.tmeView, WM_LBUTTONDBLCLK, 0, 0);
  EXPECT_EQ(CurrentPage(), 0);
  EXPECT_TRUE(::IsWindowVisible(window.lvwResult));

  // From the list, the tab takes the focus into the page: rebuilt.
  WriteBytes(page, "three");
  ::SetFocus(window.lvwResult);
  SelectTab(1);
  EXPECT_EQ(::GetFocus(), window.tmeView);
  EXPECT_EQ(TextOf(window.tmeView), "three");

  // From the tab strip, the page keeps its earlier content until the focus enters it.
  SelectTab(0);
  ::SetFocus(window.tpcMain);
  WriteBytes(page, "four");
  SelectTab(1);
  EXPECT_EQ(TextOf(window.tmeView), "three");
  ::SetFocus(window.tmeView);
  EXPECT_EQ(TextOf(window.tmeView), "four");
}

TEST_F(Win32WindowTest, ALongLineGoesIntoThePreviewInSlicesBetweenMessages) {
  TFMain& window = Open();
  const std::string line(3 * TFMain::kPreviewSlice / 2, 'x');
  const std::string page = File("page.html", "<p>" + line + "</p>");
  Drop({page});
  SelectRow(0);
  DoubleClickList();
  // The first slice shows at once, the rest follows from the message loop.
  const std::string shown = TextOf(window.tmeView);
  EXPECT_FALSE(shown.empty());
  EXPECT_LT(shown.size(), line.size());
  Pump();
  EXPECT_TRUE(TextOf(window.tmeView) == line);
  // Where the text starts, as if it had gone in whole.
  DWORD start = 1, end = 1;
  ::SendMessageW(window.tmeView, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, 0u);
  EXPECT_EQ(::SendMessageW(window.tmeView, EM_GETFIRSTVISIBLELINE, 0, 0), 0);

  // A new preview before the last slice drops the rest of the old one.
  ::SendMessageW(window.tmeView, WM_LBUTTONDBLCLK, 0, 0);
  DoubleClickList();
  ::SendMessageW(window.tmeView, WM_LBUTTONDBLCLK, 0, 0);
  WriteBytes(page, "short");
  DoubleClickList();
  Pump();
  EXPECT_EQ(TextOf(window.tmeView), "short");
}

LONG FontHeight(HWND control) {
  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
  return font.lfHeight;
}

SIZE PictureSize(HWND aboutBox) {
  BITMAP picture{};
  ::GetObjectW(reinterpret_cast<HBITMAP>(::SendMessageW(::GetDlgItem(aboutBox, kIdImage1),
                                                        STM_GETIMAGE, IMAGE_BITMAP, 0)),
               sizeof picture, &picture);
  return {picture.bmWidth, picture.bmHeight};
}

// What a move to a monitor of another DPI sends: the new DPI and the window's rectangle there,
// its client area scaled.
void ChangeDpi(HWND window, int from, int to) {
  RECT rect;
  ::GetClientRect(window, &rect);
  rect.right = ::MulDiv(rect.right, to, from);
  rect.bottom = ::MulDiv(rect.bottom, to, from);
  ::AdjustWindowRectEx(&rect, static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE)));
  ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&rect));
}

// The characters of a text the font has no glyph for.
std::wstring MissingGlyphs(HFONT font, const std::wstring& text) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  std::vector<WORD> glyphs(text.size());
  ::GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                     GGI_MARK_NONEXISTING_GLYPHS);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  std::wstring missing;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (glyphs[i] == 0xFFFF) missing.push_back(text[i]);
  }
  return missing;
}

// Whether a character drawn at the top of a line leaves ink inside the line's height.
bool InksItsLine(HFONT font, wchar_t character) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ oldFont = ::SelectObject(dc, font);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  const int width = 4 * metrics.tmMaxCharWidth + 4, height = metrics.tmHeight;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
  RECT all{0, 0, width, height};
  ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(0, 0, 0));
  ::ExtTextOutW(dc, 2, 0, ETO_CLIPPED, &all, &character, 1, nullptr);
  ::GdiFlush();
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  const bool inked = std::any_of(pixels, pixels + width * height, [](std::uint32_t pixel) {
    return (pixel & 0xFFFFFF) != 0xFFFFFF;
  });
  ::SelectObject(dc, oldBitmap);
  ::SelectObject(dc, oldFont);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  return inked;
}

HFONT FontOf(HWND control) {
  return reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
}

TEST_F(Win32WindowTest, EveryTextShowsWholeInAFaceThatHasItsGlyphs) {
  TFMain& window = Open();
  const struct {
    const char* name;
    HWND control;
    std::wstring text;
  } shown[] = {
      {"ttbMenu", window.ttbMenu, L"ファイル(F)編集(E)ヘルプ(H)"},
      {"tpcMain", window.tpcMain, L"リストビュー"},
      {"lvwResult", window.lvwResult, L"ファイル名パスタスク未処理開始完了日本語_.html"},
      {"tmeViewPath", window.tmeViewPath, L"C:\\日本語\\shift_jis.html"},
      {"tmeView", window.tmeView, L"shift_jis 日本語「」、。ー"},
      {"tsbMain", window.tsbMain, L"実行開始実行終了削除開始削除終了"},
  };
  for (const auto& [name, control, text] : shown) {
    EXPECT_EQ(MissingGlyphs(FontOf(control), text), L"") << name;
  }
  for (HWND control : {window.lvwResult, window.tmeViewPath, window.tmeView}) {
    EXPECT_TRUE(InksItsLine(FontOf(control), L'_')) << window.NameOf(control);
  }

  // Each caption button as wide as its caption in the face shown, beside its arrow.
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, FontOf(window.ttbMenu));
  const int padding = LOWORD(::SendMessageW(window.ttbMenu, TB_GETPADDING, 0, 0));
  const wchar_t* captions[] = {L"ファイル(F)", L"編集(E)", L"ヘルプ(H)"};
  for (int i = 0; i < 3; ++i) {
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, captions[i], static_cast<int>(std::wcslen(captions[i])), &extent);
    RECT rect{};
    ::SendMessageW(window.ttbMenu, TB_GETRECT, static_cast<WPARAM>(kIdMenuFile + i),
                   reinterpret_cast<LPARAM>(&rect));
    constexpr int kArrow = 11;  // the narrowest drop-down arrow the toolbars draw
    EXPECT_GE(rect.right - rect.left, extent.cx + padding + kArrow) << i;
    EXPECT_GE(rect.bottom - rect.top, extent.cy) << i;
  }
  ::SelectObject(dc, old);
  ::DeleteDC(dc);

  // The About box's labels: whole, inside the box, in a face with their glyphs.
  int labels = 0;
  window.whileAboutBoxShows = [&](HWND box) {
    RECT client;
    ::GetClientRect(box, &client);
    for (int id : {kIdLabel2, kIdLabel3, kIdLabel5, kIdLabel4}) {
      HWND label = ::GetDlgItem(box, id);
      const std::wstring text = Wide(TextOf(label));
      EXPECT_EQ(MissingGlyphs(FontOf(label), text), L"") << id;
      HDC labelDc = ::GetDC(label);
      HGDIOBJ was = ::SelectObject(labelDc, FontOf(label));
      SIZE extent{};
      ::GetTextExtentPoint32W(labelDc, text.c_str(), static_cast<int>(text.size()), &extent);
      ::SelectObject(labelDc, was);
      ::ReleaseDC(label, labelDc);
      RECT rect;
      ::GetWindowRect(label, &rect);
      ::MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&rect), 2);
      EXPECT_GE(rect.right - rect.left, extent.cx) << id;
      EXPECT_GE(rect.bottom - rect.top, extent.cy) << id;
      EXPECT_LE(rect.right, client.right) << id;
      ++labels;
    }
    ::PostMessageW(box, WM_CLOSE, 0, 0);
  };
  Command(kIdHelpVersion);
  EXPECT_EQ(labels, 4);
}

// Where no face has a glyph for every character (a system without Japanese fonts), the window
// still gets a font that shows its Latin texts, "_" included, in a line of about the size asked
// for: not a face whose tall lines push the captions out of their bars.
TEST(Win32WindowFontsTest, WithoutAFaceForItsTextsLatinStillShowsInALineOfItsSize) {
  for (const bool fixed : {false, true}) {
    // A character of a private plane: no face has it.
    HFONT font = MakeFont({L"No Such Face"}, 12, fixed, L"\U000F0041A_");
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(MissingGlyphs(font, L"CEntity.txt (F)(E)(H) 0123456789 a.html_:\\"), L"") << fixed;
    EXPECT_TRUE(InksItsLine(font, L'_')) << fixed;
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, font);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    EXPECT_LE(metrics.tmHeight, 12 + 4) << fixed;
    ::DeleteObject(font);
  }
}

// Menus draw their items' images through the window, from the image list: the pixels its
// pictures leave transparent keep the menu's background, even where menus ignore alpha.
TEST_F(Win32WindowTest, MenuImagesLeaveTheirTransparentPixelsToTheMenu) {
  TFMain& window = Open();
  constexpr int kSize = 16;
  HDC dc = ::CreateCompatibleDC(nullptr);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), kSize, -kSize, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  for (HMENU menu : {window.tmiFile, window.tmiEdit, window.tmiHelp}) {
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
      MENUITEMINFOW item{};
      item.cbSize = sizeof item;
      item.fMask = MIIM_BITMAP | MIIM_ID | MIIM_FTYPE;
      ::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item);
      if (item.fType & MFT_SEPARATOR) continue;
      EXPECT_EQ(item.hbmpItem, HBMMENU_CALLBACK) << item.wID;
      MEASUREITEMSTRUCT measure{ODT_MENU, 0, item.wID, 0, 0, 0};
      EXPECT_TRUE(
          ::SendMessageW(window.Hwnd(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure)));
      EXPECT_EQ(measure.itemWidth, static_cast<UINT>(kSize));
      EXPECT_EQ(measure.itemHeight, static_cast<UINT>(kSize));
      for (UINT state : {0u, static_cast<UINT>(ODS_SELECTED)}) {
        RECT all{0, 0, kSize, kSize};
        ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        DRAWITEMSTRUCT draw{
            ODT_MENU, 0, item.wID, ODA_DRAWENTIRE, state, reinterpret_cast<HWND>(menu), dc, all, 0};
        ::SendMessageW(window.Hwnd(), WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw));
        ::GdiFlush();
        const auto* pixels = static_cast<const std::uint32_t*>(bits);
        const auto background = std::count_if(pixels, pixels + kSize * kSize, [](std::uint32_t p) {
          return (p & 0xFFFFFF) == 0xFFFFFF;
        });
        EXPECT_GT(background, 0) << item.wID;
        EXPECT_LT(background, kSize * kSize) << item.wID;
      }
    }
  }
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
}

TEST_F(Win32WindowTest, MovedToAMonitorOfDoubleDpiEverythingIsDrawnTwiceAsLarge) {
  TFMain& window = Open();
  const int dpi = static_cast<int>(DpiOf(window.Hwnd()));
  const auto sizes = [&] {
    std::vector<LONG> measured;
    for (HWND control : {window.tpcMain, window.lvwResult, window.tmeViewPath, window.tmeView,
                         window.tsbMain, window.ttbMenu}) {
      measured.push_back(FontHeight(control));
    }
    measured.push_back(ListView_GetColumnWidth(window.lvwResult, 0));
    measured.push_back(ListView_GetColumnWidth(window.lvwResult, 2));
    // The pictures of the list, the tabs and the toolbar.
    for (HIMAGELIST images :
         {ListView_GetImageList(window.lvwResult, LVSIL_SMALL),
          TabCtrl_GetImageList(window.tpcMain),
          reinterpret_cast<HIMAGELIST>(::SendMessageW(window.ttbMain, TB_GETIMAGELIST, 0, 0))}) {
      int width = 0, height = 0;
      ::ImageList_GetIconSize(images, &width, &height);
      measured.push_back(width);
      measured.push_back(height);
    }
    for (UINT band = 0; band < 2; ++band) {
      REBARBANDINFOW info{};
      info.cbSize = sizeof info;
      info.fMask = RBBIM_CHILDSIZE;
      ::SendMessageW(window.tcbMain, RB_GETBANDINFOW, band, reinterpret_cast<LPARAM>(&info));
      measured.push_back(static_cast<LONG>(info.cxMinChild));
      measured.push_back(static_cast<LONG>(info.cyMinChild));
    }
    return measured;
  };
  const std::vector<LONG> before = sizes();
  ChangeDpi(window.Hwnd(), dpi, 2 * dpi);
  std::vector<LONG> doubled;
  for (LONG size : before) doubled.push_back(2 * size);
  EXPECT_EQ(sizes(), doubled);
  // The caption buttons: at least the named size, larger where the captions need it.
  const LRESULT button = ::SendMessageW(window.ttbMenu, TB_GETBUTTONSIZE, 0, 0);
  EXPECT_GE(LOWORD(button), ::MulDiv(63, 2 * dpi, 96));
  EXPECT_GE(HIWORD(button), ::MulDiv(20, 2 * dpi, 96));
  RECT client, list, frame;
  ::GetClientRect(window.Hwnd(), &client);
  ::GetWindowRect(window.Hwnd(), &frame);
  // Twice as wide, unless that is wider than the system lets any window be.
  const int frameWidth = (frame.right - frame.left) - client.right;
  EXPECT_EQ(client.right,
            std::min(::MulDiv(632, 2 * dpi, 96), ::GetSystemMetrics(SM_CXMAXTRACK) - frameWidth));
  ::GetClientRect(window.lvwResult, &list);
  EXPECT_EQ(ListView_GetColumnWidth(window.lvwResult, 0) +
                ListView_GetColumnWidth(window.lvwResult, 1) +
                ListView_GetColumnWidth(window.lvwResult, 2),
            list.right);

  // The About box opens at the window's DPI, and follows a change of its own.
  std::vector<LONG> about;
  window.whileAboutBoxShows = [&](HWND box) {
    for (int step = 0; step < 2; ++step) {
      about.push_back(FontHeight(::GetDlgItem(box, kIdLabel2)));
      about.push_back(PictureSize(box).cx);
      about.push_back(PictureSize(box).cy);
      if (step == 0) ChangeDpi(box, 2 * dpi, dpi);
    }
    ::PostMessageW(box, WM_CLOSE, 0, 0);
  };
  Command(kIdHelpVersion);
  const auto at = [](int pixels, int to) { return static_cast<LONG>(::MulDiv(pixels, to, 96)); };
  EXPECT_EQ(about, (std::vector<LONG>{-at(11, 2 * dpi), at(240, 2 * dpi), at(320, 2 * dpi),
                                      -at(11, dpi), at(240, dpi), at(320, dpi)}));
}

// The desktop's own services where Wine has them.
TEST(Win32DesktopServicesTest, AttributesAndTheRecycleBin) {
  TempDir dir;
  const std::string file = dir / "ごみ.html";
  WriteBytes(file, "x");
  std::filesystem::create_directory(testing::NativePath(dir / "フォルダ"));
  Win32DesktopServices services;
  EXPECT_FALSE(services.GetFileAttributes(file) & kFileAttributeDirectory);
  EXPECT_TRUE(services.GetFileAttributes(dir / "フォルダ") & kFileAttributeDirectory);
  EXPECT_EQ(services.GetFileAttributes(dir / "missing"), kInvalidFileAttributes);
  // Windows would look at ごみ.html: the name is not listed, so no command reaches that file.
  EXPECT_EQ(services.GetFileAttributes(file + "."), kInvalidFileAttributes);
  EXPECT_EQ(services.GetFileAttributes((dir / "sjis") + "\x83\x5C"), kInvalidFileAttributes);
  // Device names, which Windows finds in any folder and with any extension, are no files; the
  // name alone tells, so the device is never opened.
  testing::WatchedDevice watched;
  ASSERT_TRUE(watched.Ready());
  for (const std::string& device :
       {std::string("NUL"), std::string("con"), std::string("COM1"), dir / "NUL.html", dir / "aux",
        std::string("COM9"), std::string("\\\\.\\COM9"), dir / "com9.html"}) {
    EXPECT_TRUE(services.GetFileAttributes(device) & kFileAttributeDirectory) << device;
  }
  EXPECT_FALSE(watched.Opened());

  // The shell's own confirmation is answered Yes as it appears.
  static HHOOK hook = nullptr;
  hook = ::SetWindowsHookExW(
      WH_CBT,
      [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (code == HCBT_ACTIVATE) {
          ::PostMessageW(reinterpret_cast<HWND>(wParam), WM_COMMAND, IDYES, 0);
        }
        return ::CallNextHookEx(hook, code, wParam, lParam);
      },
      nullptr, ::GetCurrentThreadId());
  services.MoveToTrash(nullptr, file + '\0' + '\0');
  ::UnhookWindowsHookEx(hook);
  EXPECT_FALSE(std::filesystem::exists(testing::NativePath(file)));
}

// A box caught as it shows: checked once its loop runs, then a page down and Enter pressed.
struct ShownBox {
  static inline HHOOK activation = nullptr, messages = nullptr;
  static inline HWND box = nullptr;
  static inline int step = 0;
  static inline std::function<void(HWND)> check;

  explicit ShownBox(std::function<void(HWND)> checks) {
    box = nullptr;
    step = 0;
    check = std::move(checks);
    activation = ::SetWindowsHookExW(WH_CBT, &Activated, nullptr, ::GetCurrentThreadId());
    messages = ::SetWindowsHookExW(WH_GETMESSAGE, &Got, nullptr, ::GetCurrentThreadId());
  }
  ~ShownBox() {
    ::UnhookWindowsHookEx(activation);
    ::UnhookWindowsHookEx(messages);
  }
  static LRESULT CALLBACK Activated(int code, WPARAM wParam, LPARAM lParam) {
    // The last to be activated: a system box too large to show is replaced by another.
    if (code == HCBT_ACTIVATE) box = reinterpret_cast<HWND>(wParam);
    return ::CallNextHookEx(activation, code, wParam, lParam);
  }
  static LRESULT CALLBACK Got(int code, WPARAM wParam, LPARAM lParam) {
    const MSG& message = *reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && box != nullptr && ::IsWindowVisible(box)) {
      if (step == 0) {
        step = 1;
        check(box);
        HWND focus = ::GetFocus();
        ::PostMessageW(focus, WM_KEYDOWN, VK_NEXT, 0);
        ::PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0);
      } else if (step == 1 && message.message == WM_KEYDOWN && message.wParam == VK_RETURN) {
        step = 2;
        // The page down went to the pane, where it has one to scroll.
        HWND pane = ::GetDlgItem(box, kIdBoxPane);
        if (pane != nullptr && (::GetWindowLongPtrW(pane, GWL_STYLE) & WS_VSCROLL)) {
          EXPECT_GT(::SendMessageW(pane, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
        }
      }
    }
    return ::CallNextHookEx(messages, code, wParam, lParam);
  }
};

bool Contains(const RECT& outer, const RECT& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

std::wstring WithoutCr(std::wstring text) {
  text.erase(std::remove(text.begin(), text.end(), L'\r'), text.end());
  return text;
}

// The table check's box, and error boxes naming long paths, on a screen they overflow and on one
// they do not: the box and its OK lie inside the working area, the text shows whole (a pane
// scrolling where the box cannot hold it, a long row or word wrapped, never cut), and Enter
// closes it.
TEST(Win32DesktopServicesTest, ABoxFitsTheWorkAreaItsTextWholeAndEnterClosesIt) {
  std::string rows, longRow = "&long; ";
  for (int row = 0; row < 270; ++row) rows += "&entity" + std::to_string(row) + "; 字\n";
  for (int i = 0; i < 3000; ++i) longRow += i % 7 == 0 ? "x" : "長";
  std::string path = "ファイル C:\\";
  for (int i = 0; i < 400; ++i) path += "日本語のフォルダ\\";
  const struct {
    const char* what;
    std::string text;
    const wchar_t* boxClass;  // null where either may show it
  } cases[] = {
      {"a short table", "&amp; &\n&lt; <\n&gt; >", L"#32770"},
      {"270 rows", rows, kScrollingBoxClass},
      {"one row of 3000 characters", longRow, nullptr},
      {"a path of thousands of Japanese characters", path + "a.html は開けません.", nullptr},
      {"a name of 3000 letters without a space",
       "ファイル C:\\" + std::string(3000, 'x') + " は開けません.", nullptr},
  };
  for (const auto& [what, text, boxClass] : cases) {
    SCOPED_TRACE(what);
    const std::wstring wide = Wide(text);
    bool checked = false;
    ShownBox shown([&](HWND box) {
      checked = true;
      wchar_t name[64] = {};
      ::GetClassNameW(box, name, 64);
      if (boxClass != nullptr) {
        EXPECT_STREQ(name, boxClass);
      }
      MONITORINFO monitor{};
      monitor.cbSize = sizeof monitor;
      ::GetMonitorInfoW(::MonitorFromWindow(box, MONITOR_DEFAULTTOPRIMARY), &monitor);
      RECT frame, ok;
      ::GetWindowRect(box, &frame);
      HWND okButton = ::GetDlgItem(box, IDOK);
      ::GetWindowRect(okButton, &ok);
      EXPECT_TRUE(Contains(monitor.rcWork, frame));
      EXPECT_TRUE(Contains(frame, ok));
      EXPECT_TRUE(::IsWindowVisible(okButton));
      EXPECT_EQ(::GetFocus(), okButton);
      HWND pane = ::GetDlgItem(box, kIdBoxPane);
      if (std::wstring(name) == L"#32770") {
        EXPECT_EQ(Wide(TextOf(::GetDlgItem(box, 0xFFFF))), wide);
        return;
      }
      ASSERT_NE(pane, nullptr);
      EXPECT_EQ(WithoutCr(Wide(TextOf(pane))), wide);
      RECT place, client;
      ::GetWindowRect(pane, &place);
      EXPECT_TRUE(Contains(frame, place));
      // Wrapped at the pane's width, so nothing lies past its right edge; lines below its foot
      // scroll into view.
      const LONG_PTR style = ::GetWindowLongPtrW(pane, GWL_STYLE);
      EXPECT_TRUE(style & ES_MULTILINE);
      EXPECT_FALSE(style & (ES_AUTOHSCROLL | WS_HSCROLL));
      const int lines = static_cast<int>(::SendMessageW(pane, EM_GETLINECOUNT, 0, 0));
      HDC dc = ::GetDC(pane);
      HGDIOBJ old = ::SelectObject(dc, FontOf(pane));
      TEXTMETRICW metrics{};
      ::GetTextMetricsW(dc, &metrics);
      ::SelectObject(dc, old);
      ::ReleaseDC(pane, dc);
      ::GetClientRect(pane, &client);
      if (lines * metrics.tmHeight > client.bottom) {
        EXPECT_TRUE(style & WS_VSCROLL);
      }
    });
    Win32DesktopServices services;
    EXPECT_EQ(services.MessageBox(nullptr, text, "CEntity", MB_OK), IDOK);
    EXPECT_TRUE(checked);
    EXPECT_EQ(ShownBox::step, 2);
  }
}

TEST(Win32DesktopServicesTest, ABoxShowsAtMostItsLimit) {
  EXPECT_EQ(BoxText("短い"), L"短い");
  const std::wstring cut = BoxText(std::string(70000, 'a'));
  EXPECT_EQ(cut.size(), Win32DesktopServices::kMaxBoxText + 1);
  EXPECT_EQ(cut.back(), L'\x2026');
  // Never inside a surrogate pair: here the limit falls after the first half of one.
  std::string emoji;
  for (int i = 0; i < 40000; ++i) emoji += "\xF0\x9F\x98\x80";
  const std::wstring pairs = BoxText(emoji);
  EXPECT_EQ(pairs.size(), Win32DesktopServices::kMaxBoxText);
  EXPECT_FALSE(IS_HIGH_SURROGATE(pairs[pairs.size() - 2]));
}

}  // namespace
}  // namespace tavrin
