; Vellumo setup: installs vellumo.exe, corvane.dll, the filter pack and the
; help file, registers the two DLLs through their own DllRegisterServer, and
; writes the shortcuts and the "Add or remove programs" entry.
;
; makensis -DVERSION=1.0.0 -DBINDIR=<folder of the built binaries>
;          -DOUTFILE=<setup.exe> [-DICON=<vellumo.ico>] vellumo.nsi
;
; Command line of the setup program:    /S (silent)  /D=<folder> (last, unquoted)
; Command line of uninstall.exe:        /S (silent)  /REMOVESETTINGS
;   A silent uninstall keeps settings.ini (and the user's own copy under
;   %APPDATA%\Vellumo) unless /REMOVESETTINGS is given; an interactive one asks.
;
; The install folder belongs to administrators: outside Program Files it gets
; Administrators and SYSTEM full control and Users read and execute, with no
; inherited write; an existing folder that holds anything but Vellumo's own
; files is refused (exit code 4), as is a folder that cannot be restricted
; (exit code 5).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef BINDIR
  !error "BINDIR is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "vellumo-setup-${VERSION}.exe"
!endif
; Native machines the 64-bit binaries run on: x64, and ARM64 (x64 emulation).
; IMAGE_FILE_MACHINE_* values; a build may narrow them to check the refusal.
!define /ifndef MACHINE_X64 34404
!define /ifndef MACHINE_ARM64 43620

!define PRODUCT "Vellumo"
!define PUBLISHER "Vellumo"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellumo"
!define UNINSTALLER "uninstall.exe"
!define CATEGORY_AUDIO_COMPRESSORS "{33D9A761-90C8-11D0-BD43-00A0C911CE86}"
; Explorer's "Convert with Vellumo" on the RealMedia types and on folders,
; through the per-type association keys: the default program stays as it is.
!define VERB "Vellumo.Convert"
!define VERB_TEXT "Convert with Vellumo"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start Vellumo"
!define MUI_FINISHPAGE_RUN_FUNCTION StartAsUser
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckInstallFolder

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Var PreviousFolder
Var RemoveSettings
Var FolderRefusal

; Stops unless the native machine runs the 64-bit binaries. A 32-bit Windows
; already refuses to start a 64-bit program; this also covers any other
; machine the setup program might find itself on.
!macro RequireSupportedWindows
  ${GetNativeMachineArchitecture} $0
  ${If} $0 != ${MACHINE_X64}
  ${AndIf} $0 != ${MACHINE_ARM64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs a 64-bit version of Windows.$\r$\nThis computer runs a 32-bit Windows; nothing has been installed." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
!macroend

; Calls a DLL's DllRegisterServer; a failure is reported and makes the setup
; program end with exit code 3.
!macro RegisterServer dll
  ClearErrors
  RegDLL "${dll}"
  ${If} ${Errors}
    DetailPrint "Registration of ${dll} failed"
    MessageBox MB_OK|MB_ICONEXCLAMATION "${dll} could not be registered." /SD IDOK
    SetErrorLevel 3
  ${EndIf}
!macroend

!macro UnregisterServer dll
  ${If} ${FileExists} "${dll}"
    ClearErrors
    UnRegDLL "${dll}"
    ${If} ${Errors}
      DetailPrint "Unregistration of ${dll} failed"
    ${EndIf}
  ${EndIf}
!macroend

Function .onInit
  !insertmacro RequireSupportedWindows
  SetRegView 64
  SetShellVarContext all
  ; An earlier installation: the default folder is where it is.
  ReadRegStr $PreviousFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $PreviousFolder != ""
  ${AndIf} ${FileExists} "$PreviousFolder\*.*"
    ; /D= on the command line has already set $INSTDIR and wins.
    ${If} $INSTDIR == "$PROGRAMFILES64\${PRODUCT}"
      StrCpy $INSTDIR $PreviousFolder
    ${EndIf}
  ${EndIf}
FunctionEnd

; $FolderRefusal: empty when the install may go into $INSTDIR: a folder that
; does not exist yet, or holds nothing but Vellumo's own files (an earlier
; installation, or the settings an uninstall kept).
Function FindFolderRefusal
  StrCpy $FolderRefusal ""
  FindFirst $0 $1 "$INSTDIR\*.*"
  ${DoWhile} $1 != ""
    ${Switch} $1
      ${Case} "."
      ${Case} ".."
      ${Case} "vellumo.exe"
      ${Case} "corvane.dll"
      ${Case} "vellumo_filters.dll"
      ${Case} "vellumo.chm"
      ${Case} "${UNINSTALLER}"
      ${Case} "settings.ini"
        ${Break}
      ${Default}
        StrCpy $FolderRefusal "$INSTDIR is not empty and holds no Vellumo installation.$\r$\nChoose an empty or a new folder for ${PRODUCT}."
    ${EndSwitch}
    ${If} $FolderRefusal != ""
      ${Break}
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
FunctionEnd

