// kadroo.js: the KadroOcx control's methods for a page, each returning a promise. In Chromium, Chrome, Edge and
// Firefox it goes through the KadroOA extension and its native host; where ActiveXObject exists (Internet
// Explorer, Edge's IE mode) it drives the ActiveX control itself. One object is one control; its calls run one at
// a time in the order they were made.
//
// This file is the library's one source: the ES module as it is, and the classic script kadroo.js made from it by
// the build (everything above the exports, in a function scope). The classic script must also parse in Internet
// Explorer's JScript, so the code is written for ES3: no let/const, arrow functions, classes, template strings,
// getters, trailing commas, or reserved words after a dot.

var LIBRARY_VERSION = "1.0.0";
var PROTOCOL = 1;
var TAG = "kadrooa";
var PROGID = "KadroOA.KadroOcx";
// The longest message the bridge carries, in UTF-16 units of its JSON.
var MAX_MESSAGE = 262144;

// The control's scripted interface, in the order of its type library, with each argument's kind (s text, n number).
var METHODS = [
  ["isInstalled", ""], ["setparm", "ssn"], ["getMoBanFile", ""], ["getLocalFile", ""], ["setLocalFile", "s"],
  ["getRemoteFile", ""], ["getErrorMsg", ""], ["getTiShiMsg", ""], ["getFile", "ss"], ["GetFileToFile", "ss"],
  ["saveFile", ""], ["PutFile", "ssn"], ["Dispose", ""], ["GetAllRegValue", "s"], ["OpenExefile", "ss"],
  ["OpenExefileByReg", "ssss"], ["GetErr", "ns"]
];

// The library's own texts, in the browser's language (Chinese, else English), one table for every path, Internet
// Explorer's included; {0}, {1}... are filled in. The control's own messages stay as the control gives them.
var TEXTS = {
  en: {
    EXTENSION_MISSING: "The KadroOA extension did not answer: it is not installed, or this site is not listed in the administrator's KadroOA policy.",
    HOST_MISSING: "The browser could not start the KadroOA program (kadrooa): the KadroOA package is not installed for this browser.",
    CONTROL_MISSING: "The KadroOA control ({0}) could not be created: it is not installed, or the browser's security settings do not allow it ({1}).",
    ORIGIN_REFUSED: "This site is not listed in the administrator's KadroOA policy ({0}).",
    TARGET_REFUSED: "The administrator's KadroOA policy does not allow this site to use {0} {1}.",
    VERSION_MISMATCH: "The versions of kadroo.js, the KadroOA extension and the kadrooa program do not match; update them together.",
    OLDER: "{0} ({1}) is older than {2} ({3}) and speaks another protocol: update {0}.",
    HOST_EXITED: "The kadrooa program ended before the call was answered; create a new KadroOA object to go on.",
    EXTENSION_RESTARTED: "The KadroOA extension was updated or restarted, and this object's kadrooa ended with it; create a new KadroOA object to go on.",
    CLOSED: "This KadroOA object was closed.",
    TIMEOUT: "KadroOA did not answer in time.",
    CALL_TIMEOUT: "{0} was not answered within {1} ms; the connection was closed.",
    RUNTIME_ERROR: "The control raised a run-time error: {0}",
    PROTOCOL_ERROR: "kadrooa answered with error {0}: {1}",
    LIMIT_EXCEEDED: "The KadroOA bridge does not carry this: {0}.",
    LIMIT_message: "a call of more than {0} characters of JSON",
    LIMIT_objects: "more than {0} KadroOA objects open in one tab",
    LIMIT_calls: "a second call in flight on one object",
    ftpServer: "the FTP server", program: "the program", registryKey: "the registry key", localFolder: "the local file",
    origin: "this site", library: "kadroo.js", extension: "the KadroOA extension", host: "the kadrooa program"
  },
  zh: {
    EXTENSION_MISSING: "KadroOA 扩展没有应答：扩展没有安装，或者管理员的 KadroOA 策略没有列出本站点。",
    HOST_MISSING: "浏览器无法启动 KadroOA 程序（kadrooa）：本浏览器没有安装 KadroOA 软件包。",
    CONTROL_MISSING: "无法创建 KadroOA 控件（{0}）：控件没有安装，或者浏览器的安全设置不允许（{1}）。",
    ORIGIN_REFUSED: "管理员的 KadroOA 策略（{0}）没有列出本站点。",
    TARGET_REFUSED: "管理员的 KadroOA 策略不允许本站点使用{0} {1}。",
    VERSION_MISMATCH: "kadroo.js、KadroOA 扩展和 kadrooa 程序的版本不一致，请一起更新。",
    OLDER: "{0}（{1}）比{2}（{3}）旧，协议不同：请更新{0}。",
    HOST_EXITED: "kadrooa 程序在调用得到应答之前结束了；请新建一个 KadroOA 对象继续。",
    EXTENSION_RESTARTED: "KadroOA 扩展已更新或重新启动，本对象的 kadrooa 程序随之结束；请新建一个 KadroOA 对象继续。",
    CLOSED: "这个 KadroOA 对象已经关闭。",
    TIMEOUT: "KadroOA 没有及时应答。",
    CALL_TIMEOUT: "{0} 在 {1} 毫秒内没有得到应答，连接已关闭。",
    RUNTIME_ERROR: "控件发生运行时错误：{0}",
    PROTOCOL_ERROR: "kadrooa 返回错误 {0}：{1}",
    LIMIT_EXCEEDED: "KadroOA 桥接不能传递：{0}。",
    LIMIT_message: "JSON 超过 {0} 个字符的调用",
    LIMIT_objects: "一个标签页中超过 {0} 个 KadroOA 对象",
    LIMIT_calls: "同一个对象上同时进行的第二个调用",
    ftpServer: "FTP 服务器", program: "程序", registryKey: "注册表项", localFolder: "本地文件",
    origin: "本站点", library: "kadroo.js", extension: "KadroOA 扩展", host: "kadrooa 程序"
  }
};

