// Clip Vault's browser companion, its background: one native messaging port to Clip Vault's host
// (clipvault-browser-host), which relays to the running program. It tells every page's bar
// whether Clip Vault runs and what its menu holds, sends the choices made on a bar, answers the
// program's questions about the visible tab, and fetches a movie with the browser's cookies.

"use strict";

const HOST = "io.github.clipvault.companion";
const PROTOCOL = 1;
const LOOK_AGAIN_MS = 5000;
const MAX_TAB_MOVIES = 1000;
const MAX_ADDRESS = 4096;
const MAX_MOVIE_BYTES = 256 * 1024 * 1024;
const PIECE_WAIT_MS = 30 * 1000; // a copy that gives no bytes this long is given up
const MOST_COPIES = 2;           // copies fetched at once; more wait their turn
// Raw bytes a piece: as base64 with the message around it, well under the 1 MiB a message.
const PIECE_BYTES = 600 * 1024;
const FLASH_TYPES = ["application/x-shockwave-flash", "application/futuresplash",
                     "application/vnd.adobe.flash.movie"];

let port = null;
let state = {running: false, shortcutBar: false, pauseMovie: false, categories: []};
// What each tab fetched that is a Flash movie: tab id -> Map(address -> frame address).
const fetchedMovies = new Map();

const isWebAddress = address => /^https?:\/\//i.test(address || "") && address.length <= MAX_ADDRESS;

function connect() {
  try {
    port = chrome.runtime.connectNative(HOST);
  } catch (e) {
    port = null;
    setTimeout(connect, LOOK_AGAIN_MS);
    return;
  }
  port.onMessage.addListener(fromHost);
  port.onDisconnect.addListener(() => {
    // No host (not connected yet, see Tools > Connect your browser), or it ended.
    port = null;
    setState({running: false});
    setTimeout(connect, LOOK_AGAIN_MS);
  });
  const firefox = typeof navigator !== "undefined" && /Firefox\//.test(navigator.userAgent);
  const version = (navigator.userAgent.match(/(?:Firefox|Chrome|Chromium)\/([\d.]+)/) || [])[1] || "";
  send({type: "hello", protocol: PROTOCOL, browser: firefox ? "firefox" : "chromium",
        browserVersion: version, extension: chrome.runtime.getManifest().version});
}

function send(message) {
  if (!port) return;
  try { port.postMessage(message); } catch (e) {}
}

function setState(change) {
  state = Object.assign({}, state, change);
  chrome.tabs.query({}, tabs => {
    for (const tab of tabs)
      chrome.tabs.sendMessage(tab.id, {kind: "state", state}).catch(() => {});
  });
}

function fromHost(message) {
  switch (message.type) {
  case "welcome":
    setState({running: true, shortcutBar: message.shortcutBar, pauseMovie: message.pauseMovie,
              categories: message.categories});
    tellVisibleTab();
    break;
  case "state":
    setState({running: message.running !== false,
              shortcutBar: message.shortcutBar !== undefined ? message.shortcutBar : state.shortcutBar,
              pauseMovie: message.pauseMovie !== undefined ? message.pauseMovie : state.pauseMovie,
              categories: message.categories || state.categories});
    break;
  case "findMovies":
    findTabMovies(message.id);
    break;
  case "fetch":
    fetchCopy(message.id, message.url);
    break;
  case "error":
    console.warn("Clip Vault refused a message:", message.fault, message.message);
    break;
  }
}

// The tab the user looks at: the active tab of the window focused last.
function visibleTab(use) {
  chrome.tabs.query({active: true, lastFocusedWindow: true}, tabs => use(tabs && tabs[0]));
}

// The visible tab, and whether this browser is the one in front: another browser's companion
// may tell its own tab meanwhile, and the program takes the tab of the browser last in front.
function tellVisibleTab() {
  chrome.windows.getLastFocused({}, window => {
    const focused = !!(window && window.focused);
    visibleTab(tab => {
      if (tab && isWebAddress(tab.url)) send({type: "tab", url: tab.url, focused});
    });
  });
}

