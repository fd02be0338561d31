; Registration of the control-and-pack sets. This setup program is 32-bit and
; cannot load a 64-bit DLL: each set is registered by the regsvr32 of its own
; bitness, the 64-bit one from System32 with the file system redirection of
; this process turned off, the 32-bit one from SysWOW64 (System32 on a 32-bit
; Windows). Each registers into its own registry view.

; $R3: "" to register, "/u" to unregister; $R4: 64 or 32; $R5: the DLL.
; $R7: regsvr32's exit code (0 when done), or "not started".
!macro RegSvrFunction un
Function ${un}RegSvr
  StrCpy $R7 "not started"
  ${If} $R4 == 64
    ${DisableX64FSRedirection}
    ExecWait '"$WINDIR\System32\regsvr32.exe" /s $R3 "$R5"' $R7
    ${EnableX64FSRedirection}
  ${ElseIf} $Wide == 1
    ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /s $R3 "$R5"' $R7
  ${Else}
    ExecWait '"$SYSDIR\regsvr32.exe" /s $R3 "$R5"' $R7
  ${EndIf}
FunctionEnd
!macroend
!insertmacro RegSvrFunction ""
!insertmacro RegSvrFunction "un."

; Registers a DLL; a failure is reported and makes the setup program end
; with exit code 3.
!macro RegisterServer bits dll
  StrCpy $R3 ""
  StrCpy $R4 ${bits}
  StrCpy $R5 "${dll}"
  Call RegSvr
  ${If} $R7 != 0
    DetailPrint "Registration of ${dll} failed ($R7)"
    MessageBox MB_OK|MB_ICONEXCLAMATION "${dll} could not be registered." /SD IDOK
    SetErrorLevel 3
  ${EndIf}
!macroend

!macro UnregisterServer bits dll
  ${If} ${FileExists} "${dll}"
    StrCpy $R3 "/u"
    StrCpy $R4 ${bits}
    StrCpy $R5 "${dll}"
    Call un.RegSvr
    ${If} $R7 != 0
      DetailPrint "Unregistration of ${dll} failed ($R7)"
    ${EndIf}
  ${EndIf}
!macroend

; One set in a folder: the filter pack first when registering, the
; converter first when unregistering. un: "" or "un.".
!macro RegisterSet un bits folder
  !if "${un}" == ""
    !insertmacro RegisterServer ${bits} "${folder}\vellumo_filters.dll"
    !insertmacro RegisterServer ${bits} "${folder}\corvane.dll"
  !else
    !insertmacro UnregisterServer ${bits} "${folder}\corvane.dll"
    !insertmacro UnregisterServer ${bits} "${folder}\vellumo_filters.dll"
  !endif
!macroend

; The filter mapper creates a category's Instance key with its first filter
; and leaves it behind, empty, when the last one goes. The MP3 encoder is
; listed among the audio compressors, whose Instance key a system may lack.
!macro DeleteEmptyCategoryInstance
  DeleteRegKey /ifempty HKLM "Software\Classes\CLSID\${CATEGORY_AUDIO_COMPRESSORS}\Instance"
!macroend

; Every filter class the pack of any version registers: splitter, decoder,
; MP3 encoder, WAV writer, and the ACM wrapper and file writer stand-ins.
!define PACK_CLASSES "{E21BE468-5C18-43EB-B0CC-DB93A847D769} {941A4793-A705-4312-8DFC-C11CA05F397E} {B8D27088-DF5F-4B7C-98DC-0E91A1696286} {3C78B8E2-6C4D-11D1-ADE2-0000F8754B99} {6A08CF80-0E18-11CF-A24D-0020AFD79767} {8596E5F0-0DA5-11D0-BD21-00A0C911CE86}"

; In the current registry view: each pack class whose server is $R5 gets
; the server $R6. The pack treats a class registered to another path as
; another program's and keeps a copy of it to put back at unregistration.
Function MovePackServer
  StrCpy $R8 "${PACK_CLASSES}"
  ${Do}
    StrCpy $R3 $R8 38
    StrCpy $R8 $R8 "" 39
    ReadRegStr $R4 HKLM "Software\Classes\CLSID\$R3\InprocServer32" ""
    ${If} $R4 == $R5
      WriteRegStr HKLM "Software\Classes\CLSID\$R3\InprocServer32" "" $R6
    ${EndIf}
  ${LoopUntil} $R8 == ""
FunctionEnd

; An upgrade into another folder: the pack registered from the previous
; folder is ours, and is registered from the new folder instead, in each view
; (the converter writes its registration over whatever is there).
Function TakeOverPackRegistration
  StrCpy $R5 "$PreviousFolder\vellumo_filters.dll"
  StrCpy $R6 "$INSTDIR\vellumo_filters.dll"
  Call MovePackServer
  ${If} $Wide == 1
    SetRegView 32
    StrCpy $R5 "$PreviousFolder\${X86_FOLDER}\vellumo_filters.dll"
    StrCpy $R6 "$INSTDIR\${X86_FOLDER}\vellumo_filters.dll"
    Call MovePackServer
    SetRegView 64
  ${EndIf}
FunctionEnd
