// The extension's worker: for each page object, after checking the page's origin against the administrator's
// list, one native port to kadrooa; messages are passed through unchanged, and nothing else is done.
"use strict";
const api = globalThis.browser ?? globalThis.chrome;
const HOST = "org.kadrooa.host";
const PROTOCOL = 1;
const VERSION = api.runtime.getManifest().version;

// The origins the administrator listed, from the reader of the policy file (kadrooa.exe itself on Windows; on Linux
// a program that does nothing else, so that no host runs for an unlisted page), which sees an edit of the file at
// once; only when it cannot answer, the "origins" of the extension's managed storage, which the browsers fill from
// their policy files (Firefox reads those only when it starts; Chromium 156 on Linux leaves it empty). Nothing is
// listed without either. The host reads the policy itself before it serves a page, so the list here only spares
// an unlisted page a host; a page listed before may go on at once while it is read again.
const ORIGINS_READER = "org.kadrooa.origins";
const READ_AGAIN_MS = 30000;
let cached = null;  // {origins, at}
let reading = null;

function withTimeout(promise, ms) {
  return Promise.race([promise, new Promise((resolve) => setTimeout(() => resolve(undefined), ms))]);
}

function originList(value) {
  return Array.isArray(value) ? value.filter((o) => typeof o === "string") : null;
}

async function readOrigins() {
  const question = { jsonrpc: "2.0", id: 0, method: "kadrooa.origins" };
  const managed = withTimeout(Promise.resolve().then(() => api.storage.managed.get("origins")), 500)
    .then((value) => originList(value?.origins), () => null);
  const read = await withTimeout(api.runtime.sendNativeMessage(ORIGINS_READER, question), 5000)
    .then((answer) => originList(answer?.result?.origins), () => null);
  return read ?? (await managed) ?? [];
}

function readAgain() {
  reading ??= readOrigins().then((origins) => {
    cached = { origins, at: Date.now() };
    reading = null;
    return origins;
  });
  return reading;
}

async function isListed(origin) {
  const fresh = cached && Date.now() - cached.at <= READ_AGAIN_MS;
  if (cached?.origins.includes(origin)) {
    if (!fresh) readAgain();
    return true;
  }
  return !fresh && (await readAgain()).includes(origin);
}

// The origin of the page's top-level document, as the browser reports it.
function senderOrigin(sender) {
  if (sender.frameId !== 0 || !sender.tab) return null;
  if (typeof sender.origin === "string" && sender.origin !== "null") return sender.origin;
  try {
    return new URL(sender.url).origin;
  } catch {
    return null;
  }
}

function serve(page, origin) {
  let host = null;
  let started = false;  // the host answered at least once
  let pageGone = false;
  page.onDisconnect.addListener(() => {
    pageGone = true;
    host?.disconnect();
  });
  page.postMessage({ type: "accepted", extension: VERSION, protocol: PROTOCOL });
  host = api.runtime.connectNative(HOST);
  host.onMessage.addListener((message) => {
    started = true;
    page.postMessage({ type: "message", message });
  });
  host.onDisconnect.addListener((port) => {
    if (pageGone) return;
    const error = (port && port.error && port.error.message) || api.runtime.lastError?.message || "";
    page.postMessage({ type: "exit", started, error });
    page.disconnect();
  });
  page.onMessage.addListener((body) => {
    if (!body || body.type !== "message" || !body.message || typeof body.message !== "object") return;
    const message = body.message;
    if (message.method === "kadrooa.hello") return;  // the handshake is the extension's alone
    host.postMessage(message);
  });
  host.postMessage({ jsonrpc: "2.0", id: 0, method: "kadrooa.hello", params: { origin, extension: VERSION, protocol: PROTOCOL } });
}

api.runtime.onConnect.addListener(async (page) => {
  if (page.name !== "kadrooa") return page.disconnect();
  const origin = senderOrigin(page.sender);
  const listed = origin !== null && (await isListed(origin));
  // An unlisted page hears nothing back, and no host is started for it.
  if (!listed) return page.disconnect();
  serve(page, origin);
});

readAgain();  // read once when the worker starts, so that a page's first call does not wait for it
