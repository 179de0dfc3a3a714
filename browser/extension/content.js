// Carries messages between the page's own window and the extension's worker, one port per page object.
// Runs in top-level documents only (the manifest leaves frames out); the worker decides whether the page's
// origin may go further, from what the browser tells it, never from what the page says.
"use strict";
(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const TAG = "kadrooa";
  const ports = new Map();  // page object -> port

  function toPage(object, body) {
    window.postMessage({ [TAG]: "extension", object, ...body }, window.location.origin);
  }

  window.addEventListener("message", (event) => {
    const data = event.data;
    if (event.source !== window || !data || data[TAG] !== "page" || typeof data.object !== "string") return;
    const { object, type } = data;
    if (type === "connect") {
      if (ports.has(object)) return;
      const port = api.runtime.connect({ name: TAG });
      ports.set(object, port);
      port.onMessage.addListener((message) => toPage(object, message));
      port.onDisconnect.addListener(() => ports.delete(object));
    } else if (type === "message") {
      ports.get(object)?.postMessage({ type: "message", message: data.message });
    } else if (type === "disconnect") {
      ports.get(object)?.disconnect();
      ports.delete(object);
    }
  });
})();
