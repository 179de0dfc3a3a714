// Run by cscript after the installer: creates the control by its ProgID and calls it. Exit code 0 when the call
// answers 1; on an error prints "error HRESULT message" and exits 3.
try {
  var c = WScript.CreateObject("KadroOA.KadroOcx");
  var answer = c.isInstalled();
  WScript.Echo("isInstalled " + answer);
  WScript.Quit(answer === 1 ? 0 : 1);
} catch (e) {
  WScript.Echo("error " + (e.number >>> 0).toString(16) + " " + e.message);
  WScript.Quit(3);
}
