// Drives KadroOA.KadroOcx from JScript through every method: the parameter string, the error texts, the edit
// cycle in passive and active mode, the failures, the registry and program start. Each call's result is written
// to a UTF-16 record file ("label TAB value", records separated by U+001E) that run_wine_tests.py compares with
// what it expects. Arguments: record file, FTP port, user, password, a closed port, the local work folder
// (Windows path), the remote folder prefix, the registry key (HKEY_CURRENT_USER\...) the driver filled.
var RS = String.fromCharCode(30);
var exitCode = 0;
var out = null;
try {
  var args = WScript.Arguments;
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  out = fso.CreateTextFile(args(0), true, true);
  var port = args(1), user = args(2), pass = args(3), closedPort = args(4), work = args(5), remote = args(6);
  var regKey = args(7);
  var server = "127.0.0.1:" + port;

  var record = function (label, value) {
    out.Write(label + "\t" + value + RS);
  };
  // Records what `call` returns, or the number and text of the error it raised.
  var step = function (label, call) {
    var value;
    try {
      value = call();
    } catch (e) {
      value = "ERROR " + (e.number & 0xFFFF) + " " + e.description;
    }
    record(label, value);
    return value;
  };
  var readText = function (path) {
    if (!fso.FileExists(path)) return "<missing>";
    var file = fso.GetFile(path);
    if (file.Size == 0) return "";
    var stream = fso.OpenTextFile(path, 1);
    var text = stream.ReadAll();
    stream.Close();
    return text;
  };
  var writeText = function (path, text) {
    var stream = fso.CreateTextFile(path, true);
    stream.Write(text);
    stream.Close();
  };
  var parm = function (text) {
    return text.replace(/\{user\}/g, user).replace(/\{pass\}/g, pass).replace(/\{server\}/g, server);
  };

  var c = new ActiveXObject("KadroOA.KadroOcx");

  // A new object.
  step("isInstalled", function () { return c.isInstalled(); });
  step("new.getLocalFile", function () { return c.getLocalFile(); });
  step("new.getMoBanFile", function () { return c.getMoBanFile(); });
  step("new.getRemoteFile", function () { return c.getRemoteFile(); });
  step("new.getErrorMsg", function () { return c.getErrorMsg(); });
  step("new.getTiShiMsg", function () { return c.getTiShiMsg(); });
  step("new.Dispose", function () { return c.Dispose(); });
  step("setparm.result", function () { return typeof c.setparm("uid=a", "", 0); });

  // The error texts, each with a context line.
  var codes = [18, 32, 12001, 12002, 12003, 12004, 12005, 12006, 12007, 12008, 12009, 12010, 12011, 12012, 12013,
               12014, 12015, 12016, 12017, 12018, 12019, 12020, 12021, 12022, 12023, 12024, 12025, 12026, 12027,
               12028, 12029, 12030, 12031, 12036, 12110, 12111, 0, -1, 2, 12032, 12035, 12037, 12038, 12044, 12045,
               12157, 12169, 12170, -2147483648];
  for (var i = 0; i < codes.length; ++i) {
    (function (code) { step("GetErr." + code, function () { return c.GetErr(code, "ctx"); }); })(codes[i]);
  }

  // The parameter string's examples: each parsed text either logs in and fetches the file or fails in its own words.
  var examples = [
    ["plain", "uid={user};path={server};pass={pass}", ""],
    ["keys in any case", "UID={user};PATH={server};PASS={pass}", ""],
    ["key inside another key", "myuid=nobody;uid={user};path={server};pass={pass}", ""],
    ["first entry wins", "uid={user};uid=nobody;path={server};pass={pass}", ""],
    ["empty user", "uid=;path={server};pass={pass}", ""],
    ["space before equals", "uid ={user};path={server};pass={pass}", ""],
    ["space after delimiter", "uid={user}; path={server};pass={pass}", ""],
    ["user missing", "path={server};pass={pass}", ""],
    ["delimiter &&", "uid={user}&&path={server}&&pass={pass}", "&&"],
    ["blank delimiter", "uid={user};path={server};pass={pass}", "   "],
    ["password case kept", "uid={user};path={server};pass=" + pass.toUpperCase(), ""]
  ];
  for (var e = 0; e < examples.length; ++e) {
    var example = examples[e];
    c.setparm(parm(example[1]), example[2], 1);
    var target = work + "\\parm" + e + ".txt";
    step("parm." + example[0], function () { return c.GetFileToFile(remote + "/doc.txt", target); });
    step("parm." + example[0] + ".msg", function () { return c.getErrorMsg(); });
  }

  // The edit cycle in both modes: document and template fetched, edited, saved.
  var modes = [["passive", 1], ["active", 0]];
  for (var m = 0; m < modes.length; ++m) {
    var mode = modes[m][0], dir = remote + "/" + mode;
    c.setparm(parm("uid={user};path={server};pass={pass}"), ";", modes[m][1]);
    step(mode + ".getFile", function () { return c.getFile(dir + "/doc.txt", dir + "/tmpl.txt"); });
    var local = c.getLocalFile(), template = c.getMoBanFile();
    record(mode + ".local name", fso.GetFileName(local).substr(0, 3) + "*." + fso.GetExtensionName(local));
    record(mode + ".template name", fso.GetFileName(template).substr(0, 3) + "*." + fso.GetExtensionName(template));
    record(mode + ".in temp folder", fso.GetParentFolderName(local) == fso.GetSpecialFolder(2).Path);
    step(mode + ".getRemoteFile", function () { return c.getRemoteFile(); });
    record(mode + ".document", readText(local));
    record(mode + ".template", readText(template));
    writeText(local, "edited in " + mode + " mode\r\n");
    step(mode + ".saveFile", function () { return c.saveFile(); });
    record(mode + ".document deleted", !fso.FileExists(local));
    record(mode + ".template deleted", !fso.FileExists(template));
    step(mode + ".after.getLocalFile", function () { return c.getLocalFile(); });
    step(mode + ".after.getMoBanFile", function () { return c.getMoBanFile(); });
    step(mode + ".after.getRemoteFile", function () { return c.getRemoteFile(); });
    step(mode + ".after.getErrorMsg", function () { return c.getErrorMsg(); });
    step(mode + ".after.getTiShiMsg", function () { return c.getTiShiMsg(); });
    // Without a new setparm the next transfer has no server.
    step(mode + ".no setparm", function () { return c.GetFileToFile(dir + "/doc.txt", work + "\\x.txt"); });
    step(mode + ".no setparm.msg", function () { return c.getErrorMsg(); });

    // A file of the page's own choosing, put back with PutFile, which deletes it on request.
    c.setparm(parm("uid={user};path={server};pass={pass}"), "", modes[m][1]);
    var own = work + "\\" + mode + "-own.txt";
    step(mode + ".GetFileToFile", function () { return c.GetFileToFile(dir + "/own.txt", own); });
    record(mode + ".own", readText(own));
    writeText(own, "put back in " + mode + " mode\r\n");
    step(mode + ".PutFile", function () { return c.PutFile(own, dir + "/own.txt", 1); });
    record(mode + ".own deleted", !fso.FileExists(own));
  }

  // A separator of ten million characters, in a text that holds it twice, gives the fields of a short one.
  var tilde = "~";
  while (tilde.length < 10000000) tilde += tilde;
  tilde = tilde.substr(0, 10000000);
  c.setparm(parm("uid={user}" + tilde + "path={server}" + tilde + "pass={pass}"), tilde, 1);
  step("long separator", function () { return c.GetFileToFile(remote + "/doc.txt", work + "\\long.txt"); });
  step("long separator.msg", function () { return c.getErrorMsg(); });
  c.setparm(parm("uid={user}~path={server}~pass={pass}"), "~", 1);
  step("short separator", function () { return c.GetFileToFile(remote + "/doc.txt", work + "\\short.txt"); });
  tilde = null;

  // Failures, each with its message; a failed download leaves the local file as it was.
  c.setparm(parm("uid={user};path={server};pass={pass}"), "", 1);
  var keep = work + "\\keep.txt";
  step("missing file", function () { return c.GetFileToFile(remote + "/no-such-file.txt", keep); });
  step("missing file.msg", function () { return c.getErrorMsg(); });
  step("missing file.msg again", function () { return c.getErrorMsg(); });
  record("missing file.local kept", readText(keep));
  step("directory", function () { return c.GetFileToFile(remote + "/passive", keep); });
  step("directory.msg", function () { return c.getErrorMsg(); });
  record("directory.local kept", readText(keep));
  step("empty file", function () { return c.PutFile(work + "\\empty.txt", remote + "/empty.txt", 0); });
  step("empty file.msg", function () { return c.getErrorMsg(); });
  c.setparm(parm("uid={user};path=127.0.0.1:" + closedPort + ";pass={pass}"), "", 1);
  step("closed port", function () { return c.GetFileToFile(remote + "/doc.txt", keep); });
  step("closed port.msg", function () { return c.getErrorMsg(); });
  step("setparm empties the message", function () { c.setparm("", "", 0); return c.getErrorMsg(); });

  // The registry, filled by the driver with `wine reg add`.
  step("GetAllRegValue", function () { return c.GetAllRegValue(regKey); });
  step("GetAllRegValue lower case root", function () { return c.GetAllRegValue(regKey.replace("HKEY_CURRENT_USER", "hkey_current_user")); });
  step("bad root", function () { return c.GetAllRegValue("HKCU\\Software"); });
  step("bad root.msg", function () { return c.getErrorMsg(); });
  step("missing key", function () { return c.GetAllRegValue(regKey + "\\Missing"); });
  step("missing key.msg", function () { return c.getErrorMsg(); });
  step("empty key", function () { return c.GetAllRegValue(""); });
  step("number without a zero byte", function () { return c.GetAllRegValue(regKey + "\\Numbers"); });

  // Programs: started directly, and through a folder read from the registry; the driver reads what they recorded.
  var program = work + "\\programs\\record_args.exe";
  step("OpenExefile", function () { return c.OpenExefile(program, "first second"); });
  step("OpenExefileByReg", function () { return c.OpenExefileByReg(regKey, "Programs", "-x \"y z\"", "by-registry.exe"); });
  step("OpenExefileByReg expandable", function () { return c.OpenExefileByReg(regKey, "E", "", "x.exe"); });
  step("OpenExefileByReg expandable.msg", function () { return c.getErrorMsg(); });
  step("OpenExefileByReg multi-string", function () { return c.OpenExefileByReg(regKey, "M", "", "x.exe"); });
  step("OpenExefileByReg multi-string.msg", function () { return c.getErrorMsg(); });
  step("OpenExefileByReg number", function () { return c.OpenExefileByReg(regKey, "D", "", "x.exe"); });
  step("OpenExefileByReg number.msg", function () { return c.getErrorMsg(); });
  step("OpenExefileByReg number without a zero byte",
       function () { return c.OpenExefileByReg(regKey + "\\Numbers", "N", "", "x.exe"); });
  step("OpenExefile missing", function () { return c.OpenExefile(work + "\\programs\\none.exe", "a"); });
  step("OpenExefile missing.msg", function () { return c.getErrorMsg(); });
  step("OpenExefileByReg missing value", function () { return c.OpenExefileByReg(regKey, "NoSuchValue", "", "x.exe"); });
  step("OpenExefileByReg missing value.msg", function () { return c.getErrorMsg(); });
  step("not a program", function () { return c.OpenExefile(work + "\\keep.txt", "a"); });
  // In a folder with a space, beside a planted programs\my.exe that the path's first word would name.
  var spaced = work + "\\programs\\my prog\\", spacedParm = "-x \"y z\" a\\b";
  step("spaced OpenExefile", function () { return c.OpenExefile(spaced + "spaced.exe", spacedParm); });
  step("spaced OpenExefile batch", function () { return c.OpenExefile(spaced + "open.bat", spacedParm); });
  step("spaced OpenExefileByReg",
       function () { return c.OpenExefileByReg(regKey, "Spaced", spacedParm, "spaced-by-registry.exe"); });
  step("spaced OpenExefileByReg batch",
       function () { return c.OpenExefileByReg(regKey, "Spaced", spacedParm, "open-by-registry.bat"); });
  // The longest command line starts, 32,766 characters and its NUL; one more is refused before anything starts.
  var filler = function (path, length) {
    var text = "";
    while (text.length < length - path.length - 1) text += "z";
    return text;
  };
  var longest = work + "\\programs\\longest.exe", tooLong = work + "\\programs\\long.exe";
  step("longest command line", function () { return c.OpenExefile(longest, filler(longest, 32766)); });
  step("command line too long", function () { return c.OpenExefile(tooLong, filler(tooLong, 32767)); });
  step("40,000-character argument", function () { return c.OpenExefile(tooLong, filler("", 40001)); });

  // setLocalFile and Dispose: the file is deleted, the path stays.
  var disposable = work + "\\dispose me.txt";
  writeText(disposable, "x");
  step("setLocalFile", function () { return c.setLocalFile(disposable); });
  step("getLocalFile", function () { return c.getLocalFile(); });
  step("Dispose", function () { return c.Dispose(); });
  record("Dispose.deleted", !fso.FileExists(disposable));
  step("Dispose.path kept", function () { return c.getLocalFile(); });
} catch (e) {
  exitCode = 2;
  if (out != null) out.Write("script\tERROR " + (e.number & 0xFFFF) + " " + e.description + RS);
}
if (out != null) out.Close();
WScript.Quit(exitCode);
