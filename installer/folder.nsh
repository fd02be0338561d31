; The install folder: which folders are accepted, how one is given to
; administrators, and which files in it are Vellumo's own.

; $R2: 1 when the path is a link (symbolic link, junction, mount point): its
; contents are somewhere else, never ours to check or delete.
!macro IsLinkFunction un
Function ${un}IsLink
  System::Call 'kernel32::GetFileAttributesW(w R1)i.R2'
  ${If} $R2 == -1
    StrCpy $R2 0
  ${Else}
    IntOp $R2 $R2 & 0x400
    ${If} $R2 != 0
      StrCpy $R2 1
    ${EndIf}
  ${EndIf}
FunctionEnd
!macroend
!insertmacro IsLinkFunction ""
!insertmacro IsLinkFunction "un."

; Deletes the files of an installation in the folder $R0 by their names (the
; 32-bit set in its subfolder unless that is a link), never anything else;
; settings.ini stays.
!macro RemoveProductFilesFunction un
Function ${un}RemoveProductFiles
  Delete "$R0\vellumo.exe"
  Delete "$R0\corvane.dll"
  Delete "$R0\vellumo_filters.dll"
  Delete "$R0\vellumo.chm"
  Delete "$R0\${UNINSTALLER}"
  StrCpy $R1 "$R0\${X86_FOLDER}"
  Call ${un}IsLink
  ${If} $R2 == 0
    Delete "$R0\${X86_FOLDER}\corvane.dll"
    Delete "$R0\${X86_FOLDER}\vellumo_filters.dll"
  ${EndIf}
  ; A link goes as a link: RMDir removes it, not what it points to.
  RMDir "$R0\${X86_FOLDER}"
FunctionEnd
!macroend
!insertmacro RemoveProductFilesFunction ""
!insertmacro RemoveProductFilesFunction "un."

; $FolderRefusal: empty when the install may go into $INSTDIR: a folder that
; does not exist yet, or holds nothing but Vellumo's own files (an earlier
; installation, or the settings an uninstall kept), and is no link.
Function FindFolderRefusal
  StrCpy $FolderRefusal ""
  StrCpy $R1 "$INSTDIR"
  Call IsLink
  ${If} $R2 == 1
    StrCpy $FolderRefusal "$INSTDIR is a link to another folder.$\r$\nChoose an empty or a new folder for ${PRODUCT}."
    Return
  ${EndIf}
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
      ${Case} "${X86_FOLDER}"
        Call FindSubfolderRefusal
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

; The 32-bit set's subfolder holds the 32-bit control and filter pack only.
Function FindSubfolderRefusal
  StrCpy $R1 "$INSTDIR\${X86_FOLDER}"
  Call IsLink
  ${If} $R2 == 1
  ${OrIfNot} ${FileExists} "$INSTDIR\${X86_FOLDER}\*.*"
    StrCpy $FolderRefusal "$INSTDIR\${X86_FOLDER} is not a folder of Vellumo's.$\r$\nChoose an empty or a new folder for ${PRODUCT}."
    Return
  ${EndIf}
  FindFirst $2 $3 "$INSTDIR\${X86_FOLDER}\*.*"
  ${DoWhile} $3 != ""
    ${Switch} $3
      ${Case} "."
      ${Case} ".."
      ${Case} "corvane.dll"
      ${Case} "vellumo_filters.dll"
        ${Break}
      ${Default}
        StrCpy $FolderRefusal "$INSTDIR\${X86_FOLDER} holds files that are not Vellumo's.$\r$\nChoose an empty or a new folder for ${PRODUCT}."
        ${Break}
    ${EndSwitch}
    ${If} $FolderRefusal != ""
      ${Break}
    ${EndIf}
    FindNext $2 $3
  ${Loop}
  FindClose $2
FunctionEnd

; Stops the setup program with exit code 5: the folder could not be given
; to administrators ($R9: what failed).
!macro RefuseUnrestrictedFolder
  MessageBox MB_OK|MB_ICONSTOP "The access of $INSTDIR could not be limited to administrators ($R9).$\r$\nNothing has been installed." /SD IDOK
  RMDir "$INSTDIR"
  SetErrorLevel 5
  Quit
!macroend

!macro RunAclTool command
  nsExec::ExecToLog '${command}'
  Pop $R9
  ${If} $R9 != 0
    StrCpy $R9 `${command}: $R9`
    !insertmacro RefuseUnrestrictedFolder
  ${EndIf}
!macroend

; Outside Program Files a folder inherits whatever its parent allows, often
; "Authenticated Users: Modify", and a folder that existed before may belong
; to a standard user who gave himself any rights: the DLLs registered for the
; whole machine, which elevated programs load too, and the uninstaller, which
; runs elevated, would be anyone's to replace. Administrators become the
; owner (takeown), every explicit entry goes (/reset), then the inherited
; ones, leaving exactly the three intended entries. The folder is checked
; once more afterwards: until the last step its old access applied. Whatever
; it held is then deleted and written anew (RemoveProductFiles,
; RenewSettingsFile), so every file in it belongs to administrators and
; inherits the folder's entries.
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
  !insertmacro RunAclTool '"$SYSDIR\takeown.exe" /F "$INSTDIR" /A'
  !insertmacro RunAclTool '"$SYSDIR\icacls.exe" "$INSTDIR" /reset'
  !insertmacro RunAclTool '"$SYSDIR\icacls.exe" "$INSTDIR" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX'
  Call FindFolderRefusal
  ${If} $FolderRefusal != ""
    MessageBox MB_OK|MB_ICONSTOP "$FolderRefusal$\r$\nNothing has been installed." /SD IDOK
    SetErrorLevel 4
    Quit
  ${EndIf}
FunctionEnd

; After RemoveProductFiles: settings.ini, the only file kept, is copied into
; a new file of the folder's own access and replaces the old one; a 32-bit
; subfolder that could not be removed is not one to write into.
Function RenewSettingsFile
  ${If} ${FileExists} "$INSTDIR\${X86_FOLDER}"
    StrCpy $R9 "$INSTDIR\${X86_FOLDER} stays"
    !insertmacro RefuseUnrestrictedFolder
  ${EndIf}
  ${IfNot} ${FileExists} "$INSTDIR\settings.ini"
    Return
  ${EndIf}
  Delete "$INSTDIR\settings.ini.new"
  System::Call 'kernel32::CopyFileW(w "$INSTDIR\settings.ini", w "$INSTDIR\settings.ini.new", i 1)i.r0'
  ${If} $0 == 0
    StrCpy $R9 "settings.ini could not be copied"
    !insertmacro RefuseUnrestrictedFolder
  ${EndIf}
  Delete "$INSTDIR\settings.ini"
  Rename "$INSTDIR\settings.ini.new" "$INSTDIR\settings.ini"
FunctionEnd
