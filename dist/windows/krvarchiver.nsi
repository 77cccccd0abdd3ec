; The installer of KrvArchiver for the counting PC. scripts/windows-build.sh makes it with
; makensis from the program folder it staged:
;   makensis -DSTAGE=<folder> -DFILES=<install list> -DUNFILES=<uninstall list>
;            -DVERSION=<x.y> -DOUTFILE=<setup.exe> krvarchiver.nsi
; Lab IT installs it silently with "KrvArchiver-setup.exe /S" (and /D=folder to choose
; the folder); "Uninstall.exe /S" removes it silently.

; A 64-bit installer: the program is 64-bit, and a 64-bit installer sees the real Program
; Files and registry without redirection.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "x64.nsh"

Name "KrvArchiver"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\KrvArchiver"
InstallDirRegKey HKLM "Software\KrvArchiver" "InstallDir"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "KrvArchiver"
VIAddVersionKey "FileDescription" "KrvArchiver installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "KrvArchiver developers, Apache-2.0"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KrvArchiver"

!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    ${IfNot} ${RunningX64}
        MessageBox MB_OK "KrvArchiver needs 64-bit Windows." /SD IDOK
        Abort
    ${EndIf}
    SetRegView 64
FunctionEnd

Function un.onInit
    SetRegView 64
FunctionEnd

Section "KrvArchiver"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    !include "${FILES}"
    ; Tells the program it was installed: it then keeps its settings files in the user's
    ; %APPDATA%\KrvArchiver, since Program Files is not the user's to write.
    FileOpen $0 "$INSTDIR\krvarchiver.installed" w
    FileClose $0
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateDirectory "$SMPROGRAMS\KrvArchiver"
    CreateShortCut "$SMPROGRAMS\KrvArchiver\KrvArchiver.lnk" "$INSTDIR\krvarchiver.exe"
    WriteRegStr HKLM "Software\KrvArchiver" "InstallDir" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "KrvArchiver"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "KrvArchiver developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\krvarchiver.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there goes: settings files and results databases that a
; user or an administrator left in the folder stay, and so does the folder holding them.
Section "Uninstall"
    SetShellVarContext all
    !include "${UNFILES}"
    Delete "$INSTDIR\krvarchiver.installed"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\KrvArchiver\KrvArchiver.lnk"
    RMDir "$SMPROGRAMS\KrvArchiver"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegKey HKLM "Software\KrvArchiver"
SectionEnd
