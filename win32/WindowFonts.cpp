#include "WindowFonts.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>

namespace tavrin {

namespace {

// Every character the window's own texts use: its captions, headers, tasks, statuses and the
// path punctuation, each a glyph any face shown must have.
constexpr wchar_t kWindowTexts[] =
    L"ファイル(F)編集(E)ヘルプ(H)リストビュー名パスタスク未処理開始完了実行終了削除"
    L"検索ダイアログを表示する閉じる選択した項目をクリア全てごみ箱へ「」読み込み確認"
    L"バージョン情報...CEntity.txt_:\\0123456789";

// Japanese user-interface faces, tried after the ones a control names.
constexpr const wchar_t* kJapaneseFaces[] = {
    L"Meiryo UI",          L"Yu Gothic UI", L"Meiryo",           L"Yu Gothic",
    L"MS UI Gothic",       L"MS PGothic",   L"MS Gothic",        L"IPAPGothic",
    L"IPAGothic",          L"IPAexGothic",  L"Noto Sans CJK JP", L"Noto Sans JP",
    L"Source Han Sans JP", L"VL PGothic",   L"VL Gothic",        L"TakaoPGothic",
    L"TakaoGothic"};

// Faces for the window's Latin texts where no face has its Japanese ones, fixed-pitch ones first
// for the fixed font: faces of ordinary line heights that Windows or Linux desktops have.
constexpr const wchar_t* kLatinFaces[] = {L"Tahoma",   L"Segoe UI",    L"MS Shell Dlg 2",
                                          L"Arial",    L"DejaVu Sans", L"Liberation Sans",
                                          L"Noto Sans"};
constexpr const wchar_t* kLatinFixedFaces[] = {L"Consolas", L"Courier New", L"DejaVu Sans Mono",
                                               L"Liberation Mono", L"Noto Sans Mono"};
constexpr wchar_t kLatinTexts[] = L"(F)(E)(H)CEntity.txt_:\\0123456789.html";

HFONT CreateFace(const wchar_t* face, int pixels, BYTE pitch, BYTE charSet = SHIFTJIS_CHARSET) {
  LOGFONTW font{};
  font.lfHeight = -pixels;
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = charSet;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = pitch;
  std::wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
  return ::CreateFontIndirectW(&font);
}

// Whether the font has a glyph for every character of the texts and draws "_" inside its line (a
// face whose underscore falls below the line shows "shift jis"), in a line of about the pixels
// asked for (a face with the tall lines of mathematics would push captions out of their bars).
bool ShowsTexts(HFONT font, std::wstring_view texts, int pixels) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ oldFont = ::SelectObject(dc, font);
  const int length = static_cast<int>(texts.size());
  std::vector<WORD> glyphs(texts.size());
  bool shows = ::GetGlyphIndicesW(dc, texts.data(), length, glyphs.data(),
                                  GGI_MARK_NONEXISTING_GLYPHS) == static_cast<DWORD>(length) &&
               std::find(glyphs.begin(), glyphs.end(), WORD{0xFFFF}) == glyphs.end();
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  shows = shows && metrics.tmHeight <= pixels + pixels / 2 + 2;
  if (shows) {
    const int width = 2 * metrics.tmMaxCharWidth + 4, height = metrics.tmHeight;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
      HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
      RECT all{0, 0, width, height};
      ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
      ::SetBkMode(dc, TRANSPARENT);
      ::SetTextColor(dc, RGB(0, 0, 0));
      ::ExtTextOutW(dc, 2, 0, ETO_CLIPPED, &all, L"_", 1, nullptr);
      ::GdiFlush();
      const auto* pixels = static_cast<const std::uint32_t*>(bits);
      shows = std::any_of(pixels, pixels + width * height,
                          [](std::uint32_t pixel) { return (pixel & 0xFFFFFF) != 0xFFFFFF; });
      ::SelectObject(dc, oldBitmap);
      ::DeleteObject(bitmap);
    }
  }
  ::SelectObject(dc, oldFont);
  ::DeleteDC(dc);
  return shows;
}