; Leaving the folder page: a refused folder keeps the user on the page.
Function CheckInstallFolder
  Call FindFolderRefusal
  ${If} $FolderRefusal != ""
    MessageBox MB_OK|MB_ICONSTOP "$FolderRefusal"
    Abort
  ${EndIf}
FunctionEnd

; Outside Program Files a folder inherits whatever its parent allows, often
; "Authenticated Users: Modify": the DLLs registered for the whole machine and
; the uninstaller, which runs elevated, would be anyone's to replace. The
; folder gets its own access list before any file is written into it.
Function RestrictInstallFolder
  GetFullPathName $4 "$INSTDIR"
  StrLen $0 "$PROGRAMFILES64\"
  StrCpy $1 "$4" $0
  StrLen $2 "$PROGRAMFILES\"
  StrCpy $3 "$4" $2
  ${If} $1 == "$PROGRAMFILES64\"
  ${OrIf} $3 == "$PROGRAMFILES\"
    Return
  ${EndIf}
  DetailPrint "Giving $INSTDIR to administrators"
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "The access of $INSTDIR could not be limited to administrators (icacls: $0).$\r$\nNothing has been installed." /SD IDOK
    RMDir "$INSTDIR"
    SetErrorLevel 5
    Quit
  ${EndIf}
FunctionEnd

; The finish page's "Start Vellumo": the shell that runs as the logged-on user
; starts the program, not this elevated setup program.
Function StartAsUser
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\vellumo.exe"'
FunctionEnd

!macro WriteVerb key
  WriteRegStr HKLM "Software\Classes\${key}\shell\${VERB}" "" "${VERB_TEXT}"
  WriteRegStr HKLM "Software\Classes\${key}\shell\${VERB}" "Icon" "$INSTDIR\vellumo.exe,0"
  WriteRegStr HKLM "Software\Classes\${key}\shell\${VERB}\command" "" '"$INSTDIR\vellumo.exe" "%1"'
!macroend

; A key that holds neither subkeys nor values (nor a default value) goes.
!macro DeleteBareKey key
  EnumRegKey $0 HKLM "${key}" 0
  EnumRegValue $1 HKLM "${key}" 0
  ClearErrors
  ReadRegStr $2 HKLM "${key}" ""
  ${If} ${Errors}
  ${AndIf} $0 == ""
  ${AndIf} $1 == ""
    DeleteRegKey HKLM "${key}"
  ${EndIf}
!macroend

; The verb goes, and the keys above it only when the verb was all they held.
!macro DeleteVerb key
  DeleteRegKey HKLM "Software\Classes\${key}\shell\${VERB}"
  !insertmacro DeleteBareKey "Software\Classes\${key}\shell"
  !insertmacro DeleteBareKey "Software\Classes\${key}"
!macroend

; Upgrade: the installed version unregisters and removes itself first
; (silently, which keeps settings.ini), so that one registration remains.
Function RemovePreviousInstallation
  ${If} $PreviousFolder == ""
  ${OrIfNot} ${FileExists} "$PreviousFolder\${UNINSTALLER}"
    Return
  ${EndIf}
  DetailPrint "Removing the installed version from $PreviousFolder"
  ; _?= runs the uninstaller in place and waits for it.
  ExecWait '"$PreviousFolder\${UNINSTALLER}" /S _?=$PreviousFolder' $0
  Delete "$PreviousFolder\${UNINSTALLER}"
  ${If} $PreviousFolder != $INSTDIR
  ${AndIf} ${FileExists} "$PreviousFolder\settings.ini"
  ${AndIfNot} ${FileExists} "$INSTDIR\settings.ini"
    CreateDirectory "$INSTDIR"
    Rename "$PreviousFolder\settings.ini" "$INSTDIR\settings.ini"
  ${EndIf}
  RMDir "$PreviousFolder"
