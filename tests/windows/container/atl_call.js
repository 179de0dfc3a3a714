// Page script against the control hosted by Wine's ATL: calls by name through the hosted object.
function check(condition, what) { if (!condition) throw new Error(what); }
check(c.isInstalled() === 1, "isInstalled: " + c.isInstalled());
check(c.setLocalFile("C:\\work\\letter.doc") === 1, "setLocalFile");
check(c.getLocalFile() === "C:\\work\\letter.doc", "getLocalFile: " + c.getLocalFile());
// No connection was configured: the download fails with a message and no script error.
check(c.GetFileToFile("/docs/letter.doc", "C:\\work\\letter.doc") === -1, "GetFileToFile without setparm");
check(c.getErrorMsg() !== "", "no message after a failed download");
check(c.Dispose() === 1, "Dispose");
