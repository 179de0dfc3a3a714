// Type declarations for kadroo.js (the ES module kadroo.mjs and the classic script's global KadroOA).

export type KadroOAErrorCode =
  | "EXTENSION_MISSING" | "HOST_MISSING" | "ORIGIN_REFUSED" | "TARGET_REFUSED" | "VERSION_MISMATCH"
  | "HOST_EXITED" | "TIMEOUT" | "LIMIT_EXCEEDED" | "RUNTIME_ERROR" | "PROTOCOL_ERROR";

export declare class KadroOAError extends Error {
  readonly code: KadroOAErrorCode;
  /** TARGET_REFUSED: what the policy refused. */
  readonly refused?: "ftpServer" | "program" | "registryKey" | "localFolder";
  /** TARGET_REFUSED and ORIGIN_REFUSED: the refused server, program, key, path or origin. */
  readonly target?: string;
  /** RUNTIME_ERROR: the control's run-time error number. */
  readonly number?: number;
  /** LIMIT_EXCEEDED: the bound met ("message": a call's JSON, "objects": objects in one tab) and its value. */
  readonly limit?: "message" | "objects" | "calls";
  readonly max?: number;
  /** PROTOCOL_ERROR: the JSON-RPC error code the host answered with. */
  readonly rpcCode?: number;
  /** VERSION_MISMATCH: the part whose protocol is older, the one to update. */
  readonly older?: "library" | "extension" | "host";
}

export interface KadroOAPrompt {
  title: string;
  text: string;
  /** The id of the call that shows the message. */
  call: number;
}

export interface KadroOAProgress {
  call: number;
  method?: string;
  done: number;
  /** -1 when the size is not known. */
  total: number;
}

export interface KadroOAOptions {
  /** Shows the control's message (default: the browser's alert); the call goes on when it returns or resolves. */
  onPrompt?: (prompt: KadroOAPrompt) => void | Promise<void>;
  /** Called a few times a second during a download or an upload. */
  onProgress?: (progress: KadroOAProgress) => void;
  /** Milliseconds to reach the extension and the host (default 10000). */
  timeout?: number;
  /** Milliseconds one call may take before the object is closed with TIMEOUT (default: no limit). */
  callTimeout?: number;
  /** IE mode: an `<object>` of the control already on the page, used instead of a new ActiveXObject. */
  control?: object;
}

/** Each method answers as the control does: 1 or -1, a text, or null (setparm). */
export interface KadroOcx {
  isInstalled(): Promise<number>;
  setparm(aParm: string, aSplit: string, aUseInternetFlagPassive: number): Promise<null>;
  getMoBanFile(): Promise<string>;
  getLocalFile(): Promise<string>;
  setLocalFile(asLocalFile: string): Promise<number>;
  getRemoteFile(): Promise<string>;
  getErrorMsg(): Promise<string>;
  getTiShiMsg(): Promise<string>;
  getFile(szremotefile: string, asMobanFile: string): Promise<number>;
  GetFileToFile(rfilepath: string, lfilepath: string): Promise<number>;
  saveFile(): Promise<number>;
  PutFile(sLocalFilePath: string, sRemoteFilePath: string, bDeleteLocalFile: number): Promise<number>;
  Dispose(): Promise<number>;
  GetAllRegValue(key: string): Promise<string>;
  OpenExefile(filepath: string, parm: string): Promise<number>;
  OpenExefileByReg(regkey: string, regValuename: string, parm: string, exefilename: string): Promise<number>;
  GetErr(lErrorCode: number, serrormsg: string): Promise<string>;
  /** What this object drives: the native host through the extension, or the ActiveX control itself (IE mode). */
  readonly runsOn: "extension" | "activex";
  /** In IE mode `extension` and `host` are null. */
  readonly versions: { library: string; extension: string | null; host: string | null };
  /** Ends this object's host process (IE mode: lets the control go); later calls reject with HOST_EXITED. */
  close(): void;
}

export interface KadroOAStatus {
  library: string;
  protocol: number;
  /** "activex" where ActiveXObject exists (IE mode): then extension and host are null. */
  runsOn: "extension" | "activex";
  /** IE mode: the control's ProgID when it could be created, else null (and code HOST_MISSING). */
  control?: string | null;
  extension: string | null;
  host: string | null;
  /** Why a part did not answer; null when all three did. */
  code: KadroOAErrorCode | null;
  /** With VERSION_MISMATCH: the part whose protocol is older; else null. */
  older: "library" | "extension" | "host" | null;
}

export interface KadroOAStatic {
  readonly version: string;
  readonly protocol: number;
  readonly methods: readonly string[];
  readonly KadroOAError: typeof KadroOAError;
  /** The promise the library returns: the engine's own, or the library's small one where there is none (IE). */
  readonly Promise: PromiseConstructor;
  create(options?: KadroOAOptions): Promise<KadroOcx>;
  status(options?: { timeout?: number }): Promise<KadroOAStatus>;
}

export declare const KadroOA: KadroOAStatic;
export default KadroOA;

declare global {
  /** Defined by the classic script kadroo.js. */
  var KadroOA: KadroOAStatic;
}
