// Carries messages between the page's own window and the extension's worker, one port per page object. The worker
// registers it for the listed sites' top-level documents only; it listens to nothing unless the document's own
// origin is one of them (Firefox matches hosts, not ports). The worker decides again from what the browser tells
// it, never from what the page says. One tab holds at most MAX_OBJECTS objects, each with one call in flight.
// The worker also runs it in pages that were open before it started (the browser's first page, a page whose script
// an update cut off): one copy listens at a time, and a new one tells the page that objects made through an
// earlier one are gone.
"use strict";
(async () => {
  const api = globalThis.browser ?? globalThis.chrome;
  const TAG = "kadrooa";
  const alive = () => Boolean(api.runtime?.id);
  if (globalThis.kadrooaContent?.alive()) return;
  const MAX_OBJECTS = 8;  // the worker's bounds, kept here too so that a flood stops before it leaves the page
  const MAX_MESSAGE = 262144;
  const { origins } = await api.storage.local.get("origins");
  if (!Array.isArray(origins) || window.origin !== location.origin || !origins.includes(location.origin)) return;
  // A copy that left a page of another site on the same host (Firefox) did not listen; one that started
  // meanwhile does.
  if (globalThis.kadrooaContent?.alive()) return;
  globalThis.kadrooaContent = { alive };
  const objects = new Map();  // page object -> {port, busy: a call is in flight, prompt: the prompt awaiting its answer}

  function toPage(object, body) {
    window.postMessage({ [TAG]: "extension", object, ...body }, location.origin);
  }

  function refuse(object, id, code, text, data) {
    toPage(object, { type: "message", message: { jsonrpc: "2.0", id, error: { code, message: text, data } } });
  }

  function connect(object) {
    if (objects.has(object)) return;
    if (objects.size >= MAX_OBJECTS) return toPage(object, { type: "refused", limit: "objects", max: MAX_OBJECTS });
    // served: the worker answered; it refuses an unlisted page without a word, and so does this.
    const entry = { port: api.runtime.connect({ name: TAG }), busy: false, prompt: null, served: false };
    objects.set(object, entry);
    entry.port.onMessage.addListener((body) => {
      const message = body?.type === "message" ? body.message : null;
      entry.served = true;
      if (message && ("result" in message || "error" in message)) entry.busy = false;
      if (message?.method === "kadrooa.prompt") entry.prompt = message.params?.prompt;
      if (body?.type === "exit") objects.delete(object);
      toPage(object, body);
    });
    // The worker ended the port after saying why ("exit"), or went away without a word (an update, a restart).
    entry.port.onDisconnect.addListener(() => {
      if (objects.get(object) === entry && objects.delete(object) && entry.served) {
        toPage(object, { type: "exit", started: true, restarted: true });
      }
    });
  }

  // A request goes on when its object has none in flight; the only notification a page sends is the answer to the
  // prompt shown; anything else is left here.
  function send(object, message) {
    const entry = objects.get(object);
    if (!entry || !message || typeof message !== "object" || Array.isArray(message)) return;
    const request = "id" in message;
    if (!request && !(message.method === "kadrooa.answer" && entry.prompt != null)) return;
    let text = null;
    try {
      text = JSON.stringify(message);
    } catch {
      // not JSON: refused below as too large for the bridge
    }
    if (text === null || text.length > MAX_MESSAGE) {
      if (request) refuse(object, message.id, -32014, "message too large", { limit: MAX_MESSAGE });
      return;
    }
    if (request && entry.busy) {
      return refuse(object, message.id, -32013, "a call of this object is in flight", { limit: 1 });
    }
    if (request) entry.busy = true; else entry.prompt = null;
    entry.port.postMessage({ type: "message", text });
  }

  window.addEventListener("message", function listen(event) {
    const data = event.data;
    if (event.source !== window || !data || data[TAG] !== "page" || typeof data.object !== "string") return;
    if (!alive()) return window.removeEventListener("message", listen);  // the extension went on without this copy
    if (data.type === "connect") connect(data.object);
    else if (data.type === "message") send(data.object, data.message);
    else if (data.type === "disconnect") {
      objects.get(data.object)?.port.disconnect();
      objects.delete(data.object);
    }
  });
  toPage(null, { type: "ready" });
})();
