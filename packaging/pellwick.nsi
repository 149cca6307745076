; The per-user installer of pellwick: no administrator rights; the program goes into
; %LOCALAPPDATA%\Programs\pellwick and its entries into the user's own registry keys.
;   makensis -DVERSION=x.y.z -DSTAGE=<folder of the release files> -DICON=<.ico> -DOUTFILE=<exe>
; Debian's Wine is 64-bit only, and so is the installer, so that it can be tested there.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include MUI2.nsh
!include LogicLib.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\pellwick"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define ID_EXIT 40004
!define SYNCHRONIZE 0x00100000
!define EXIT_WAIT_MS 15000

Name "pellwick ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\pellwick"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "pellwick"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "pellwick ${VERSION} setup"
VIAddVersionKey LegalCopyright "the pellwick developers (MIT licence)"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\pellwick.exe"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running pellwick holds its executable open. Ask it to exit as its menu's Exit does (it
; saves the user's marks on the way) and wait, bounded, until its process has ended.
!macro CloseRunningProgram
  FindWindow $0 "pellwick" "pellwick"
  ${If} $0 <> 0
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2'
    System::Call 'user32::PostMessageW(p r0, i ${WM_COMMAND}, p ${ID_EXIT}, p 0)'
    ${If} $2 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i ${EXIT_WAIT_MS})'
      System::Call 'kernel32::CloseHandle(p r2)'
    ${EndIf}
  ${EndIf}
!macroend

; Earlier versions told users to paste their own certificates into cacert.pem, which an update
; replaces. Every certificate of a shipped bundle follows a "# name" line; any other one in the
; old file is the user's and goes to the end of the user's cacert-local.pem, once, before the
; new bundle takes the old one's place. Authorities dropped from the bundle stay dropped.
Function KeepAddedCertificates
  IfFileExists "$INSTDIR\cacert.pem" 0 done
  ${If} ${FileExists} "$INSTDIR\pellwick.ini"
    StrCpy $R9 "$INSTDIR\cacert-local.pem"
  ${Else}
    CreateDirectory "$APPDATA\pellwick"
    StrCpy $R9 "$APPDATA\pellwick\cacert-local.pem"
  ${EndIf}
  FileOpen $R0 "$INSTDIR\cacert.pem" r
  StrCpy $R1 ""  ; the user's file, opened at the first certificate to keep
  StrCpy $R2 ""  ; the line before
  StrCpy $R3 0   ; 1 while copying a certificate
  ${Do}
    ClearErrors
    FileRead $R0 $R4
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    StrCpy $R5 $R4 27
    StrCpy $R6 $R2 1
    ${If} $R5 S== "-----BEGIN CERTIFICATE-----"
    ${AndIf} $R6 != "#"
      StrCpy $R3 1
      ${If} $R1 == ""
        FileOpen $R1 $R9 a
        FileSeek $R1 0 END
      ${EndIf}
      FileWrite $R1 "$\r$\n"
    ${EndIf}
    ${If} $R3 = 1
      FileWrite $R1 $R4
      StrCpy $R5 $R4 25
      ${If} $R5 S== "-----END CERTIFICATE-----"
        StrCpy $R3 0
        StrCpy $R5 $R4 "" 25
        ${IfThen} $R5 == "" ${|} FileWrite $R1 "$\r$\n" ${|}
      ${EndIf}
    ${EndIf}
    StrCpy $R2 $R4
  ${Loop}
  FileClose $R0
  ${IfThen} $R1 != "" ${|} FileClose $R1 ${|}
  done:
FunctionEnd

Section "pellwick" SectionProgram
  SectionIn RO
  SetShellVarContext current
  !insertmacro CloseRunningProgram
  SetOutPath "$INSTDIR"
  Call KeepAddedCertificates
  File "${STAGE}\pellwick.exe"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  ; Always the bundle of this release: an update drops authorities since removed from it. The
  ; user's own additions live in %APPDATA%\pellwick\cacert-local.pem, which an update only
  ; appends to (above).
  File "${STAGE}\cacert.pem"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\pellwick.lnk" "$INSTDIR\pellwick.exe"
  ; Unticking "Start with Windows" on an update takes the entry away.
  DeleteRegValue HKCU "${RUN_KEY}" "pellwick"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "pellwick"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "the pellwick developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\pellwick.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize ${SectionProgram} $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Start with Windows" SectionAutostart
  WriteRegStr HKCU "${RUN_KEY}" "pellwick" '"$INSTDIR\pellwick.exe"'
SectionEnd

Section "un.pellwick" SectionUninstallProgram
  SectionIn RO
  SetShellVarContext current
  !insertmacro CloseRunningProgram
  Delete "$INSTDIR\pellwick.exe"
  Delete "$INSTDIR\cacert.pem"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: the user may have chosen a folder that holds other things.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\pellwick.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "pellwick"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; Off unless ticked: the settings and marks outlive the program.
Section /o "un.Remove my settings and marks (%APPDATA%\pellwick)" SectionUninstallSettings
  SetShellVarContext current
  RMDir /r "$APPDATA\pellwick"
SectionEnd
