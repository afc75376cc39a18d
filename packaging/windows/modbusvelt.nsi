; The converter's installer for Windows: one user's installation, no administrator rights. The
; program keeps its settings file beside itself, so it goes into a folder the operator can write:
; %LOCALAPPDATA%\Programs\Modbusvelt. An existing Nastroika.ini is never written over, neither
; on an upgrade nor on a reinstall; uninstalling leaves it where it is.
;
; Built by scripts/package-windows: makensis -DVERSION=... -DEXE=... -DSAMPLE_INI=... -DOUTFILE=...
; A 64-bit installer for a 64-bit program: it runs wherever the program does.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Modbusvelt"
!define CAPTION "Конвертор Modbus -> Velt"
; The Start-menu folder: a file name, where ">" may not stand.
!define MENU "Конвертор Modbus - Velt"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${CAPTION} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An upgrade goes where the last installation went, even if the operator chose another folder.
InstallDirRegKey HKCU "Software\${PRODUCT}" "InstallDir"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\modbusvelt.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

Section "Program"
  ; The shortcuts and the uninstall entry are the user's own, not every user's.
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "/oname=modbusvelt.exe" "${EXE}"
  ; The sample settings only where there are none yet: the operator's own stay as they are.
  ${IfNot} ${FileExists} "$INSTDIR\Nastroika.ini"
    File "/oname=Nastroika.ini" "${SAMPLE_INI}"
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${MENU}"
  CreateShortCut "$SMPROGRAMS\${MENU}\Конвертор.lnk" "$INSTDIR\modbusvelt.exe" "" \
    "$INSTDIR\modbusvelt.exe" 0 "" "" "${CAPTION}"
  CreateShortCut "$SMPROGRAMS\${MENU}\Удалить конвертор.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "Software\${PRODUCT}" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${CAPTION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\modbusvelt.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "$INSTDIR\modbusvelt.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; Nastroika.ini holds the site's channels, ports and passwords: it stays, and so does the
  ; folder that holds it (RMDir removes only an empty folder).
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${MENU}\Конвертор.lnk"
  Delete "$SMPROGRAMS\${MENU}\Удалить конвертор.lnk"
  RMDir "$SMPROGRAMS\${MENU}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\${PRODUCT}"
SectionEnd
