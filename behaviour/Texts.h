// The window's own texts, in UTF-8, exactly as the user sees them.
#pragma once

namespace tavrin::texts {

inline constexpr const char* kApplicationTitle = "tavrin";

inline constexpr const char* kTaskWaiting = "未処理";
inline constexpr const char* kTaskConverting = "開始";
inline constexpr const char* kTaskConverted = "完了";

inline constexpr const char* kRunStarted = "実行開始";
inline constexpr const char* kRunEnded = "実行終了";
inline constexpr const char* kDeleteStarted = "削除開始";
inline constexpr const char* kDeleteEnded = "削除終了";

inline constexpr const char* kDeleteQuestion = "ファイル群を削除しますか?";
inline constexpr const char* kDeleteCaption = "クッション";
inline constexpr const char* kFolderPrompt = "検索するフォルダを指定してください。";
inline constexpr const char* kTableCaption = "CEntity";
inline constexpr const char* kOutOfMemory = "メモリが不足しています";

// The compiler that built this copy, for the About box's last line; clang's version text already
// starts with its name.
#if defined(__clang__)
inline constexpr const char* kCompiler = __VERSION__;
#elif defined(__GNUC__)
inline constexpr const char* kCompiler = "GCC " __VERSION__;
#else
inline constexpr const char* kCompiler = "C++";
#endif

}  // namespace tavrin::texts
