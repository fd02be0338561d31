' Drives the converter control late-bound from a scripting host: creation
' by ProgID, the initial values, property writes and LoadFile on a missing
' file. Prints one line per failed check and a summary line. (Wine's VBScript
' has no ChrW: non-ASCII text is made with Chr.)
Option Explicit
Dim failures : failures = 0

Sub Check(label, actual, expected)
    If actual <> expected Then
        WScript.Echo "FAIL " & label & ": got " & actual & ", expected " & expected
        failures = failures + 1
    End If
End Sub

Dim conv
Set conv = CreateObject("corvane.AtlHalvex")

Check "Format", conv.Format, 1
Check "MP3_Frequency", conv.MP3_Frequency, 0
Check "MP3_Channels", conv.MP3_Channels, 0
Check "MP3_Bitrate", conv.MP3_Bitrate, 8
Check "MP3_VBR", conv.MP3_VBR, 0
Check "MP3_VBR_MinBitrate", conv.MP3_VBR_MinBitrate, 3
Check "MP3_VBR_MaxBitrate", conv.MP3_VBR_MaxBitrate, 9
Check "WAV_Frequency", conv.WAV_Frequency, 0
Check "WAV_Channels", conv.WAV_Channels, 2
Check "WAV_Bits", conv.WAV_Bits, 1
Check "SaveFile", conv.SaveFile, ""
Check "TotalLength", conv.TotalLength, 0
Check "CurrentLength", conv.CurrentLength, 0

conv.Format = 0
conv.MP3_Bitrate = 13
conv.MP3_VBR = 1
conv.WAV_Channels = 1
Dim outPath : outPath = "C:\out folder\" & Chr(252) & "n" & Chr(239) & "code's.wav"
conv.SaveFile = outPath
Check "Format written", conv.Format, 0
Check "MP3_Bitrate written", conv.MP3_Bitrate, 13
Check "MP3_VBR written", conv.MP3_VBR, 1
Check "WAV_Channels written", conv.WAV_Channels, 1
Check "SaveFile written", conv.SaveFile, outPath

Dim stage
stage = conv.LoadFile("C:\no such folder\missing file.rm")
If stage < 1 Or stage > 3 Then
    WScript.Echo "FAIL LoadFile: stage " & stage
    failures = failures + 1
End If
Check "TotalLength after failed load", conv.TotalLength, 0

conv.Stop
Set conv = Nothing

If failures = 0 Then
    WScript.Echo "corvane script: all checks passed (LoadFile stage " & stage & ")"
Else
    WScript.Echo "corvane script: " & failures & " checks failed"
End If
