' The page's second round in VBScript, in active mode: fetch the document, edit it as the clerk's editor would,
' save it back. Variables, not literals, go to the by-reference parameters. No message box is expected.
Sub Check(condition, what)
  If Not condition Then Err.Raise 1000, "page", what
End Sub

Dim fso, local, noTemplate, f, edited
Set fso = CreateObject("Scripting.FileSystemObject")
c.setparm "uid=" & user & ";path=" & server & ";pass=" & pass, ";", 0
noTemplate = ""
Check c.getFile(remoteDoc, noTemplate) = 1, "getFile: " & c.getErrorMsg()
local = c.getLocalFile()
Check fso.FileExists(local), "document missing: " & local
Check c.getMoBanFile() = "", "a template without asking: " & c.getMoBanFile()
Set f = fso.OpenTextFile(local, 8)
f.Write editText
f.Close
Check c.saveFile() = 1, "saveFile: " & c.getErrorMsg()
Check Not fso.FileExists(local), "document left after saveFile"
Check c.getRemoteFile() = "", "remote path kept: " & c.getRemoteFile()