// The browser's language: navigator.language, or Internet Explorer's own names for it; English without one (Windows
// Script Host).
function language() {
  var n = typeof navigator !== "undefined" ? navigator : null;
  var tag = n ? n.language || n.userLanguage || n.browserLanguage || "" : "";
  return /^zh/i.test(tag) ? "zh" : "en";
}

function text(key) {
  var args = arguments, table = TEXTS[language()];
  var template = table.hasOwnProperty(key) ? table[key] : TEXTS.en[key];
  return template.replace(/\{(\d)\}/g, function (all, i) { return String(args[Number(i) + 1]); });
}

// How the control words a refusal (run-time error 70), and where its policy is kept.
var REFUSAL_PREFIX = "Refused by the administrator's policy: ";
var REGISTRY_POLICY = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\KadroOA";

var freeze = Object.freeze || function (object) { return object; };

// ---- promises: the engine's own, or a small one where it has none (Internet Explorer, Windows Script Host) ----

var jobs = [];
var draining = false;
var drainScheduled = false;

function runJobs() {
  drainScheduled = false;
  draining = true;
  try {
    while (jobs.length) jobs.shift()();
  } finally {
    draining = false;
  }
}

// Runs `job` after the current script returns; where there is no timer (Windows Script Host) at once, but never
// inside another job.
function later(job) {
  jobs.push(job);
  if (draining || drainScheduled) return;
  if (typeof setTimeout !== "undefined") {
    drainScheduled = true;
    setTimeout(runJobs, 0);
  } else {
    runJobs();
  }
}

function OwnPromise(executor) {
  var self = this, done = false;
  this.state = 0;  // 1 fulfilled, 2 rejected
  this.value = null;
  this.waiting = [];
  try {
    executor(function (value) {
      if (!done) { done = true; settle(self, value); }
    }, function (reason) {
      if (!done) { done = true; finish(self, 2, reason); }
    });
  } catch (e) {
    if (!done) { done = true; finish(self, 2, e); }
  }
}

function settle(promise, value) {
  if (value === promise) return finish(promise, 2, new TypeError("A promise cannot resolve to itself."));
  if (value && (typeof value === "object" || typeof value === "function")) {
    var then, called = false;
    try {
      then = value.then;
      if (typeof then === "function") {
        then.call(value, function (v) {
          if (!called) { called = true; settle(promise, v); }
        }, function (r) {
          if (!called) { called = true; finish(promise, 2, r); }
        });
        return;
      }
    } catch (e) {
      if (!called) { called = true; finish(promise, 2, e); }
      return;
    }
  }
  finish(promise, 1, value);
}