// The movies of the visible tab (`tab`): every frame's, and what it fetched.
function tabMovieList(tab, done) {
  const movies = [];
  const seen = new Map();
  const add = (url, frame, how) => {
    if (!isWebAddress(url)) return;
    let movie = seen.get(url);
    if (!movie) {
      if (movies.length >= MAX_TAB_MOVIES) return;
      movie = {url, frame: isWebAddress(frame) ? frame : "", seenAs: []};
      seen.set(url, movie);
      movies.push(movie);
    }
    if (!movie.seenAs.includes(how)) movie.seenAs.push(how);
  };
  chrome.scripting.executeScript(
    {target: {tabId: tab.id, allFrames: true},
     func: () => (typeof clipvaultFrameMovies === "function" ? clipvaultFrameMovies() : null)},
    results => {
      for (const result of results || []) {
        const found = result && result.result;
        if (!found) continue;
        for (const movie of found.movies) add(movie.url, found.frame, movie.seenAs);
      }
      for (const [url, frame] of fetchedMovies.get(tab.id) || []) add(url, frame, "network");
      done(movies);
    });
}

function findTabMovies(id) {
  visibleTab(tab => {
    if (!tab) { send({type: "movies", id, movies: []}); return; }
    tabMovieList(tab, movies => {
      // Within one message: addresses are at most 4 KiB, and the list is cut if it must be.
      while (movies.length && JSON.stringify(movies).length > 900 * 1024) movies.pop();
      send({type: "movies", id, movies});
    });
  });
}

// Whether the browser may fetch `url` with the user's cookies for the program: only a movie a
// tab loaded, or one the visible tab's pages name.
function mayCopy(url, answer) {
  for (const movies of fetchedMovies.values())
    if (movies.has(url)) { answer(true); return; }
  visibleTab(tab => {
    if (!tab) { answer(false); return; }
    tabMovieList(tab, movies => answer(movies.some(movie => movie.url === url)));
  });
}

let copying = 0;
const waitingCopies = [];

function fetchCopy(id, url) {
  if (!isWebAddress(url)) {
    send({type: "copyFailed", id, reason: "no web address"});
    return;
  }
  mayCopy(url, allowed => {
    if (!allowed) {
      send({type: "copyFailed", id, reason: "no movie of the browser's tabs"});
      return;
    }
    waitingCopies.push({id, url});
    nextCopy();
  });
}

function nextCopy() {
  while (copying < MOST_COPIES && waitingCopies.length) {
    const {id, url} = waitingCopies.shift();
    ++copying;
    streamCopy(id, url).finally(() => { --copying; nextCopy(); });
  }
}

// The bytes as base64, in one string per piece.
function base64(bytes) {
  let text = "";
  for (let i = 0; i < bytes.length; i += 0x8000)
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(text);
}

// Reads the answer as it comes and hands it on a piece at a time: never more than a piece is
// held, a body past 256 MiB is cut there, and one that stops coming is given up.
async function streamCopy(id, url) {
  const abort = new AbortController();
  let stall = setTimeout(() => abort.abort(), PIECE_WAIT_MS);
  const fail = reason => send({type: "copyFailed", id, reason: String(reason).slice(0, 200)});
  try {
    const response = await fetch(url, {credentials: "include", signal: abort.signal});
    if (!response.ok) throw new Error("status " + response.status);
    const reader = response.body.getReader();
    const piece = new Uint8Array(PIECE_BYTES);
    let held = 0;
    let total = 0;
    for (;;) {
      const {done, value} = await reader.read();
      clearTimeout(stall);
      stall = setTimeout(() => abort.abort(), PIECE_WAIT_MS);
      if (done) break;
      total += value.length;
      if (total > MAX_MOVIE_BYTES) {
        await reader.cancel();
        fail("larger than 256 MiB");
        return;
      }
      for (let at = 0; at < value.length;) {
        const step = Math.min(value.length - at, PIECE_BYTES - held);
        piece.set(value.subarray(at, at + step), held);
        held += step;
        at += step;
        if (held === PIECE_BYTES) {
          send({type: "copy", id, data: base64(piece), last: false});
          held = 0;
        }
      }
    }
    send({type: "copy", id, data: base64(piece.subarray(0, held)), last: true});
  } catch (e) {
    fail(abort.signal.aborted ? "no bytes came for 30 s" : (e && e.message) || e);
  } finally {
    clearTimeout(stall);
  }
}

