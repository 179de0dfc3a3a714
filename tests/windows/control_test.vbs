' Drives KadroOA.KadroOcx from VBScript through every method, passing variables as well as literals to the
' by-reference parameters. Records each result like control_test.js. Arguments: record file, FTP port, user,
' password, the local work folder (Windows path), the remote folder prefix, the registry key the driver filled.
Option Explicit
Dim RS, exitCode, out, fso, args, c, server, parmText, work, remote, regKey
RS = Chr(30)
exitCode = 0
Set out = Nothing

Sub Record(label, value)
  out.Write label & vbTab & value & RS
End Sub

' The result of the last call, or the number and text of the error it raised.
Sub Check(label, value)
  If Err.Number <> 0 Then
    Record label, "ERROR " & (Err.Number And &HFFFF&) & " " & Err.Description
    Err.Clear
  Else
    Record label, value
  End If
End Sub

' The helpers report their own failures under a label of their own, so that no error is blamed on the next call.
Sub HelperFailed(label)
  If Err.Number <> 0 Then
    Record label, "ERROR " & (Err.Number And &HFFFF&) & " " & Err.Description
    Err.Clear
  End If
End Sub

Function ReadText(path)
  Dim stream
  On Error Resume Next
  ReadText = "<missing>"
  If Not fso.FileExists(path) Then Exit Function
  ReadText = ""
  If fso.GetFile(path).Size = 0 Then Exit Function
  Set stream = fso.OpenTextFile(path, 1)
  ReadText = stream.ReadAll()
  stream.Close
  HelperFailed "ReadText " & path
End Function

Sub WriteText(path, text)
  Dim stream
  On Error Resume Next
  Set stream = fso.CreateTextFile(path, True)
  stream.Write text
  stream.Close
  HelperFailed "WriteText " & path
End Sub

Sub AssignTo(ByRef target, value)
  If IsObject(value) Then
    Set target = value
  Else
    target = value
  End If
End Sub

Function SameValue(a, b)
  Dim k
  SameValue = False
  If VarType(a) <> VarType(b) Then Exit Function
  If IsObject(a) Then
    SameValue = a Is b
  ElseIf IsArray(a) Then
    If UBound(a) <> UBound(b) Then Exit Function
    For k = 0 To UBound(a)
      If Not SameValue(a(k), b(k)) Then Exit Function
    Next
    SameValue = True
  ElseIf IsNull(a) Or IsEmpty(a) Then
    SameValue = True
  Else
    SameValue = (a = b)
  End If
End Function

' TypeName, but "Object" for every object: Wine's TypeName(Nothing) crashes the script engine, and the names of
' other objects differ between Wine and Windows.
Function KindOf(value)
  If IsObject(value) Then
    KindOf = "Object"
    If value Is Nothing Then KindOf = "Nothing"
  Else
    KindOf = TypeName(value)
  End If
End Function

' A variable of every kind, passed to each of the eight by-reference parameters in turn, keeps its type and value.
' Records, for each kind, what the control received through setLocalFile ("=CStr" when that is CStr of the value)
' and the parameters after whose call the variable had changed.
Sub ByReferenceVariables()
  Dim fresh, names, values, i, slot, v, original, other, r, received, changed
  On Error Resume Next
  Set fresh = CreateObject("KadroOA.KadroOcx")
  names = Array("Empty", "Null", "Integer 0", "Integer -7", "Long", "Single", "Double", "Currency", "Date", _
                "String", "empty String", "True", "False", "Byte", "Nothing", "Object", "Array")
  values = Array(Empty, Null, CInt(0), CInt(-7), CLng(123456), CSng(1.5), CDbl(2.25), CCur(3.5), _
                 DateSerial(2026, 12, 9), "text", "", True, False, CByte(200), Nothing, fso, Array(1, "a"))
  For i = 0 To UBound(values)
    changed = ""
    For slot = 1 To 8
      AssignTo v, values(i)
      AssignTo original, values(i)
      other = work & "\no-such-file.txt"
      Err.Clear
      Select Case slot
        Case 1: r = fresh.setLocalFile(v)
        Case 2: r = fresh.getFile(v, other)
        Case 3: r = fresh.getFile(other, v)
        Case 4: r = fresh.GetFileToFile(v, other)
        Case 5: r = fresh.GetFileToFile(other, v)
        Case 6: r = fresh.PutFile(v, other, 0)
        Case 7: r = fresh.PutFile(other, v, 0)
        Case 8: r = fresh.PutFile(other, other, v)
      End Select
      If slot = 1 Then
        If Err.Number <> 0 Then
          received = "ERROR " & (Err.Number And &HFFFF&)
        Else
          received = fresh.getLocalFile()
          If received = CStr(values(i)) Then received = "=CStr"
        End If
      End If
      Err.Clear
      If Not SameValue(v, original) Then changed = changed & " " & slot
    Next
    Record "byref." & names(i), received & "|" & KindOf(v) & "|changed:" & changed
  Next
  HelperFailed "ByReferenceVariables"
