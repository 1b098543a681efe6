// Clip Vault's browser companion in the page's own world, for what only the page's scripts can
// reach: the address a Ruffle player added by script plays (its element names none), and the
// player's pause. It writes the address on the player's element when the user's pointer comes
// over it, and pauses the player when the companion's bar asks. A page could write either
// itself: neither files anything, which only the user's own click on the bar does.

"use strict";

(() => {
  const isRuffle = el => /^ruffle-(object|embed|player)(-\d+)?$/.test((el.localName || "").toLowerCase());
  document.addEventListener("pointerover", event => {
    if (!event.isTrusted) return;
    for (const el of event.composedPath()) {
      if (!(el instanceof Element) || !isRuffle(el)) continue;
      let url = null;
      try { url = el.loadedConfig && el.loadedConfig.url; } catch (e) {}
      if (typeof url === "string" && url.length <= 4096) el.setAttribute("data-clipvault-src", url);
      return;
    }
  }, {capture: true, passive: true});
  document.addEventListener("clipvault-pause", event => {
    const el = event.target;
    if (!(el instanceof Element) || !isRuffle(el)) return;
    try { if (el.ruffle) el.ruffle().suspend(); else if (el.pause) el.pause(); } catch (e) {}
  }, true);
})();