function finish(promise, state, value) {
  var waiting = promise.waiting;
  promise.state = state;
  promise.value = value;
  promise.waiting = null;
  for (var i = 0; i < waiting.length; ++i) notify(promise, waiting[i]);
}

function notify(promise, waiter) {
  later(function () {
    var handler = promise.state === 1 ? waiter.onFulfilled : waiter.onRejected;
    if (typeof handler !== "function") {
      if (promise.state === 1) waiter.resolve(promise.value); else waiter.reject(promise.value);
      return;
    }
    var result;
    try {
      result = handler(promise.value);
    } catch (e) {
      waiter.reject(e);
      return;
    }
    waiter.resolve(result);
  });
}

OwnPromise.prototype.then = function (onFulfilled, onRejected) {
  var promise = this;
  return new OwnPromise(function (resolve, reject) {
    var waiter = { onFulfilled: onFulfilled, onRejected: onRejected, resolve: resolve, reject: reject };
    if (promise.waiting) promise.waiting.push(waiter); else notify(promise, waiter);
  });
};

OwnPromise.prototype["catch"] = function (onRejected) {
  return this.then(null, onRejected);
};

var P = typeof Promise !== "undefined" ? Promise : OwnPromise;

function resolved(value) {
  return new P(function (resolve) { resolve(value); });
}

function rejected(reason) {
  return new P(function (resolve, reject) { reject(reason); });
}

// ---- errors ----

function copy(target, source) {
  for (var key in source) {
    if (Object.prototype.hasOwnProperty.call(source, key)) target[key] = source[key];
  }
  return target;
}

function KadroOAError(code, message, details) {
  this.code = code;
  this.message = message || (TEXTS.en.hasOwnProperty(code) ? text(code) : code);
  if (details) copy(this, details);
  var stack = new Error(this.message).stack;
  if (stack) this.stack = stack;
}

function ErrorPrototype() {}
ErrorPrototype.prototype = Error.prototype;
KadroOAError.prototype = new ErrorPrototype();
KadroOAError.prototype.constructor = KadroOAError;
KadroOAError.prototype.name = "KadroOAError";

// A refusal by the administrator's policy: what was refused, the target, and where the policy is kept.
function fromRefusal(refused, target, policy) {
  if (refused === "origin") {
    return new KadroOAError("ORIGIN_REFUSED", text("ORIGIN_REFUSED", policy), { target: target });
  }
  var what = TEXTS.en.hasOwnProperty(refused) ? text(refused) : refused;
  // An engine of Internet Explorer's before its 8 standards mode has no JSON.
  var quoted = typeof JSON !== "undefined" ? JSON.stringify(target) : "\"" + target + "\"";
  return new KadroOAError("TARGET_REFUSED", text("TARGET_REFUSED", what, quoted), { refused: refused, target: target });
}

// A JSON-RPC error from the host, as the error a page author can act on.
function fromRpcError(error) {
  var data = error.data || {};
  if (error.code === -32010) return fromRefusal(data.refused, data.target, data.policy);
  if (error.code === -32013 || error.code === -32014) {
    return limitExceeded(error.code === -32013 ? "calls" : "message", data.limit);
  }
  if (error.code === -32000) {
    return new KadroOAError("RUNTIME_ERROR", text("RUNTIME_ERROR", error.message),
      { number: data.number });
  }
  return new KadroOAError("PROTOCOL_ERROR", text("PROTOCOL_ERROR", error.code, error.message),
    { rpcCode: error.code, data: error.data });
}

function limitExceeded(limit, max) {
  return new KadroOAError("LIMIT_EXCEEDED", text("LIMIT_EXCEEDED", text("LIMIT_" + limit, max)),
    { limit: limit, max: max });
}

// A protocol's major number: parts that differ only in the minor one work together.
function major(protocol) {
  return typeof protocol === "number" ? Math.floor(protocol) : parseInt(String(protocol), 10);
}

// The extension or the host speaks another protocol: which part is older, by its protocol's major number.
function mismatch(part, version, protocol) {
  var older = major(protocol) < PROTOCOL ? part : "library";
  var newer = older === part ? "library" : part;
  var versions = { library: LIBRARY_VERSION };
  versions[part] = version;
  var details = { older: older };
  details[part] = version;
  return new KadroOAError("VERSION_MISMATCH", text("OLDER", text(older), versions[older], text(newer), versions[newer]),
    details);
}

