; QvLink installer: the RP1210 library and its driver for 32- and 64-bit applications, the
; sample settings files (never over a user's own) and QvLink Setup.
; Built by installer/build.sh, which passes VERSION, WIN32_BIN, WIN64_BIN, INI_DIR and OUTFILE.
Unicode false  ; RP121032.ini and the settings files stay plain ANSI, as applications read them
!include LogicLib.nsh
!include x64.nsh

!ifndef VERSION | WIN32_BIN | WIN64_BIN | INI_DIR | OUTFILE
  !error "define VERSION, WIN32_BIN, WIN64_BIN, INI_DIR and OUTFILE (see installer/build.sh)"
!endif

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QvLink"
!define RP1210_INI "$WINDIR\RP121032.ini"
!define API_NAME "QV121032"
; Both the installer and the uninstaller take it, so neither runs beside the other.
!define MUTEX_NAME "QvLinkInstallerRunning"
; Longer than NSIS strings hold: the list would come back cut, so it is left alone.
!define MAX_LIST_CHARS 900

Name "QvLink ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\QvLink"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "QvLink"
VIAddVersionKey "FileDescription" "QvLink installer: RP1210 library, driver and setup program"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "QvLink"
VIAddVersionKey "LegalCopyright" "QvLink"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!macro RefuseSecondRun
  System::Call 'kernel32::CreateMutexA(p 0, i 0, t "${MUTEX_NAME}") p .r0 ?e'
  Pop $1
  ${If} $1 = 183  ; ERROR_ALREADY_EXISTS
    MessageBox MB_OK|MB_ICONSTOP "Another QvLink installer or uninstaller is running. Try again when it has finished." /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
!macroend

; WithoutOurs: $0 = an APIImplementations list. Gives $1 = the list without QV121032 (the other
; entries as written, joined by commas) and $2 = 1 when QV121032 was in it.
!macro WithoutOursFunction PREFIX
Function ${PREFIX}WithoutOurs
  Push $3
  Push $4
  Push $5
  Push $6
  StrCpy $1 ""
  StrCpy $2 0
  StrCpy $3 $0
  ${DoWhile} $3 != ""
    ; $6 = the text up to the next comma, $3 = the rest after it
    StrCpy $4 0
    ${Do}
      StrCpy $5 $3 1 $4
      ${If} $5 == ""
      ${OrIf} $5 == ","
        ${ExitDo}
      ${EndIf}
      IntOp $4 $4 + 1
    ${Loop}
    StrCpy $6 $3 $4
    IntOp $4 $4 + 1
    StrCpy $3 $3 "" $4
    ; $4 = the entry without surrounding blanks
    StrCpy $4 $6
    ${Do}
      StrCpy $5 $4 1
      ${IfThen} $5 != " " ${|} ${ExitDo} ${|}
      StrCpy $4 $4 "" 1
    ${Loop}
    ${Do}
      StrCpy $5 $4 "" -1
      ${IfThen} $5 != " " ${|} ${ExitDo} ${|}
      StrCpy $4 $4 -1
    ${Loop}
    ${If} $4 == "${API_NAME}"  ; names compare without case, as Windows file names do
      StrCpy $2 1
    ${ElseIf} $4 != ""
      ${If} $1 == ""
        StrCpy $1 $6
      ${Else}
        StrCpy $1 "$1,$6"
      ${EndIf}
    ${EndIf}
  ${Loop}
  Pop $6
  Pop $5
  Pop $4
  Pop $3
FunctionEnd
!macroend
!insertmacro WithoutOursFunction ""
!insertmacro WithoutOursFunction "un."

Function .onInit
  !insertmacro RefuseSecondRun
FunctionEnd

Function un.onInit
  !insertmacro RefuseSecondRun
FunctionEnd

Section "QvLink"
  SetShellVarContext all

  ; A 32-bit installer's $SYSDIR is SysWOW64 on 64-bit Windows and System32 on 32-bit Windows:
  ; where 32-bit applications load DLLs by name.
  SetOutPath $SYSDIR
  File "${WIN32_BIN}/QV121032.dll"
  File "${WIN32_BIN}/QV_API.dll"
  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
    SetOutPath $SYSDIR
    File "${WIN64_BIN}/QV121032.dll"
    File "${WIN64_BIN}/QV_API.dll"
    ${EnableX64FSRedirection}
  ${EndIf}

  ; A user's settings (the paired adapter, the filters) are never replaced.
  SetOutPath $WINDIR
  SetOverwrite off
  File "${INI_DIR}/QV121032.ini"
  File "${INI_DIR}/QvFilter.ini"
  SetOverwrite on

  SetOutPath $INSTDIR
  File "${WIN32_BIN}/QvLink Setup.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\QvLink"
  CreateShortcut "$SMPROGRAMS\QvLink\QvLink Setup.lnk" "$INSTDIR\QvLink Setup.exe"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "QvLink ${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "QvLink"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\QvLink Setup.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1

  ; RP1210 applications find installed APIs through this list; other vendors' entries stay.
  ReadINIStr $0 "${RP1210_INI}" "RP1210Support" "APIImplementations"
  StrLen $3 $0
  ${If} $3 > ${MAX_LIST_CHARS}
    DetailPrint "RP121032.ini: the APIImplementations list is too long to edit; add ${API_NAME} to it by hand"
  ${Else}
    Call WithoutOurs
    ${If} $2 = 0
      ${If} $1 == ""
        StrCpy $1 "${API_NAME}"
      ${Else}
        StrCpy $1 "$1,${API_NAME}"
      ${EndIf}
      WriteINIStr "${RP1210_INI}" "RP1210Support" "APIImplementations" $1
      FlushINI "${RP1210_INI}"
    ${EndIf}
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext all

  ReadINIStr $0 "${RP1210_INI}" "RP1210Support" "APIImplementations"
  StrLen $3 $0
  ${If} $3 <= ${MAX_LIST_CHARS}
    Call un.WithoutOurs
    ${If} $2 = 1
      ${If} $1 == ""
        DeleteINIStr "${RP1210_INI}" "RP1210Support" "APIImplementations"
      ${Else}
        WriteINIStr "${RP1210_INI}" "RP1210Support" "APIImplementations" $1
      ${EndIf}
      FlushINI "${RP1210_INI}"
    ${EndIf}
  ${EndIf}

  ; A DLL still loaded by an application goes at the next restart.
  Delete /REBOOTOK "$SYSDIR\QV121032.dll"
  Delete /REBOOTOK "$SYSDIR\QV_API.dll"
  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
    Delete /REBOOTOK "$SYSDIR\QV121032.dll"
    Delete /REBOOTOK "$SYSDIR\QV_API.dll"
    ${EnableX64FSRedirection}
  ${EndIf}

  Delete "$SMPROGRAMS\QvLink\QvLink Setup.lnk"
  RMDir "$SMPROGRAMS\QvLink"
  Delete "$INSTDIR\QvLink Setup.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINST_KEY}"
  ; QV121032.ini and QvFilter.ini hold the user's pairing and filters: they stay.
SectionEnd