FunctionEnd

Section "Vellumo" SecMain
  SectionIn RO
  ; The folder page checks an interactive choice; this covers /D= as well.
  Call FindFolderRefusal
  ${If} $FolderRefusal != ""
    MessageBox MB_OK|MB_ICONSTOP "$FolderRefusal$\r$\nNothing has been installed." /SD IDOK
    SetErrorLevel 4
    Quit
  ${EndIf}
  Call RemovePreviousInstallation

  CreateDirectory "$INSTDIR"
  Call RestrictInstallFolder
  SetOutPath "$INSTDIR"
  File "${BINDIR}\vellumo.exe"
  File "${BINDIR}\corvane.dll"
  File "${BINDIR}\vellumo_filters.dll"
  File "${BINDIR}\vellumo.chm"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The filter pack first: it decides at registration which platform
  ; filters it stands in for; the converter needs the filters, not the reverse.
  !insertmacro RegisterServer "$INSTDIR\vellumo_filters.dll"
  !insertmacro RegisterServer "$INSTDIR\corvane.dll"

  !insertmacro WriteVerb "SystemFileAssociations\.rm"
  !insertmacro WriteVerb "SystemFileAssociations\.ra"
  !insertmacro WriteVerb "SystemFileAssociations\.ram"
  !insertmacro WriteVerb "SystemFileAssociations\.rmvb"
  !insertmacro WriteVerb "Directory"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Vellumo.lnk" "$INSTDIR\vellumo.exe" "" "$INSTDIR\vellumo.exe" 0
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Vellumo Help.lnk" "$INSTDIR\vellumo.chm"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall Vellumo.lnk" "$INSTDIR\${UNINSTALLER}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vellumo.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveSettings 1
  ${Else}
    StrCpy $RemoveSettings 0
    ${IfNot} ${Silent}
    ${AndIf} ${FileExists} "$INSTDIR\settings.ini"
      MessageBox MB_YESNO|MB_ICONQUESTION "Keep your Vellumo settings (settings.ini) for a later installation?" IDYES +2
      StrCpy $RemoveSettings 1
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; The registration scripts decide what goes: unregister before deleting.
  !insertmacro UnregisterServer "$INSTDIR\corvane.dll"
  !insertmacro UnregisterServer "$INSTDIR\vellumo_filters.dll"
  ; The filter mapper creates a category's Instance key with its first filter
  ; and leaves it behind, empty, when the last one goes. The MP3 encoder is
  ; listed among the audio compressors, whose Instance key a system may lack.
  DeleteRegKey /ifempty HKCR "CLSID\${CATEGORY_AUDIO_COMPRESSORS}\Instance"

  Delete "$INSTDIR\vellumo.exe"
  Delete "$INSTDIR\corvane.dll"
  Delete "$INSTDIR\vellumo_filters.dll"
  Delete "$INSTDIR\vellumo.chm"
  ${If} $RemoveSettings == 1
    Delete "$INSTDIR\settings.ini"
    ; The copy the program keeps for a user who cannot write its folder.
    SetShellVarContext current
    Delete "$APPDATA\${PRODUCT}\settings.ini"
    RMDir "$APPDATA\${PRODUCT}"
    SetShellVarContext all
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\Vellumo.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Vellumo Help.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall Vellumo.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  !insertmacro DeleteVerb "SystemFileAssociations\.rm"
  !insertmacro DeleteVerb "SystemFileAssociations\.ra"
  !insertmacro DeleteVerb "SystemFileAssociations\.ram"
  !insertmacro DeleteVerb "SystemFileAssociations\.rmvb"
  !insertmacro DeleteBareKey "Software\Classes\SystemFileAssociations"
  !insertmacro DeleteVerb "Directory"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
