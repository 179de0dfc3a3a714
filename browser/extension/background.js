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
// What one tab may hold at once: page objects (hosts). The content script keeps the same bound, and lets one call
// per object be in flight.
const MAX_OBJECTS = 8;
// The longest message a page may send, in UTF-16 units of its JSON (the library and the content script check it
// too); the host's frame reader takes what the browser makes of it.
const MAX_MESSAGE = 262144;
const SCRIPT = "kadrooa";
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
  const answer = await withTimeout(api.runtime.sendNativeMessage(ORIGINS_READER, question), 5000)
    .catch(() => undefined);
  followPackage(answer?.result?.extension);
  return originList(answer?.result?.origins) ?? (await managed) ?? [];
}

// The package brought another version of the extension (the reader says which): ask the browser for it now rather
// than at its next daily check. Chromium has it ready at once and applies it when the extension restarts, which it
// does as soon as no page object holds a host, so that no clerk's open document loses its host. Firefox takes a new
// version only when it starts.
let hostsOpen = 0;
let updateReady = false;
function followPackage(version) {
  if (typeof version !== "string" || version === VERSION || !api.runtime.requestUpdateCheck) return;
  Promise.resolve().then(() => api.runtime.requestUpdateCheck()).catch(() => {});
}
api.runtime.onUpdateAvailable?.addListener(() => {
  updateReady = true;
  restartIfIdle();
});
function restartIfIdle() {
  if (updateReady && hostsOpen === 0) api.runtime.reload();
}

// Pages that were open before this worker started get the content script: the browser's first page, loaded while
// the policy was still installing the extension, and pages whose script an update cut off. The browsers put
// content scripts only into pages loaded later. A page that already has a live one keeps it (content.js).
async function reachOpenPages(origins) {
  if (!origins.length) return;
  for (const tab of await api.tabs.query({ url: ["http://*/*", "https://*/*"] })) {
    let origin = null;
    try {
      origin = new URL(tab.url).origin;
    } catch {
      continue;
    }
    if (!origins.includes(origin)) continue;
    api.scripting.executeScript({ target: { tabId: tab.id }, files: ["content.js"] }).catch(() => {});
  }
}

function readAgain() {
  reading ??= readOrigins().then((origins) => {
    const added = origins.some((origin) => !cached?.origins.includes(origin));
    cached = { origins, at: Date.now() };
    reading = null;
    register(origins);
    // Once the content script knows the list (it reads it from storage when it starts).
    if (added) registering.then(() => reachOpenPages(origins)).catch(() => {});
    return origins;
  });
  return reading;
}

// The content script runs in the listed origins' pages only, so that no other page can see a trace of it. Firefox's
// match patterns cannot name a port (it takes one, then matches nothing): there it is registered for the listed
// hosts, and the script itself, before it listens to anything, leaves every page whose origin is not in the list
// kept here.
const PORTS_MATCH = typeof api.runtime.getBrowserInfo !== "function";  // not Firefox

function patterns(origins) {
  return [...new Set(origins.flatMap((origin) => {
    try {
      const url = new URL(origin);
      if (url.origin !== origin || !/^https?:$/.test(url.protocol)) return [];
      return [`${url.protocol}//${PORTS_MATCH ? url.host : url.hostname}/*`];
    } catch {
      return [];  // no origin a browser reports: it names no page
    }
  }))].sort();
}

let registering = Promise.resolve();
function register(origins) {
  registering = registering.then(async () => {
    await api.storage.local.set({ origins });
    const [now] = await api.scripting.getRegisteredContentScripts({ ids: [SCRIPT] });
    const matches = patterns(origins);
    if (JSON.stringify(now ? [...now.matches].sort() : []) === JSON.stringify(matches)) return;
    if (now) await api.scripting.unregisterContentScripts({ ids: [SCRIPT] });
    if (!matches.length) return;
    await api.scripting.registerContentScripts([{ id: SCRIPT, js: ["content.js"], matches, runAt: "document_start",
                                                  allFrames: false }]);
  }).catch((error) => console.error("kadrooa: the content script could not be registered:", error));
}

async function isListed(origin) {
  const fresh = cached && Date.now() - cached.at <= READ_AGAIN_MS;
  if (cached?.origins.includes(origin)) {
    if (!fresh) readAgain();
    return true;
  }
  return !fresh && (await readAgain()).includes(origin);
}

// The origin of the page's top-level document, as the browser reports it. An opaque origin ("null": a sandboxed
// document, whatever its URL) is no origin, and the URL never stands in for one.
function senderOrigin(sender) {
  if (sender.frameId !== 0 || !sender.tab || typeof sender.origin !== "string") return null;
  return /^https?:\/\/[^/]+$/.test(sender.origin) ? sender.origin : null;
}

const objects = new Map();  // tab id -> page objects served

function serve(page, origin) {
  let host = null;
  let started = false;  // the host answered at least once
  let pageGone = false;
  const tab = page.sender.tab.id;
  objects.set(tab, (objects.get(tab) ?? 0) + 1);
  hostsOpen++;
  let counted = true;
  const ended = () => {
    if (counted) hostsOpen--;
    counted = false;
    restartIfIdle();
  };
  page.onDisconnect.addListener(() => {
    pageGone = true;
    const left = objects.get(tab) - 1;
    if (left > 0) objects.set(tab, left); else objects.delete(tab);
    host?.disconnect();
    ended();
  });
  page.postMessage({ type: "accepted", extension: VERSION, protocol: PROTOCOL });
  host = api.runtime.connectNative(HOST);
  host.onMessage.addListener((message) => {
    started = true;
    page.postMessage({ type: "message", message });
  });
  host.onDisconnect.addListener((port) => {
    ended();
    if (pageGone) return;
    const error = (port && port.error && port.error.message) || api.runtime.lastError?.message || "";
    page.postMessage({ type: "exit", started, error });
    page.disconnect();
  });
  page.onMessage.addListener((body) => {
    if (!body || body.type !== "message" || typeof body.text !== "string" || body.text.length > MAX_MESSAGE) return;
    let message;
    try {
      message = JSON.parse(body.text);
    } catch {
      return;
    }
    if (!message || typeof message !== "object" || message.method === "kadrooa.hello") return;  // ours alone
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
  if ((objects.get(page.sender.tab.id) ?? 0) >= MAX_OBJECTS) {
    page.postMessage({ type: "refused", limit: "objects", max: MAX_OBJECTS });
    return page.disconnect();
  }
  serve(page, origin);
});

// Read when the worker starts, so that a page's first call does not wait for it and pages already open are reached,
// and every half minute (the least Chromium allows), so that an edit of the policy and a new version of the package
// are seen without a page asking.
readAgain();
api.alarms.create("read", { periodInMinutes: 0.5 });
api.alarms.onAlarm.addListener(() => readAgain());
