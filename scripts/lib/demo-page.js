// The page's part of the Windows demo, run by cscript: what an office system's page does with the control.
// Arguments: FTP user, port, password. Prints each call with its answer; exits non-zero when a step fails.
var args = WScript.Arguments;
var code = 0;
try {
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  var c = new ActiveXObject("KadroOA.KadroOcx");
  var call = function (text, run) {
    var answer = run();
    WScript.Echo("> " + text);
    WScript.Echo("< " + (answer === undefined ? "(empty)" : answer));
    return answer;
  };
  var expectOne = function (answer) {
    if (answer != 1) throw new Error("the control answered " + answer + ": " + c.getErrorMsg());
  };
  call("isInstalled()", function () { return c.isInstalled(); });
  var parm = "uid=" + args(0) + ";path=127.0.0.1:" + args(1) + ";pass=" + args(2);
  call("setparm(\"" + parm + "\", \";\", 1)", function () { return c.setparm(parm, ";", 1); });
  expectOne(call("getFile(\"docs/report.doc\", \"templates/red-head.dot\")",
                 function () { return c.getFile("docs/report.doc", "templates/red-head.dot"); }));
  var document = call("getLocalFile()", function () { return c.getLocalFile(); });
  call("getMoBanFile()", function () { return c.getMoBanFile(); });
  call("getRemoteFile()", function () { return c.getRemoteFile(); });
  WScript.Echo("-- the clerk edits " + document);
  var stream = fso.CreateTextFile(document, true);
  stream.Write("Budget request for 2026 (final)\r\n");
  stream.Close();
  expectOne(call("saveFile()", function () { return c.saveFile(); }));
  call("getLocalFile()", function () { return c.getLocalFile(); });
  if (fso.FileExists(document)) throw new Error("the local working file is still there");
  WScript.Echo("-- the local working files are gone");
} catch (e) {
  WScript.Echo("demo failed: " + (e.number & 0xFFFF) + " " + (e.description || e.message));
  code = 1;
}
WScript.Quit(code);