End Sub

Sub Main()
  Dim r, v, remoteDoc, remoteTemplate, localFile, localPath, remotePath, deleteIt, template, emptyText
  Set c = CreateObject("KadroOA.KadroOcx")
  On Error Resume Next

  r = c.isInstalled() : Check "isInstalled", r
  r = c.getTiShiMsg() : Check "new.getTiShiMsg", r
  r = c.GetErr(12014, "") : Check "GetErr.12014", r
  r = c.GetErr(5, "abc") : Check "GetErr.5", r

  v = c.setparm(parmText, "", 1) : Check "setparm.empty", IsEmpty(v)

  ' By-reference parameters given variables: the edit cycle in passive mode.
  remoteDoc = remote & "/passive/doc.txt"
  remoteTemplate = remote & "/passive/tmpl.txt"
  r = c.getFile(remoteDoc, remoteTemplate) : Check "getFile", r
  Check "variables unchanged", remoteDoc & "|" & remoteTemplate
  localFile = c.getLocalFile()
  template = c.getMoBanFile()
  Check "document", ReadText(localFile)
  Check "template", ReadText(template)
  r = c.getRemoteFile() : Check "getRemoteFile", r
  WriteText localFile, "edited by VBScript" & vbCrLf
  r = c.saveFile() : Check "saveFile", r
  Check "document deleted", Not fso.FileExists(localFile)
  Check "template deleted", Not fso.FileExists(template)
  r = c.getErrorMsg() : Check "after.getErrorMsg", r

  ' Variables of other types: a number held as Integer for the Long, converted for the call.
  v = c.setparm(parmText, ";", 0)
  localPath = work & "\vbs-own.txt"
  remotePath = remote & "/active/own.txt"
  r = c.GetFileToFile(remotePath, localPath) : Check "GetFileToFile", r
  Check "own", ReadText(localPath)
  WriteText localPath, "put back by VBScript" & vbCrLf
  deleteIt = CInt(1)
  r = c.PutFile(localPath, remotePath, deleteIt) : Check "PutFile", r
  Check "own deleted", Not fso.FileExists(localPath)
  Check "PutFile variables", TypeName(localPath) & "|" & TypeName(deleteIt) & "|" & deleteIt

  ' Literals and expressions for the by-reference parameters.
  v = c.setparm(parmText, "", 1)
  r = c.GetFileToFile(remote & "/doc.txt", work & "\vbs-literal.txt") : Check "literals", r
  Check "literal download", ReadText(work & "\vbs-literal.txt")
  r = c.GetFileToFile(remote & "/no-such-file.txt", work & "\vbs-literal.txt") : Check "missing file", r
  r = c.getErrorMsg() : Check "missing file.msg", r
  emptyText = work & "\empty.txt"
  r = c.PutFile(emptyText, remote & "/empty.txt", 0) : Check "empty file", r
  r = c.getErrorMsg() : Check "empty file.msg", r

  r = c.GetAllRegValue(regKey) : Check "GetAllRegValue", r
  r = c.GetAllRegValue("HKEY_NOWHERE\Software") : Check "bad root", r
  r = c.getErrorMsg() : Check "bad root.msg", r
  r = c.OpenExefile(work & "\programs\vbs.exe", "from VBScript") : Check "OpenExefile", r
  r = c.OpenExefileByReg(regKey, "Programs", "by registry", "vbs-by-registry.exe") : Check "OpenExefileByReg", r

  ' A run-time error reaches the script with its number and text; the next call works again.
  r = "unchanged"
  r = c.GetAllRegValue("")
  Check "empty key", r
  r = c.isInstalled() : Check "after the error", r
  ' A variable that cannot become text is a type mismatch, and the control is not called.
  localPath = Null
  r = "unchanged"
  r = c.setLocalFile(localPath) : Check "Null variable", r
  r = c.getLocalFile() : Check "Null variable.getLocalFile", r

  localPath = work & "\vbs dispose.txt"
  WriteText localPath, "x"
  r = c.setLocalFile(localPath) : Check "setLocalFile", r
  r = c.getLocalFile() : Check "getLocalFile", r
  r = c.Dispose() : Check "Dispose", r
  Check "Dispose.deleted", Not fso.FileExists(localPath)
  r = c.getMoBanFile() : Check "getMoBanFile", r
  ByReferenceVariables
End Sub

On Error Resume Next
Set args = WScript.Arguments
Set fso = CreateObject("Scripting.FileSystemObject")
Set out = fso.CreateTextFile(args(0), True, True)
If Err.Number <> 0 Then WScript.Quit 3
server = "127.0.0.1:" & args(1)
parmText = "uid=" & args(2) & ";path=" & server & ";pass=" & args(3)
work = args(4)
remote = args(5)
regKey = args(6)
Main
If Err.Number <> 0 Then
  exitCode = 2
  Record "script", "ERROR " & (Err.Number And &HFFFF&) & " " & Err.Description
End If
out.Close
WScript.Quit exitCode