// The exception a script sees from the control: its run-time error number is the low word of a FACILITY_CONTROL
// HRESULT (0x800A....), as a page read it with `e.number & 0xFFFF`; any other HRESULT is kept whole.
// A refusal is error 70 worded "PREFIX KIND TARGET", an origin's with " (why)" after it.
function fromComError(e) {
  var number = typeof e.number === "number" ? e.number : 0;
  var message = e.message || e.description || String(e);
  number = (number >>> 16) === 0x800A ? number & 0xFFFF : number >>> 0;
  if (number === 70 && message.indexOf(REFUSAL_PREFIX) === 0) {
    var rest = message.slice(REFUSAL_PREFIX.length), refused = rest.slice(0, rest.indexOf(" "));
    var target = rest.slice(refused.length + 1), why = target.indexOf(" (");
    return fromRefusal(refused, refused === "origin" && why >= 0 ? target.slice(0, why) : target, REGISTRY_POLICY);
  }
  return new KadroOAError("RUNTIME_ERROR", text("RUNTIME_ERROR", message), { number: number });
}

// ---- the bridge: a connection through the extension to one host process ----

function newId() {
  return typeof crypto !== "undefined" && crypto.randomUUID ? crypto.randomUUID()
    : new Date().getTime() + "-" + Math.random().toString(16).slice(2);
}

function defaultPrompt(prompt) {
  if (typeof alert !== "undefined") alert(prompt.text);
}

function Connection(options) {
  var self = this;
  this.object = newId();
  this.options = options;
  this.pending = {};   // call id -> {method, resolve, reject, timer}
  this.nextId = 1;
  this.closed = null;  // the error every later call rejects with
  this.opening = null;
  this.extension = null;
  this.host = null;
  this.onMessage = function (event) { self.receive(event); };
}

Connection.prototype.post = function (body) {
  var message = copy({ object: this.object }, body);
  message[TAG] = "page";
  window.postMessage(message, window.location.origin);
};

Connection.prototype.open = function () {
  var self = this;
  return new P(function (resolve, reject) {
    var timeout = self.options.timeout != null ? self.options.timeout : 10000;
    var accepted = false, timer = null, again = null;
    var fail = function (error) { clearInterval(again); self.close(error); reject(error); };
    self.opening = {
      accepted: function (message) {
        accepted = true;
        clearInterval(again);
        self.extension = message.extension;
        if (major(message.protocol) !== PROTOCOL) fail(mismatch("extension", message.extension, message.protocol));
      },
      ready: function (result) {
        clearTimeout(timer);
        self.host = result.host;
        if (major(result.protocol) !== PROTOCOL) return fail(mismatch("host", result.host, result.protocol));
        self.opening = null;
        resolve(self);
      },
      fail: function (error) { clearTimeout(timer); fail(error); }
    };
    timer = setTimeout(function () { fail(new KadroOAError(accepted ? "TIMEOUT" : "EXTENSION_MISSING")); }, timeout);
    window.addEventListener("message", self.onMessage);
    // The extension's script may still be starting in a page that has just loaded: ask again until it answers.
    self.post({ type: "connect" });
    again = setInterval(function () { self.post({ type: "connect" }); }, 250);
  });
};

Connection.prototype.receive = function (event) {
  var data = event.data;
  if (event.source !== window || !data || data[TAG] !== "extension") return;
  // The extension's script has (re)started in this page: it was installed after the page loaded, or an update cut
  // the earlier one off, and with it the host of an object made through it.
  if (data.type === "ready") {
    if (!this.opening) this.close(new KadroOAError("HOST_EXITED", text("EXTENSION_RESTARTED")));
    else if (!this.extension) this.post({ type: "connect" });
    return;
  }
  if (data.object !== this.object) return;
  if (data.type === "accepted") {
    if (this.opening) this.opening.accepted(data);
  } else if (data.type === "exit") {
    var code = data.started ? "HOST_EXITED" : "HOST_MISSING";
    var error = new KadroOAError(code, data.restarted ? text("EXTENSION_RESTARTED")
      : text(code) + (data.error ? " (" + data.error + ")" : ""));
    if (this.opening) this.opening.fail(error); else this.close(error);
  } else if (data.type === "refused") {
    if (this.opening) this.opening.fail(limitExceeded(data.limit, data.max));
  } else if (data.type === "message") {
    this.dispatch(data.message);
  }
};

