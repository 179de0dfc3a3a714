// Runs after kadroo.js in one JScript global scope, as a page's script runs after the library's <script> in IE
// mode: the edit cycle through the promise API over the registered control, a run-time error as a rejection, the
// calls' order, and a closed object. Records as control_test.js does ("label TAB value", separated by U+001E).
// Arguments: record file, FTP port, user, password, the remote folder, the local work folder (Windows path).
var RS = String.fromCharCode(30);
var exitCode = 0;
var out = null;
try {
  var args = WScript.Arguments;
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  out = fso.CreateTextFile(args(0), true, true);
  var parm = "uid=" + args(2) + ";path=127.0.0.1:" + args(1) + ";pass=" + args(3), dir = args(4), work = args(5);
  var record = function (label, value) { out.Write(label + "\t" + value + RS); };
  var readText = function (path) {
    if (!fso.FileExists(path)) return "<missing>";
    var stream = fso.OpenTextFile(path, 1), text = stream.AtEndOfStream ? "" : stream.ReadAll();
    stream.Close();
    return text;
  };
  // What a rejection carried, in one line.
  var rejection = function (e) {
    return [e.code, e.number, e instanceof KadroOA.KadroOAError, e instanceof Error, e.message].join("|");
  };
  var c = null, local = null, template = null;

  KadroOA.status().then(function (status) {
    record("status", [status.runsOn, status.control, status.code, status.library].join("|"));
    return KadroOA.create();
  }).then(function (control) {
    c = control;
    record("runsOn", c.runsOn);
    return c.setparm(parm, ";", 1);
  }).then(function (result) {
    record("setparm", result);
    return c.getFile(dir + "/doc.txt", dir + "/tmpl.txt");
  }).then(function (result) {
    record("getFile", result);
    return c.getLocalFile();
  }).then(function (path) {
    local = path;
    return c.getMoBanFile();
  }).then(function (path) {
    template = path;
    record("document", readText(local));
    record("template", readText(template));
    var stream = fso.CreateTextFile(local, true);
    stream.Write("edited through kadroo.js\r\n");
    stream.Close();
    return c.saveFile();
  }).then(function (result) {
    record("saveFile", result);
    record("local files deleted", !fso.FileExists(local) && !fso.FileExists(template));
    return c.getErrorMsg();
  }).then(function (message) {
    record("getErrorMsg", message);
    // The control's own failure is its result, with its message.
    c.setparm(parm, ";", 1);
    return c.GetFileToFile(dir + "/no-such-file.txt", work + "\\missing.txt");
  }).then(function (result) {
    record("missing file", result);
    return c.getErrorMsg();
  }).then(function (message) {
    record("missing file.msg", message);
    // A missing argument goes to the control as the empty text: no context line, and no type mismatch.
    return c.GetErr(12014);
  }).then(function (text) {
    record("GetErr without context", text);
    // Made one after another without waiting: they still run in that order, the one after a rejection too.
    var first = c.GetAllRegValue("");
    var set = c.setLocalFile(work + "\\queued.txt");
    var after = c.getLocalFile();
    return first.then(function (value) {
      record("run-time error", "resolved " + value);
      return after;
    }, function (e) {
      record("run-time error", rejection(e));
      return set.then(function (result) {
        record("queued setLocalFile", result);
        return after;
      });
    });
  }).then(function (path) {
    record("queued getLocalFile", path);
    c.close();
    return c.isInstalled();
  }).then(function (value) {
    record("after close", "resolved " + value);
  }, function (e) {
    record("after close", e.code);
  }).then(function () {
    record("settled", "true");
  }, function (e) {
    record("script", "rejected " + (e.code || "") + " " + (e.message || e.description));
  });
} catch (e) {
  exitCode = 2;
  if (out != null) out.Write("script\tERROR " + (e.number & 0xFFFF) + " " + e.description + RS);
}
// Windows Script Host has no timer: every promise above has settled by now.
if (out != null) out.Close();
WScript.Quit(exitCode);
