// A page that the administrator's policy refuses, loaded after kadroo.js as in IE mode. From the page: `mode`,
// "origin" for a page of a site the policy does not list (every method is refused) or "target" for a listed site
// naming what it may not use; `refusal`, how the refused calls' errors begin; `outside`, a local file outside the
// listed folders; the server's details: `server` the one the page names, `listedServer` the one the policy lists.
function check(condition, what) { if (!condition) throw new Error(what); }
function refused(name, call, why) {
  try {
    call();
  } catch (e) {
    var text = why || refusal;
    check((e.number & 0xFFFF) === 70 && e.description.indexOf(text) === 0,
          name + " raised " + (e.number & 0xFFFF) + " " + e.description + ", not 70 " + text);
    return;
  }
  throw new Error(name + " was not refused");
}

var parm = "uid=" + user + ";path=" + server + ";pass=" + pass, cmd = "C:\\windows\\system32\\cmd.exe";
if (mode === "origin") {
  refused("isInstalled", function () { c.isInstalled(); });
  refused("setparm", function () { c.setparm(parm, ";", 1); });
  refused("getFile", function () { c.getFile(remoteDoc, remoteTemplate); });
  refused("PutFile", function () { c.PutFile("C:\\windows\\win.ini", remoteDoc, 0); });
  refused("GetAllRegValue", function () { c.GetAllRegValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows"); });
  refused("OpenExefile", function () { c.OpenExefile(cmd, "/c echo x> C:\\refused.txt"); });
  refused("getErrorMsg", function () { c.getErrorMsg(); });
} else {
  var prefix = "Refused by the administrator's policy: ";
  check(c.isInstalled() === 1, "isInstalled");
  refused("setparm", function () { c.setparm(parm, ";", 1); });
  // The refused setparm stored nothing: there is still no server to connect to.
  check(c.getFile(remoteDoc, remoteTemplate) === -1 && c.getErrorMsg() === "参数错误，没有提供服务器地址",
        "getFile after the refused setparm: " + c.getErrorMsg());
  refused("GetFileToFile outside the listed folders", function () { c.GetFileToFile(remoteDoc, outside); },
          prefix + "localFolder " + outside);
  refused("OpenExefile of a program not listed", function () { c.OpenExefile(cmd, "/c echo x> C:\\refused.txt"); },
          prefix + "program " + cmd);
  var key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft";
  refused("GetAllRegValue of a key not listed", function () { c.GetAllRegValue(key); }, prefix + "registryKey " + key);
  // kadroo.js over the control rejects as in the other browsers (its promises settle at once without a timer).
  var rejection = null;
  KadroOA.create({ control: c }).then(function (k) { return k.GetAllRegValue(key); }).then(null, function (e) {
    rejection = e;
  });
  var said = rejection && [rejection.code, rejection.refused, rejection.target].join("|");
  check(said === "TARGET_REFUSED|registryKey|" + key, "kadroo.js: " + said + " " + (rejection && rejection.message));
  // The page's own server is allowed, and setparm empties the message as always.
  c.setparm("uid=" + user + ";path=" + listedServer + ";pass=" + pass, ";", 1);
  check(c.getErrorMsg() === "", "message after setparm: " + c.getErrorMsg());
}
