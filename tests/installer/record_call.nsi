; A stand-in for a program the setup program runs (takeown.exe, icacls.exe,
; an earlier version's uninstall.exe): appends the command line it was
; started with to $WINDIR\vellumo-calls.log (UTF-16) and ends with exit code 0.
; 32-bit, so that it runs on every Windows the setup program serves.
;   makensis -DOUTFILE=<record_call.exe> record_call.nsi
Unicode true
Target x86-unicode
RequestExecutionLevel user
SilentInstall silent
OutFile "${OUTFILE}"

Section
  FileOpen $0 "$WINDIR\vellumo-calls.log" a
  FileSeek $0 0 END
  FileWriteUTF16LE $0 "$CMDLINE$\r$\n"
  FileClose $0
SectionEnd
