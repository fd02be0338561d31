; Vellumo setup: installs vellumo.exe, corvane.dll, the filter pack and the
; help file, registers the DLLs through their own DllRegisterServer (each with
; the regsvr32 of its own bitness), and writes the shortcuts and the "Add or
; remove programs" entry.
;
; makensis -DVERSION=1.0.0 -DBINDIR64=<folder of the x64 binaries>
;          -DBINDIR32=<folder of the x86 binaries>
;          -DOUTFILE=<setup.exe> [-DICON=<vellumo.ico>] vellumo.nsi
;
; The setup program is itself a 32-bit program, so that every Windows starts it.
;   64-bit Windows (x64, and ARM64 through its x64 emulation): the 64-bit
;     program and control-and-pack set in the install folder, the 32-bit
;     control and pack in its subfolder "x86", for 32-bit hosts (VB6, 32-bit
;     Office, script hosts). One folder to lock down and one uninstaller for
;     both sets; /D= still names the one folder of the installation.
;   32-bit Windows: the 32-bit set, program included, in the install folder.
; Registry entries of our own (uninstall entry, Explorer verb) go to the
; 64-bit view of a 64-bit Windows, once; each set's registration goes to the
; view of its own bitness.
;
; Command line of the setup program:    /S (silent)  /D=<folder> (last, unquoted)
; Command line of uninstall.exe:        /S (silent)  /REMOVESETTINGS
;   A silent uninstall keeps settings.ini (and the user's own copy under
;   %APPDATA%\Vellumo) unless /REMOVESETTINGS is given; an interactive one asks.
; Exit codes: 2 unsupported machine, 3 a DLL could not be registered, 4 the
; folder is refused, 5 the folder could not be given to administrators.
;
; The install folder belongs to administrators: outside Program Files its
; owner becomes Administrators and it gets exactly Administrators and SYSTEM
; full control and Users read and execute, nothing inherited, before any file
; is written; an existing folder that holds anything but Vellumo's own files,
; or is a link, is refused.
; An upgrade never runs code from the installed version's folder (its
; uninstaller or its DLLs): that folder may be one a standard user could
; write. This setup program knows every file and registry entry of the
; earlier versions and removes or takes them over itself.

Unicode true
Target x86-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef BINDIR64
  !error "BINDIR64 is not defined"
!endif
!ifndef BINDIR32
  !error "BINDIR32 is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "vellumo-setup-${VERSION}.exe"
!endif
; Native machines served (IMAGE_FILE_MACHINE_* values): x86 gets the 32-bit
; set; x64, and ARM64 (x64 emulation), get both. A build may narrow them to
; check the refusal of any other machine.
!define /ifndef MACHINE_IA32 332
!define /ifndef MACHINE_X64 34404
!define /ifndef MACHINE_ARM64 43620

!define PRODUCT "Vellumo"
!define PUBLISHER "Vellumo"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellumo"
!define UNINSTALLER "uninstall.exe"
!define X86_FOLDER "x86"
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
; $PROGRAMFILES64 is the native Program Files folder on both kinds of Windows.
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
; 1 on a 64-bit Windows (both sets), 0 on a 32-bit one (the 32-bit set only).
Var Wide

; Sets $Wide from the native machine; stops on a machine that runs neither
; set (exit code 2) before anything has changed.
!macro FindWindowsKind
  ${GetNativeMachineArchitecture} $0
  ${If} $0 == ${MACHINE_X64}
  ${OrIf} $0 == ${MACHINE_ARM64}
    StrCpy $Wide 1
    SetRegView 64
  ${ElseIf} $0 == ${MACHINE_IA32}
    StrCpy $Wide 0
  ${Else}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} does not run on this computer's processor (machine type $0).$\r$\nNothing has been installed." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
!macroend

!include "${__FILEDIR__}\folder.nsh"
!include "${__FILEDIR__}\registration.nsh"