Connection.prototype.dispatch = function (message) {
  if (!message || typeof message !== "object") return;
  if (message.id === 0 && this.opening) {
    if (message.error) this.opening.fail(fromRpcError(message.error));
    else this.opening.ready(message.result || {});
    return;
  }
  if (message.method === "kadrooa.prompt") return this.prompt(message.params || {});
  if (message.method === "kadrooa.progress") {
    var p = message.params || {};
    var waiting = this.pending[p.call];
    if (this.options.onProgress) {
      this.options.onProgress({ call: p.call, method: waiting ? waiting.method : undefined, done: p.done,
        total: p.total });
    }
    return;
  }
  var id = message.id;
  // An error without an id (a message the host could not read) answers the one call in flight.
  if (id == null && message.error) {
    for (var key in this.pending) {
      if (Object.prototype.hasOwnProperty.call(this.pending, key)) id = key;
    }
  }
  var pending = this.pending[id];
  if (!pending) return;
  delete this.pending[id];
  clearTimeout(pending.timer);
  if (message.error) pending.reject(fromRpcError(message.error));
  else pending.resolve(message.result);
};

Connection.prototype.prompt = function (params) {
  var self = this, handler = this.options.onPrompt || defaultPrompt, shown = null;
  // The control's message box has one button: whatever the handler did, the call goes on.
  var answer = function () {
    if (!self.closed) {
      self.post({ type: "message", message: { jsonrpc: "2.0", method: "kadrooa.answer", params: { prompt: params.prompt } } });
    }
  };
  try {
    shown = handler({ title: params.title, text: params.text, call: params.call });
  } catch (e) {
    shown = null;
  }
  resolved(shown).then(answer, answer);
};

Connection.prototype.call = function (method, params) {
  if (this.closed) return rejected(this.closed);
  var self = this, id = this.nextId++;
  var message = { jsonrpc: "2.0", id: id, method: method, params: params };
  return new P(function (resolve, reject) {
    // Refused here, what the bridge would not carry: it never settles in some browsers.
    var text = null;
    try {
      text = JSON.stringify(message);
    } catch (e) {  // a value JSON cannot write (a cycle) is no text or number either
    }
    if (text === null || text.length > MAX_MESSAGE) return reject(limitExceeded("message", MAX_MESSAGE));
    var entry = { method: method, resolve: resolve, reject: reject, timer: null };
    var limit = self.options.callTimeout;
    if (limit > 0) {
      entry.timer = setTimeout(function () {
        self.close(new KadroOAError("TIMEOUT", text("CALL_TIMEOUT", method, limit)));
      }, limit);
    }
    self.pending[id] = entry;
    try {
      self.post({ type: "message", message: message });
    } catch (e) {  // what the page's messaging cannot copy (a function)
      delete self.pending[id];
      clearTimeout(entry.timer);
      reject(limitExceeded("message", MAX_MESSAGE));
    }
  });
};

Connection.prototype.close = function (error) {
  if (this.closed) return;
  this.closed = error || new KadroOAError("HOST_EXITED", text("CLOSED"));
  window.removeEventListener("message", this.onMessage);
  this.post({ type: "disconnect" });
  var pending = this.pending;
  this.pending = {};
  for (var id in pending) {
    if (Object.prototype.hasOwnProperty.call(pending, id)) {
      clearTimeout(pending[id].timer);
      pending[id].reject(this.closed);
    }
  }
};

// ---- the ActiveX control itself (Internet Explorer, Edge's IE mode, Windows Script Host) ----

function hasActiveX() {
  return typeof ActiveXObject !== "undefined" ||
    // Internet Explorer 11 hides the constructor from typeof in its standards mode, not from `in`.
    (typeof window !== "undefined" && "ActiveXObject" in window);
}

function createControl() {
  try {
    return new ActiveXObject(PROGID);
  } catch (e) {
    throw new KadroOAError("HOST_MISSING", text("CONTROL_MISSING", PROGID, e.message || e.description || e),
      { number: typeof e.number === "number" ? e.number >>> 0 : undefined });
  }
}

function ActiveXConnection(control) {
  this.control = control;
  this.closed = null;
  this.extension = null;
  this.host = null;
}

