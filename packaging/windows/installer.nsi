; The Windows installer: a per-user install that needs no administrator,
; into %LOCALAPPDATA%\Programs\Zarn Bandwidth, with a Start-menu shortcut and
; an entry in the user's list of installed programs. The uninstaller takes
; away what the installer and the "Startup with windows" option put there and
; nothing of the user's: the settings key and the usage history stay, also
; when a newer version is installed over an older one.
;
; makensis /DVERSION=1.3.0 /DPROGRAM=ZarnBandwidth.exe /DLICENSE_FILE=LICENSE
;          /DNOTICES_FILE=THIRD-PARTY-NOTICES.txt /DOUTFILE=setup.exe installer.nsi

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh
!include StrFunc.nsh
!include WinMessages.nsh

${UnStrStr}

!define APP "Zarn Bandwidth"
!define PUBLISHER "ZarnDev"
!define EXE "ZarnBandwidth.exe"
!define UNINSTALLER "Uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\${APP}.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZarnBandwidth"
; Written by the program's "Startup with windows" option.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "ZarnBandwidth"
; The main window's title, for finding a running copy.
!define MAIN_TITLE "Bandwidth Monitor"
!define KEPT "Your settings (HKCU\Software\ZarnDev\Zarn Bandwidth) and usage history ($LOCALAPPDATA\ZarnDev\Zarn Bandwidth) are kept."

Name "${APP}"
OutFile "${OUTFILE}"
; makensis works in this folder.
Icon "ZarnBandwidth.ico"
UninstallIcon "ZarnBandwidth.ico"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${APP}"
; An earlier install is updated where it is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${APP} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "GPL-3.0-or-later"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; A running copy holds its program file, and its usage history saves only
; when it ends: close it through its main window, whose close box ends the
; program after a last save, and wait until the file can be replaced. Only
; windows of that title whose process runs a ZarnBandwidth.exe count. A copy
; hidden in the tray may have no such window yet; then the user is asked to
; end it, and a silent run ends it outright (losing at most the five minutes
; of counts since its last save).
!macro END_RUNNING_COPY un
Function ${un}EndRunningCopy
  StrCpy $0 0
  StrCpy $7 ""
  ${Do}
    FindWindow $0 "" "${MAIN_TITLE}" "" $0
    ${If} $0 = 0
      ${ExitDo}
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r3)'
    ; PROCESS_QUERY_LIMITED_INFORMATION
    System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r3) p .r4'
    System::Call 'kernel32::QueryFullProcessImageNameW(p r4, i 0, w .r5, *i ${NSIS_MAX_STRLEN})'
    System::Call 'kernel32::CloseHandle(p r4)'
    ; The last 17 characters: the file name, as long as "${EXE}".
    StrCpy $5 $5 "" -17
    ${If} $5 == "${EXE}"
      ${If} $7 == ""
        MessageBox MB_OKCANCEL|MB_ICONINFORMATION \
          "${APP} is running. It will be closed (its usage history is saved first)." \
          /SD IDOK IDOK close
        Abort
      close:
        StrCpy $7 asked
      ${EndIf}
      DetailPrint "Closing the running ${APP}"
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${EndIf}
  ${Loop}
  StrCpy $1 0
  ${Do}
    ${IfNot} ${FileExists} "$INSTDIR\${EXE}"
      Return
    ${EndIf}
    ClearErrors
    FileOpen $2 "$INSTDIR\${EXE}" a
    ${IfNot} ${Errors}
      FileClose $2
      Return
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 > 20
      ${If} ${Silent}
        DetailPrint "Ending the running ${APP}"
        nsExec::Exec 'taskkill /F /IM ${EXE}'
        Pop $2
        Sleep 1000
        Return
      ${EndIf}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "${APP} is still running. Choose E&xit in its tray menu, then Retry." \
        IDRETRY retry
      Abort
    retry:
      StrCpy $1 0
    ${EndIf}
    Sleep 500
  ${Loop}
FunctionEnd
!macroend
!insertmacro END_RUNNING_COPY ""
!insertmacro END_RUNNING_COPY "un."

Section "Install"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  Call EndRunningCopy
  File "/oname=${EXE}" "${PROGRAM}"
  File "/oname=LICENSE.txt" "${LICENSE_FILE}"
  File "/oname=THIRD-PARTY-NOTICES.txt" "${NOTICES_FILE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  DetailPrint "${KEPT}"
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Call un.EndRunningCopy
  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only if empty: what the user put there stays.
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; Only the value that starts this copy: a portable copy elsewhere may own it.
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${UnStrStr} $1 $0 "$INSTDIR\${EXE}"
  ${If} $1 != ""
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
  DetailPrint "${KEPT}"
SectionEnd

Function un.onUninstSuccess
  MessageBox MB_OK|MB_ICONINFORMATION "${APP} was removed. ${KEPT}" /SD IDOK
FunctionEnd