Function .onInit
  !insertmacro FindWindowsKind
  SetShellVarContext all
  ; An earlier installation: the default folder is where it is.
  ReadRegStr $PreviousFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $PreviousFolder != ""
  ${AndIf} ${FileExists} "$PreviousFolder\*.*"
    ; /D= on the command line has already set $INSTDIR and wins.
    ${If} $INSTDIR == "$PROGRAMFILES64\${PRODUCT}"
      StrCpy $INSTDIR $PreviousFolder
    ${EndIf}
  ${Else}
    StrCpy $PreviousFolder ""
  ${EndIf}
FunctionEnd

; Leaving the folder page: a refused folder keeps the user on the page.
Function CheckInstallFolder
  Call FindFolderRefusal
  ${If} $FolderRefusal != ""
    MessageBox MB_OK|MB_ICONSTOP "$FolderRefusal"
    Abort
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

; Upgrade: the installed version's files go and its registration is taken
; over by the new one, without running anything from its folder; settings.ini
; stays, or moves along into a new folder.
Function RemovePreviousInstallation
  ${If} $PreviousFolder == ""
    Return
  ${EndIf}
  DetailPrint "Removing the installed version from $PreviousFolder"
  ${If} $PreviousFolder != $INSTDIR
    Call TakeOverPackRegistration
  ${EndIf}
  ${If} $PreviousFolder == $INSTDIR
    Return  ; its files go with those of the new folder
  ${EndIf}
  ; A folder that became a link points elsewhere: nothing there is ours.
  StrCpy $R1 $PreviousFolder
  Call IsLink
  ${If} $R2 == 1
    Return
  ${EndIf}
  StrCpy $R0 $PreviousFolder
  Call RemoveProductFiles
  ${If} ${FileExists} "$PreviousFolder\settings.ini"
  ${AndIfNot} ${FileExists} "$INSTDIR\settings.ini"
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

  CreateDirectory "$INSTDIR"
  Call RestrictInstallFolder
  Call RemovePreviousInstallation
  ; Files of Vellumo's names that no installation put there are not reused.
  StrCpy $R0 $INSTDIR
  Call RemoveProductFiles
  Call RenewSettingsFile

  SetOutPath "$INSTDIR"
  ${If} $Wide == 1
    File "${BINDIR64}\vellumo.exe"
    File "${BINDIR64}\corvane.dll"
    File "${BINDIR64}\vellumo_filters.dll"
    SetOutPath "$INSTDIR\${X86_FOLDER}"
    File "${BINDIR32}\corvane.dll"
    File "${BINDIR32}\vellumo_filters.dll"
    SetOutPath "$INSTDIR"
  ${Else}
    File "${BINDIR32}\vellumo.exe"
    File "${BINDIR32}\corvane.dll"
    File "${BINDIR32}\vellumo_filters.dll"
  ${EndIf}
  File "${BINDIR64}\vellumo.chm"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The filter pack first: it decides at registration which platform
  ; filters it stands in for; the converter needs the filters, not the reverse.
  ${If} $Wide == 1
    !insertmacro RegisterSet "" 64 "$INSTDIR"
    !insertmacro RegisterSet "" 32 "$INSTDIR\${X86_FOLDER}"
  ${Else}
    !insertmacro RegisterSet "" 32 "$INSTDIR"
  ${EndIf}

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
  !insertmacro FindWindowsKind
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
  ${If} $Wide == 1
    !insertmacro RegisterSet "un." 32 "$INSTDIR\${X86_FOLDER}"
    !insertmacro RegisterSet "un." 64 "$INSTDIR"
    SetRegView 32
    !insertmacro DeleteEmptyCategoryInstance
    SetRegView 64
  ${Else}
    !insertmacro RegisterSet "un." 32 "$INSTDIR"
  ${EndIf}
  !insertmacro DeleteEmptyCategoryInstance

  StrCpy $R0 $INSTDIR
  Call un.RemoveProductFiles
  ${If} $RemoveSettings == 1
    Delete "$INSTDIR\settings.ini"
    ; The copy the program keeps for a user who cannot write its folder.
    SetShellVarContext current
    Delete "$APPDATA\${PRODUCT}\settings.ini"
    RMDir "$APPDATA\${PRODUCT}"
    SetShellVarContext all
  ${EndIf}
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