// A method of a COM object is no function in the old engine (no apply): it is called by name with its arguments.
function invoke(control, method, a) {
  switch (a.length) {
    case 0: return control[method]();
    case 1: return control[method](a[0]);
    case 2: return control[method](a[0], a[1]);
    case 3: return control[method](a[0], a[1], a[2]);
    default: return control[method](a[0], a[1], a[2], a[3]);
  }
}

ActiveXConnection.prototype.call = function (method, params, kinds) {
  if (this.closed) return rejected(this.closed);
  var control = this.control, args = [];
  // The host reads a missing argument (null) as the empty text or 0; the control itself would refuse a Null.
  for (var i = 0; i < params.length; ++i) {
    args.push(params[i] == null ? (kinds.charAt(i) === "n" ? 0 : "") : params[i]);
  }
  return new P(function (resolve, reject) {
    var result;
    try {
      result = invoke(control, method, args);
    } catch (e) {
      reject(fromComError(e));
      return;
    }
    resolve(result === undefined ? null : result);
  });
};

ActiveXConnection.prototype.close = function () {
  if (this.closed) return;
  this.closed = new KadroOAError("HOST_EXITED", text("CLOSED"));
  this.control = null;
};

// ---- the object a page gets ----

function makeMethod(connection, order, name, kinds) {
  return function () {
    var params = Array.prototype.slice.call(arguments, 0, kinds.length);
    while (params.length < kinds.length) params.push(null);
    return order(function () { return connection.call(name, params, kinds); });
  };
}

function makeControl(connection, runsOn) {
  var queue = resolved(null);
  // Calls run one at a time in the order made, whatever became of the one before.
  var order = function (call) {
    var result = queue.then(call);
    queue = result.then(null, function () {});
    return result;
  };
  var control = {
    runsOn: runsOn,
    versions: freeze({ library: LIBRARY_VERSION, extension: connection.extension, host: connection.host }),
    // Ends the host (or lets the control go); its temporary files stay as a closed tab would leave them.
    close: function () { connection.close(); }
  };
  for (var i = 0; i < METHODS.length; ++i) {
    control[METHODS[i][0]] = makeMethod(connection, order, METHODS[i][0], METHODS[i][1]);
  }
  return freeze(control);
}

var methodNames = [];
for (var m = 0; m < METHODS.length; ++m) methodNames.push(METHODS[m][0]);

var KadroOA = freeze({
  version: LIBRARY_VERSION,
  protocol: PROTOCOL,
  methods: freeze(methodNames),
  KadroOAError: KadroOAError,
  // The promise the library returns: the engine's own, or the library's where the engine has none.
  Promise: P,

  // Options: onPrompt(prompt) (may return a promise; default: alert), onProgress({call, method, done, total}),
  // timeout (ms to reach the host, default 10000), callTimeout (ms per call, default none); in IE mode `control`,
  // an <object> of the control already on the page, to use instead of a new one.
  create: function (options) {
    options = options || {};
    if (options.control || hasActiveX()) {
      return new P(function (resolve) {
        resolve(makeControl(new ActiveXConnection(options.control || createControl()), "activex"));
      });
    }
    var connection = new Connection(options);
    return connection.open().then(function () { return makeControl(connection, "extension"); });
  },

  // What the library runs on ("extension" or "activex") and the versions of its parts; a part that did not answer
  // is null, and `code` says why (null when all answered). In IE mode there is no extension or host: `control` is
  // the ProgID when the control could be created.
  status: function (options) {
    options = options || {};
    var report = { library: LIBRARY_VERSION, protocol: PROTOCOL, runsOn: "extension", extension: null, host: null,
                   code: null, older: null };
    if (hasActiveX()) {
      report.runsOn = "activex";
      report.control = null;
      try {
        createControl();
        report.control = PROGID;
      } catch (e) {
        report.code = e.code;
      }
      return resolved(report);
    }
    var connection = new Connection(copy({ timeout: 5000 }, options));
    var done = function () {
      report.extension = connection.extension != null ? connection.extension : null;
      report.host = connection.host != null ? connection.host : null;
      connection.close();
      return report;
    };
    return connection.open().then(done, function (error) {
      report.code = error.code || "PROTOCOL_ERROR";
      report.older = error.older || null;
      return done();
    });
  }
});

export { KadroOAError, KadroOA };
export default KadroOA;
