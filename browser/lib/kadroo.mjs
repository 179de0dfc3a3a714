// kadroo.js: the KadroOcx control's methods for a page, through the KadroOA extension and its native host.
// One object is one control (one host process); its calls run one at a time in the order they were made.

const LIBRARY_VERSION = "1.0.0";
const PROTOCOL = 1;
const TAG = "kadrooa";

// The control's scripted interface, in the order of its type library, with each method's argument count.
const METHODS = {
  isInstalled: 0, setparm: 3, getMoBanFile: 0, getLocalFile: 0, setLocalFile: 1, getRemoteFile: 0,
  getErrorMsg: 0, getTiShiMsg: 0, getFile: 2, GetFileToFile: 2, saveFile: 0, PutFile: 3, Dispose: 0,
  GetAllRegValue: 1, OpenExefile: 2, OpenExefileByReg: 4, GetErr: 2,
};

const MESSAGES = {
  EXTENSION_MISSING: "The KadroOA extension did not answer: it is not installed, or this site is not listed in the administrator's KadroOA policy.",
  HOST_MISSING: "The browser could not start the KadroOA program (kadrooa): the KadroOA package is not installed for this browser.",
  ORIGIN_REFUSED: "This site is not listed in the administrator's KadroOA policy (/etc/kadrooa/policy.json).",
  TARGET_REFUSED: "The administrator's KadroOA policy does not allow this site to use",
  VERSION_MISMATCH: "The versions of kadroo.js, the KadroOA extension and the kadrooa program do not match; update them together.",
  HOST_EXITED: "The kadrooa program ended before the call was answered; create a new KadroOA object to go on.",
  TIMEOUT: "KadroOA did not answer in time.",
};

const REFUSED_TARGETS = {
  ftpServer: "the FTP server", program: "the program", registryKey: "the registry key", localFolder: "the local file",
  origin: "this site",
};

export class KadroOAError extends Error {
  constructor(code, message, details) {
    super(message || MESSAGES[code] || code);
    this.name = "KadroOAError";
    this.code = code;
    if (details) Object.assign(this, details);
  }
}

function newId() {
  return typeof crypto !== "undefined" && crypto.randomUUID ? crypto.randomUUID()
    : `${Date.now()}-${Math.random().toString(16).slice(2)}`;
}

// A JSON-RPC error from the host, as the error a page author can act on.
function fromRpcError(error) {
  const data = error.data || {};
  if (error.code === -32010) {
    if (data.refused === "origin") return new KadroOAError("ORIGIN_REFUSED", undefined, { target: data.target });
    const what = REFUSED_TARGETS[data.refused] || data.refused;
    return new KadroOAError("TARGET_REFUSED", `${MESSAGES.TARGET_REFUSED} ${what} ${JSON.stringify(data.target)}.`,
      { refused: data.refused, target: data.target });
  }
  if (error.code === -32000) {
    return new KadroOAError("RUNTIME_ERROR", `The control raised a run-time error: ${error.message}`,
      { number: data.number });
  }
  return new KadroOAError("PROTOCOL_ERROR", `kadrooa answered with error ${error.code}: ${error.message}`,
    { rpcCode: error.code, data: error.data });
}

function defaultPrompt(prompt) {
  if (typeof alert === "function") alert(prompt.text);
}

// One connection through the extension to one host process.
class Connection {
  constructor(options) {
    this.object = newId();
    this.options = options;
    this.pending = new Map();  // call id -> {resolve, reject, timer}
    this.nextId = 1;
    this.closed = null;        // the error every later call rejects with
    this.onMessage = (event) => this.receive(event);
  }

  post(body) {
    window.postMessage({ [TAG]: "page", object: this.object, ...body }, window.location.origin);
  }

  open() {
    return new Promise((resolve, reject) => {
      const timeout = this.options.timeout ?? 10000;
      let accepted = false;
      const fail = (error) => { this.close(error); reject(error); };
      this.opening = {
        accepted: (message) => {
          accepted = true;
          this.extension = message.extension;
          if (message.protocol !== PROTOCOL) fail(new KadroOAError("VERSION_MISMATCH", undefined, { extension: message.extension }));
        },
        ready: (result) => {
          clearTimeout(timer);
          this.host = result.host;
          if (result.protocol !== PROTOCOL) return fail(new KadroOAError("VERSION_MISMATCH", undefined, { host: result.host }));
          this.opening = null;
          resolve(this);
        },
        fail: (error) => { clearTimeout(timer); fail(error); },
      };
      const timer = setTimeout(() => fail(new KadroOAError(accepted ? "TIMEOUT" : "EXTENSION_MISSING")), timeout);
      window.addEventListener("message", this.onMessage);
      this.post({ type: "connect" });
    });
  }