// A page's bar: its state, and the choices made on it. The page and frame come from the browser,
// never from the page.
chrome.runtime.onMessage.addListener((message, sender, reply) => {
  if (message.kind === "state?") {
    reply(state);
    return;
  }
  if (message.kind === "choice" && sender.tab && isWebAddress(sender.tab.url) &&
      ["category", "saveAs", "options"].includes(message.action)) {
    const choice = {type: "choice", movie: message.movie, page: sender.tab.url,
                    frame: isWebAddress(sender.url) ? sender.url : "", action: message.action};
    if (message.action === "category") choice.category = String(message.category || "");
    if (message.action === "options" || isWebAddress(message.movie)) send(choice);
  }
});

chrome.webRequest.onHeadersReceived.addListener(details => {
  if (details.tabId < 0) return;
  const type = ((details.responseHeaders || []).find(h => h.name.toLowerCase() === "content-type") || {}).value || "";
  let path = "";
  try { path = new URL(details.url).pathname.toLowerCase(); } catch (e) { return; }
  if (!FLASH_TYPES.some(t => type.toLowerCase().startsWith(t)) && !path.endsWith(".swf")) return;
  if (!fetchedMovies.has(details.tabId)) fetchedMovies.set(details.tabId, new Map());
  const movies = fetchedMovies.get(details.tabId);
  if (movies.size < MAX_TAB_MOVIES)
    movies.set(details.url, details.documentUrl || details.initiator || "");
}, {urls: ["<all_urls>"]}, ["responseHeaders"]);

chrome.webRequest.onBeforeRequest.addListener(details => {
  if (details.type === "main_frame") fetchedMovies.delete(details.tabId);
}, {urls: ["<all_urls>"]});

// The bar's scripts (and the page-world one beside them) go into each document once it has
// loaded, never before: a script the
// browser injects while a page loads holds its load event back by the time it takes to make the
// script's world (tens of milliseconds), on every page, movies or not. The documents open
// already (before the companion came, or before its background woke) get them now.
const BAR_SCRIPTS = ["flashmovies.js", "content.js"];

async function giveBar(target) {
  try {
    const has = await chrome.scripting.executeScript(
      {target, func: () => globalThis.clipvaultBar === true});
    const frames = has.filter(frame => !frame.result).map(frame => frame.frameId);
    if (!frames.length) return;
    const given = {tabId: target.tabId, frameIds: frames};
    await chrome.scripting.executeScript({target: given, files: ["pageworld.js"], world: "MAIN"});
    await chrome.scripting.executeScript({target: given, files: BAR_SCRIPTS});
  } catch (e) {} // a page the browser keeps extensions out of
}

chrome.webNavigation.onCompleted.addListener(details => {
  if (isWebAddress(details.url) || details.url === "about:blank")
    giveBar({tabId: details.tabId, frameIds: [details.frameId]});
});
chrome.tabs.query({}, tabs => {
  for (const tab of tabs)
    if (isWebAddress(tab.url)) giveBar({tabId: tab.id, allFrames: true});
});

chrome.tabs.onRemoved.addListener(tabId => fetchedMovies.delete(tabId));
chrome.tabs.onActivated.addListener(tellVisibleTab);
chrome.windows.onFocusChanged.addListener(tellVisibleTab);
chrome.tabs.onUpdated.addListener((tabId, change, tab) => {
  if (change.url && tab.active) tellVisibleTab();
});

connect();