// The faces the system enumerates with the Shift-JIS character set.
std::vector<std::wstring> ShiftJisFaces() {
  LOGFONTW wanted{};
  wanted.lfCharSet = SHIFTJIS_CHARSET;
  std::vector<std::wstring> faces;
  HDC dc = ::GetDC(nullptr);
  ::EnumFontFamiliesExW(
      dc, &wanted,
      [](const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM faces) -> int {
        // Vertical faces ("@...") draw turned; they are no face for a line of text.
        if (font->lfFaceName[0] != L'@') {
          reinterpret_cast<std::vector<std::wstring>*>(faces)->push_back(font->lfFaceName);
        }
        return 1;
      },
      reinterpret_cast<LPARAM>(&faces), 0);
  ::ReleaseDC(nullptr, dc);
  return faces;
}

// The first face that shows the window's texts whole: the named ones, then Japanese UI faces by
// name, then any Shift-JIS face the system has; a size larger by a pixel or two where none does
// at the size asked for; where none does at all, a common Latin face; the default GUI font's face
// as the last resort. The fixed font keeps to
// fixed-pitch faces while it can.
}  // namespace

HFONT MakeFont(std::initializer_list<const wchar_t*> named, int pixels, bool fixed,
               std::wstring_view texts) {
  std::vector<std::wstring> faces(named.begin(), named.end());
  faces.insert(faces.end(), std::begin(kJapaneseFaces), std::end(kJapaneseFaces));
  const std::vector<std::wstring> enumerated = ShiftJisFaces();
  faces.insert(faces.end(), enumerated.begin(), enumerated.end());
  const BYTE pitch = fixed ? FIXED_PITCH | FF_MODERN : DEFAULT_PITCH | FF_DONTCARE;
  for (int grown = 0; grown <= 2; ++grown) {
    for (const std::wstring& face : faces) {
      HFONT font = CreateFace(face.c_str(), pixels + grown, pitch);
      if (font != nullptr && ShowsTexts(font, texts, pixels + grown)) return font;
      ::DeleteObject(font);
    }
  }
  // No face shows the Japanese texts: one that shows the Latin ones, which a system without
  // Japanese fonts must still read.
  std::vector<const wchar_t*> latin;
  if (fixed) latin.assign(std::begin(kLatinFixedFaces), std::end(kLatinFixedFaces));
  latin.insert(latin.end(), std::begin(kLatinFaces), std::end(kLatinFaces));
  for (const wchar_t* face : latin) {
    HFONT font = CreateFace(face, pixels, pitch, DEFAULT_CHARSET);
    if (font != nullptr && ShowsTexts(font, kLatinTexts, pixels)) return font;
    ::DeleteObject(font);
  }
  LOGFONTW font{};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
  font.lfHeight = -pixels;
  font.lfWidth = 0;
  return ::CreateFontIndirectW(&font);
}

UINT DpiOf(HWND hwnd) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr) {
    const UINT dpi = getDpiForWindow(hwnd);
    if (dpi != 0) return dpi;
  }
  HDC dc = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(nullptr, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void SetFont(HWND control, HFONT font, bool redraw) {
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
}

WindowFonts::~WindowFonts() {
  for (HFONT font : fonts_) ::DeleteObject(font);
}

void WindowFonts::Build(UINT dpi) {
  HFONT old[kKinds];
  std::copy(std::begin(fonts_), std::end(fonts_), std::begin(old));
  fonts_[kForm] =
      MakeFont({L"ＭＳ Ｐゴシック", L"MS PGothic"}, ScaledTo(12, dpi), false, kWindowTexts);
  fonts_[kUi] = MakeFont({L"MS UI Gothic"}, ScaledTo(12, dpi), false, kWindowTexts);
  fonts_[kFixed] =
      MakeFont({L"ＭＳ ゴシック", L"MS Gothic"}, ScaledTo(12, dpi), true, kWindowTexts);
  for (const auto& [control, kind] : users_) SetFont(control, fonts_[kind], true);
  for (HFONT font : old) {
    if (font != nullptr) ::DeleteObject(font);
  }
}

void WindowFonts::Use(HWND control, Kind kind) {
  SetFont(control, fonts_[kind]);
  users_.emplace_back(control, kind);
}

}  // namespace tavrin
