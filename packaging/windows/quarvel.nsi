; The Windows installer: the programs in Program Files, a Start-menu entry for the window, and an
; uninstaller that takes away everything it put there. Built by scripts/windows-installer:
;   makensis -DVERSION=9.11 -DBUILD=<Windows build> -DOUTFILE=<installer.exe> quarvel.nsi
; "/S" installs and uninstalls without asking, "/D=<folder>" (last) picks the folder.

; A 64-bit installer, as the programs are: it runs where they run, and under a 64-bit-only Wine.
Target amd64-unicode
!include "MUI2.nsh"

!define PRODUCT "Quarvel Configuration"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\quarvel-config"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quarvel"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} installer"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "Quarvel"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Quarvel"

!define MUI_ICON "${BUILD}\quarvel-config.ico"
!define MUI_UNICON "${BUILD}\quarvel-config.ico"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Programs"
    SetOutPath "$INSTDIR"
    File "${BUILD}\quarvel-config.exe"
    File "${BUILD}\quarvel-demo.exe"
    File "${BUILD}\tools\ctl\quarvel-ctl.exe"
    File "${BUILD}\tools\plan\quarvel-plan.exe"
    File "${BUILD}\tools\probe\quarvel-probe.exe"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; Every user's Start menu.
    SetShellVarContext all
    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\quarvel-config.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quarvel"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quarvel-config.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there: a folder the user filled is left with its files.
Section "Uninstall"
    SetShellVarContext all
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$INSTDIR\quarvel-config.exe"
    Delete "$INSTDIR\quarvel-demo.exe"
    Delete "$INSTDIR\quarvel-ctl.exe"
    Delete "$INSTDIR\quarvel-plan.exe"
    Delete "$INSTDIR\quarvel-probe.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ; The generators' lock files, which the programs leave for the next one.
    Delete "$APPDATA\quarvel\quarvel-*.lock"
    RMDir "$APPDATA\quarvel"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
