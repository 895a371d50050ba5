; A per-user installer for one sample application, with a silent uninstaller: silent, or with WIZARD
; defined a wizard of two pages that only /S skips.
; Defines: APP_KEY, APP_NAME, APP_VERSION, PROGRAM (the exe to install), OUT_FILE, WIZARD (optional),
; TIME_LOG (optional: a file the installer appends "start TICK KEY" and "exit TICK KEY" lines to).
Unicode true
Target amd64-unicode
!ifdef WIZARD
Page directory
Page instfiles
!else
SilentInstall silent
!endif
SilentUnInstall silent
RequestExecutionLevel user
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP_KEY}"

Name "${APP_NAME}"
OutFile "${OUT_FILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP_KEY}"
VIProductVersion "1.0.0.0"
VIAddVersionKey "ProductName" "${APP_NAME}"
VIAddVersionKey "FileVersion" "${APP_VERSION}"
VIAddVersionKey "FileDescription" "${APP_NAME} 安装程序"
VIAddVersionKey "LegalCopyright" "Quillbox test package"

!ifdef TIME_LOG
!macro LogTick WHAT
  System::Call 'kernel32::GetTickCount() i .r0'
  FileOpen $1 "${TIME_LOG}" a
  FileSeek $1 0 END
  FileWrite $1 "${WHAT} $0 ${APP_KEY}$\r$\n"
  FileClose $1
!macroend
Function .onInit
  !insertmacro LogTick start
FunctionEnd
Function .onInstSuccess
  !insertmacro LogTick exit
FunctionEnd
!endif

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=${APP_KEY}.exe" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${APP_VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Quillbox"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP_KEY}.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\${APP_KEY}.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