  receive(event) {
    const data = event.data;
    if (event.source !== window || !data || data[TAG] !== "extension" || data.object !== this.object) return;
    if (data.type === "accepted") {
      this.opening?.accepted(data);
    } else if (data.type === "exit") {
      const code = data.started ? "HOST_EXITED" : "HOST_MISSING";
      const detail = data.error ? ` (${data.error})` : "";
      const error = new KadroOAError(code, MESSAGES[code] + detail);
      if (this.opening) this.opening.fail(error); else this.close(error);
    } else if (data.type === "message") {
      this.dispatch(data.message);
    }
  }

  dispatch(message) {
    if (!message || typeof message !== "object") return;
    if (message.id === 0 && this.opening) {
      if (message.error) this.opening.fail(fromRpcError(message.error));
      else this.opening.ready(message.result || {});
      return;
    }
    if (message.method === "kadrooa.prompt") return this.prompt(message.params || {});
    if (message.method === "kadrooa.progress") {
      const p = message.params || {};
      const pending = this.pending.get(p.call);
      this.options.onProgress?.({ call: p.call, method: pending?.method, done: p.done, total: p.total });
      return;
    }
    const pending = this.pending.get(message.id);
    if (!pending) return;
    this.pending.delete(message.id);
    clearTimeout(pending.timer);
    if (message.error) pending.reject(fromRpcError(message.error));
    else pending.resolve(message.result);
  }

  async prompt(params) {
    const handler = this.options.onPrompt || defaultPrompt;
    try {
      await handler({ title: params.title, text: params.text, call: params.call });
    } finally {
      // The control's message box has one button: whatever the handler did, the call goes on.
      if (!this.closed) this.post({ type: "message", message: { jsonrpc: "2.0", method: "kadrooa.answer", params: { prompt: params.prompt } } });
    }
  }

  call(method, params) {
    if (this.closed) return Promise.reject(this.closed);
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      const entry = { method, resolve, reject, timer: null };
      const limit = this.options.callTimeout;
      if (limit > 0) {
        entry.timer = setTimeout(() => this.close(new KadroOAError("TIMEOUT", `${method} was not answered within ${limit} ms; the connection was closed.`)), limit);
      }
      this.pending.set(id, entry);
      this.post({ type: "message", message: { jsonrpc: "2.0", id, method, params } });
    });
  }

  close(error) {
    if (this.closed) return;
    this.closed = error || new KadroOAError("HOST_EXITED", "This KadroOA object was closed.");
    window.removeEventListener("message", this.onMessage);
    this.post({ type: "disconnect" });
    for (const entry of this.pending.values()) {
      clearTimeout(entry.timer);
      entry.reject(this.closed);
    }
    this.pending.clear();
  }
}

function makeControl(connection) {
  let queue = Promise.resolve();
  const control = {
    get versions() {
      return { library: LIBRARY_VERSION, extension: connection.extension, host: connection.host };
    },
    // Ends the host; the control's temporary files stay as a closed tab would leave them.
    close() {
      connection.close();
    },
  };
  for (const [name, arity] of Object.entries(METHODS)) {
    control[name] = (...args) => {
      const params = args.slice(0, arity);
      while (params.length < arity) params.push(null);
      const result = queue.then(() => connection.call(name, params));
      queue = result.catch(() => {});
      return result;
    };
  }
  return Object.freeze(control);
}

export const KadroOA = Object.freeze({
  version: LIBRARY_VERSION,
  protocol: PROTOCOL,
  methods: Object.freeze(Object.keys(METHODS)),
  KadroOAError,

  // Options: onPrompt(prompt) (may return a promise; default: alert), onProgress({call, method, done, total}),
  // timeout (ms to reach the host, default 10000), callTimeout (ms per call, default none).
  async create(options = {}) {
    const connection = new Connection(options);
    await connection.open();
    return makeControl(connection);
  },

  // The versions of the library, the extension and the host; a part that did not answer is null, and `code`
  // says why (null when all three answered).
  async status(options = {}) {
    const connection = new Connection({ timeout: 5000, ...options });
    const report = { library: LIBRARY_VERSION, protocol: PROTOCOL, extension: null, host: null, code: null };
    try {
      await connection.open();
    } catch (error) {
      report.code = error.code || "PROTOCOL_ERROR";
    }
    report.extension = connection.extension ?? null;
    report.host = connection.host ?? null;
    connection.close();
    return report;
  },
});

export default KadroOA;
