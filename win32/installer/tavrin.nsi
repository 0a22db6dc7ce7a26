; The Windows installer: tavrin.exe, tavrin-convert.exe, the example tables and pages, README,
; LICENSE, CHANGELOG.md, NOTICES.txt, a Start-menu shortcut, an entry in Explorer's "Send to"
; menu and an uninstaller, for the current user only (no administrator rights).
; Built by scripts/package-windows.sh, which defines:
;   VERSION  the program's version (2.0.0.1)
;   STAGE    the folder holding the files to install
;   FILES    a generated list of File commands for STAGE's examples
;   UNFILES  the matching Delete and RMDir commands for the uninstaller
;   LICENSE  the licence shown before installing (LICENSE with Windows' line ends)
;   ICON     the program icon
;   OUTFILE  the installer to write
Unicode true
; The programs are 64-bit; so is the installer (which a Wine without 32-bit support also runs).
Target amd64-unicode
!include "MUI2.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\tavrin"

Name "tavrin ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\tavrin"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ManifestDPIAware true
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductName" "tavrin"
VIAddVersionKey /LANG=1041 "FileDescription" "tavrin セットアップ"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "LegalCopyright" "Copyright (c) 2026 the tavrin authors; MIT licence"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

Section "tavrin"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${STAGE}\tavrin.exe"
  File "${STAGE}\tavrin-convert.exe"
  File "${STAGE}\README.md"
  File "${STAGE}\LICENSE"
  File "${STAGE}\CHANGELOG.md"
  File "${STAGE}\NOTICES.txt"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The program reads CEntity.txt from its current folder: the shortcut starts it in the
  ; Shift-JIS examples, whose table matches the ANSI code page of a Japanese Windows, so the
  ; first start finds a table and the samples convert and preview as they should.
  SetOutPath "$INSTDIR\examples\shift_jis"
  CreateShortcut "$SMPROGRAMS\tavrin.lnk" "$INSTDIR\tavrin.exe"
  ; Explorer's "Send to" passes the chosen files to the program, which lists them.
  CreateShortcut "$SENDTO\tavrin.lnk" "$INSTDIR\tavrin.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "tavrin"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tavrin.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what was installed, file by file: outputs the user wrote beside the examples stay, and
; so do the folders holding them.
Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\tavrin.lnk"
  Delete "$SENDTO\tavrin.lnk"
  !include "${UNFILES}"
  Delete "$INSTDIR\tavrin.exe"
  Delete "$INSTDIR\tavrin-convert.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE"
  Delete "$INSTDIR\CHANGELOG.md"
  Delete "$INSTDIR\NOTICES.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  ; The folder of per-user programs, which the install makes where it is missing, goes too when
  ; the default place was used and the folder is left empty.
  StrCmp "$INSTDIR" "$LOCALAPPDATA\Programs\tavrin" 0 +2
    RMDir "$LOCALAPPDATA\Programs"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
