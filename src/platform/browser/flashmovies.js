// What makes an element a Flash movie, and the address it names as the page wrote it. One text for
// every reader of pages: the scripts the debugging protocols run in a page (built into the
// program) and the browser companion's content script (installed beside it).
const types = ["application/x-shockwave-flash", "application/futuresplash", "application/vnd.adobe.flash.movie"];
const flashPath = p => { p = (p || "").split("?")[0].split("#")[0].toLowerCase(); return p.endsWith(".swf") || p.endsWith(".spl"); };
const movieParam = el => {
  for (const p of el.querySelectorAll("param")) {
    const n = (p.getAttribute("name") || "").toLowerCase();
    if (n === "movie" || n === "src") return p.getAttribute("value");
  }
  return null;
};
const isRuffle = el => /^ruffle-(object|embed|player)(-\d+)?$/.test((el.localName || "").toLowerCase());
const movieOf = el => {
  const name = (el.localName || "").toLowerCase();
  const type = (el.getAttribute("type") || "").toLowerCase();
  if (isRuffle(el)) {
    let loaded = null;
    try { loaded = el.loadedConfig && el.loadedConfig.url; } catch (e) {}
    // A player added by script names no address; the companion's page-world script writes the
    // one it plays on it.
    return el.getAttribute("data") || movieParam(el) || el.getAttribute("src") || (typeof loaded === "string" ? loaded : null) ||
           el.getAttribute("data-clipvault-src");
  }
  if (name === "object") {
    const address = el.getAttribute("data") || movieParam(el);
    const classid = (el.getAttribute("classid") || "").toLowerCase();
    if (address && (types.includes(type) || classid === "clsid:d27cdb6e-ae6d-11cf-96b8-444553540000" || flashPath(address)))
      return address;
    return null;
  }
  if (name === "embed") {
    const address = el.getAttribute("src");
    return address && (types.includes(type) || flashPath(address)) ? address : null;
  }
  return null;
};

// Every Flash movie of this frame's document (frames are each asked on their own): its elements,
// shadow roots included, and what its resource timing says it fetched.
function clipvaultFrameMovies() {
  const found = [];
  const add = (ref, how) => {
    if (!ref || found.length >= 1000) return;
    try { found.push({url: new URL(ref, document.baseURI).href, seenAs: how}); } catch (e) {}
  };
  const walk = root => {
    for (const el of root.querySelectorAll("*")) {
      const address = movieOf(el);
      if (address) add(address, isRuffle(el) ? "ruffle" : "element");
      if (el.shadowRoot) walk(el.shadowRoot);
    }
  };
  if (document.documentElement) walk(document);
  try {
    for (const entry of performance.getEntriesByType("resource"))
      if (flashPath(new URL(entry.name).pathname)) add(entry.name, "network");
  } catch (e) {}
  return {frame: document.URL, movies: found};
}
