// Run by cscript after the installer: creates the control by its ProgID, as the script host does and as script's
// `new ActiveXObject` does, and calls it. Exit code 0 when both calls answer 1; on an error prints
// "error HRESULT message" and exits 3.
try {
  var byHost = WScript.CreateObject("KadroOA.KadroOcx").isInstalled();
  var byScript = new ActiveXObject("KadroOA.KadroOcx").isInstalled();
  WScript.Echo("isInstalled " + byHost + " " + byScript);
  WScript.Quit(byHost === 1 && byScript === 1 ? 0 : 1);
} catch (e) {
  WScript.Echo("error " + (e.number >>> 0).toString(16) + " " + e.message);
  WScript.Quit(3);
}
