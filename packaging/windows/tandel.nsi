; The TANDEL installer for 64-bit Windows 10 and later.
;   makensis -DVERSION=1.0.0 -DBUILD=build-windows -DOUTFILE=setup.exe -DICON=tandel.ico
;            -DFILES=build-windows/installer-files.nsh tandel.nsi
; FILES defines the macros TANDEL_INSTALL_FILES and TANDEL_REMOVE_FILES: the programs, their
; DLLs and Qt's plugins, all below BUILD. The uninstaller removes exactly those, the Start-menu
; entry and its registry keys; the users' working folders (%USERPROFILE%\TANDEL) stay.
; /S installs (and the uninstaller's /S removes) without a page.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include x64.nsh
!include LogicLib.nsh
!include ${FILES}

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TANDEL"

Name "TANDEL ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\TANDEL"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "TANDEL ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1045 "ProductName" "TANDEL"
VIAddVersionKey /LANG=1045 "CompanyName" "Quorvant"
VIAddVersionKey /LANG=1045 "FileDescription" "Instalator programu TANDEL"
VIAddVersionKey /LANG=1045 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1045 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1045 "LegalCopyright" "Quorvant"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\tandel.exe"
!define MUI_FINISHPAGE_RUN_PARAMETERS "--home"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Polish"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "TANDEL wymaga 64-bitowego systemu Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "TANDEL"
  !insertmacro TANDEL_INSTALL_FILES
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The entry starts the window in the user's own working folder: tandel.exe --home makes
  ; %USERPROFILE%\TANDEL on its first start, with the example init.cfg.
  CreateShortCut "$SMPROGRAMS\TANDEL.lnk" "$INSTDIR\tandel.exe" "--home" "$INSTDIR\tandel.exe" 0 \
    SW_SHOWNORMAL "" "TANDEL - LiveUpdate i programowanie urządzeń Quorvant II"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "TANDEL"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorvant"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tandel.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  !insertmacro TANDEL_REMOVE_FILES
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\TANDEL.lnk"
  ; Only when empty: a file the user put there stays, and so does the folder holding it.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
