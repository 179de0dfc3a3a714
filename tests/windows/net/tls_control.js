// KadroOA.KadroOcx over FTP with TLS, as a page drives it. Arguments: phase, FTP server (host:port), user,
// password, remote folder, local work folder (Windows path). Prints "ok NAME" or "FAIL NAME: detail" per check.
//   cycle     the page asks for TLS ("tls=1"): the edit cycle in passive and active mode; the same server by
//             another name is refused (12038)
//   admin     the administrator's FtpTls setting names the server (pinned): the cycle without "tls=1"
//   refused N the administrator's setting demands TLS (a wrong pin, a broken value): the connection fails with
//             error N, and no file is written
var failures = 0;
// The console shows the ANSI code page: the messages' Chinese goes as "?", their numbers stay.
var check = function (name, ok, detail) {
  detail = String(detail === undefined ? "" : detail).replace(/[^\x20-\x7e]/g, "?");
  WScript.Echo((ok ? "ok   " : "FAIL ") + name + (ok || !detail ? "" : ": " + detail));
  if (!ok) ++failures;
};
try {
  var args = WScript.Arguments;
  var phase = args(0), server = args(1), user = args(2), pass = args(3), remote = args(4), work = args(5);
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  var readText = function (path) {
    if (!fso.FileExists(path)) return "<missing>";
    if (fso.GetFile(path).Size == 0) return "";
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
  var c = new ActiveXObject("KadroOA.KadroOcx");
  // Only the cycle's page asks for TLS: elsewhere the administrator's setting must.
  var parm = "uid=" + user + ";pass=" + pass + ";path=" + server + (phase == "cycle" ? ";tls=1" : "");

  if (phase == "cycle" || phase == "admin") {
    var modes = phase == "admin" ? [["passive", 1]] : [["passive", 1], ["active", 0]];
    var expected = "document over TLS\r\n";  // then what the mode before saved
    for (var m = 0; m < modes.length; ++m) {
      var mode = phase + " " + modes[m][0];
      c.setparm(parm, ";", modes[m][1]);
      var got = c.getFile(remote + "/doc.txt", remote + "/tmpl.txt");
      check(mode + ": getFile", got == 1, got + " " + c.getErrorMsg());
      var local = c.getLocalFile();
      check(mode + ": the document", readText(local) == expected, readText(local));
      check(mode + ": the template", readText(c.getMoBanFile()) == "template over TLS\r\n", readText(c.getMoBanFile()));
      writeText(local, "edited in " + mode + "\r\n");
      var saved = c.saveFile();
      check(mode + ": saveFile", saved == 1, saved + " " + c.getErrorMsg());
      c.setparm(parm, ";", modes[m][1]);
      var back = work + "\\back.txt";
      got = c.GetFileToFile(remote + "/doc.txt", back);
      expected = "edited in " + mode + "\r\n";
      check(mode + ": the saved document read back", got == 1 && readText(back) == expected,
            got + " " + readText(back) + c.getErrorMsg());
    }
  }
  if (phase == "cycle") {
    c.setparm(parm.replace("path=localhost:", "path=127.0.0.1:"), ";", 1);
    var target = work + "\\by-address.txt";
    var byAddress = c.GetFileToFile(remote + "/doc.txt", target);
    var msg = c.getErrorMsg();
    check("another name than the certificate's is refused (12038)", byAddress != 1 && /12038/.test(msg), msg);
    check("nothing written after the refusal", !fso.FileExists(target));
  }
  if (phase == "refused") {
    c.setparm(parm, ";", 1);
    var refusedTarget = work + "\\refused.txt";
    var result = c.GetFileToFile(remote + "/doc.txt", refusedTarget);
    var text = c.getErrorMsg();
    check("refused with " + args(6), result != 1 && new RegExp("\\D" + args(6) + "$").test(text), result + " " + text);
    check("nothing written after the refusal (" + args(6) + ")", !fso.FileExists(refusedTarget));
  }
} catch (e) {
  check("script ran to the end", false, (e.number & 0xFFFF) + " " + e.description);
}
WScript.Quit(failures == 0 ? 0 : 1);
