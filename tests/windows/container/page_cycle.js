// The page's first round, as an office page scripts it: fetch a document and its template, then save without
// an edit. The control warns that the file looks unsaved (a message box owned by the page) and uploads all the
// same. `server`, `user`, `pass`, `remoteDoc`, `remoteTemplate` and `docText` come from the page.
function check(condition, what) { if (!condition) throw new Error(what); }
function read(fso, path) { var f = fso.OpenTextFile(path, 1); var text = f.AtEndOfStream ? "" : f.ReadAll(); f.Close(); return text; }

var fso = new ActiveXObject("Scripting.FileSystemObject");
check(c.isInstalled() === 1, "isInstalled");
// The container loaded <param>s uid and path; they configure nothing, so there is no server yet.
check(c.GetFileToFile(remoteDoc, "C:\\letter.doc") === -1, "GetFileToFile before setparm");
check(c.getErrorMsg() === "参数错误，没有提供服务器地址", "message before setparm: " + c.getErrorMsg());
c.setparm("uid=" + user + ";path=" + server + ";pass=" + pass, ";", 1);
check(c.getFile(remoteDoc, remoteTemplate) === 1, "getFile: " + c.getErrorMsg());
var local = c.getLocalFile(), moban = c.getMoBanFile();
check(c.getRemoteFile() === remoteDoc, "getRemoteFile: " + c.getRemoteFile());
check(fso.FileExists(local) && fso.FileExists(moban), "downloaded files missing: " + local + " " + moban);
check(read(fso, local) === docText, "document text: " + read(fso, local));
check(fso.GetFileName(local).toLowerCase().indexOf("kad") === 0, "document name: " + local);
check(fso.GetFileName(moban).toLowerCase().indexOf("oam") === 0, "template name: " + moban);
check(c.saveFile() === 1, "saveFile: " + c.getErrorMsg());
check(!fso.FileExists(local) && !fso.FileExists(moban), "local files left after saveFile");
check(c.getLocalFile() === "" && c.getMoBanFile() === "" && c.getErrorMsg() === "", "fields not reset");
// Without a new setparm the next transfer fails for want of a server, with a message and no script error.
check(c.getFile(remoteDoc, "") === -1 && c.getErrorMsg() !== "", "getFile after saveFile");
