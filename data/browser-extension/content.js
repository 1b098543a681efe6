// Clip Vault's browser companion in one frame's document: the shortcut bar over the Flash movie
// under the pointer, drawn in a closed shadow root in the top layer. The background gives it to
// each document once the document has loaded. flashmovies.js, loaded first,
// says what a movie is and lists the frame's movies when the program asks for the visible tab's.
// Only the user's own input counts: every event is checked to be trusted, and the page's scripts
// can neither reach the bar nor press it. Nor can the page's style hide, move or reword it: its
// rules are the shadow root's own, marked important (which wins over the page's important ones),
// and a click counts only on a bar that is whole, topmost at the click, where it was when the
// pointer came, with a menu shown long enough to be read.

"use strict";

globalThis.clipvaultBar = true; // given once to a document (see the background's giveBar)

const BAR_OFFSET = 15; // right of and below the movie's top-left corner
const BAR_WIDTH = 74;
const BAR_HEIGHT = 26;
const SAVE_TO = "Save to ...";
const DOWNLOADED = "Downloaded";
const MENU_READ_MS = 300; // a click on the menu sooner than this is no choice the user read

let barState = {running: false, shortcutBar: false, pauseMovie: false, categories: []};
let bar = null;        // {host, root, menu, movie (element), address}
let shownFor = null;   // the movie element the bar is over

// The address a movie's element names, resolved against its own document and cut before its
// query and fragment, as the bar files it.
function movieAddress(address) {
  try {
    const url = new URL(address, document.baseURI);
    url.search = "";
    url.hash = "";
    return url.href;
  } catch (e) {
    return "";
  }
}

// The movie under a point: the topmost element there, or one it is inside of (shadow hosts
// included), that is a Flash movie; else a movie element that has no box of its own there.
function movieAt(x, y) {
  for (const el of document.elementsFromPoint(x, y)) {
    if (bar && el === bar.host) return {onBar: true};
    for (let n = el; n; n = n.parentElement || (n.getRootNode && n.getRootNode().host) || null) {
      const address = movieOf(n);
      if (address) return {element: n, address};
    }
  }
  return boxlessMovieAt(x, y);
}

// The box a movie's element stands for. A plain embed or object that nothing draws (Firefox,
// with no Ruffle on the page) has none, 0 x 0: it is taken to have the size its attributes
// declare, at its place, or else its parent's box. The page is not restyled.
function movieBox(el) {
  const rect = el.getBoundingClientRect();
  if (rect.width > 0 && rect.height > 0) return rect;
  const width = parseInt(el.getAttribute("width"), 10);
  const height = parseInt(el.getAttribute("height"), 10);
  if (width > 0 && height > 0) return new DOMRect(rect.left, rect.top, width, height);
  return el.parentElement ? el.parentElement.getBoundingClientRect() : rect;
}

// A movie whose element has no box, under a point of the box it stands for.
function boxlessMovieAt(x, y) {
  for (const el of document.querySelectorAll("embed, object")) {
    const rect = el.getBoundingClientRect();
    if (rect.width > 0 && rect.height > 0) continue;
    const box = movieBox(el);
    if (x < box.left || x >= box.right || y < box.top || y >= box.bottom) continue;
    const address = movieOf(el);
    if (address) return {element: el, address};
  }
  return null;
}

const BAR_PICTURE = `
<svg xmlns="http://www.w3.org/2000/svg" width="74" height="26" viewBox="0 0 74 26">
  <defs><linearGradient id="shade" x1="0" y1="0" x2="0" y2="1">
    <stop offset="0" stop-color="#d03a2e"/><stop offset="1" stop-color="#8e1c15"/></linearGradient></defs>
  <rect x="0.5" y="0.5" width="73" height="25" rx="5" fill="url(#shade)" stroke="#5a100b"/>
  <path d="M11 4 L5 14 H10 L8 22 L16 10 H11 L14 4 Z" fill="#ffd23f"/>
  <g fill="rgba(255,255,255,0.6)">
    <circle cx="65" cy="7" r="1.1"/><circle cx="69" cy="7" r="1.1"/><circle cx="65" cy="12" r="1.1"/>
    <circle cx="69" cy="12" r="1.1"/><circle cx="65" cy="17" r="1.1"/><circle cx="69" cy="17" r="1.1"/>
  </g>
</svg>`;
const SAVE_GLYPH = `
<svg xmlns="http://www.w3.org/2000/svg" width="14" height="14" viewBox="0 0 14 14" fill="none"
     stroke="white" stroke-width="1.6" stroke-linecap="round" stroke-linejoin="round">
  <path d="M7 1.5 V8.5"/><path d="M4 5.5 L7 8.8 L10 5.5"/><path d="M1.5 8 V12.5 H12.5 V8"/>
</svg>`;
const OPTIONS_GLYPH = `
<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="-12 -12 24 24" fill="white">
  ${[0, 45, 90, 135, 180, 225, 270, 315].map(a =>
    `<rect x="-1.8" y="-10.5" width="3.6" height="5" rx="0.8" transform="rotate(${a})"/>`).join("")}
  <path fill-rule="evenodd" d="M-7.5 0 A7.5 7.5 0 1 0 7.5 0 A7.5 7.5 0 1 0 -7.5 0 Z M-3 0 A3 3 0 1 0 3 0 A3 3 0 1 0 -3 0 Z"/>
</svg>`;
const BAR_STYLE = `
:host { all: initial !important; position: fixed !important; z-index: 2147483647 !important;
        display: block !important; margin: 0 !important; padding: 0 !important; border: 0 !important;
        inset: auto !important; width: 74px !important; height: 26px !important;
        overflow: visible !important; background: transparent !important; opacity: 1 !important;
        visibility: visible !important; transform: none !important; filter: none !important;
        clip-path: none !important; mask: none !important; pointer-events: auto !important;
        mix-blend-mode: normal !important; zoom: 1 !important; }
.face { position: absolute; left: 0; top: 0; width: 74px; height: 26px; }
button { all: initial; position: absolute; top: 5px; width: 22px; height: 19px; border-radius: 2px;
         display: flex; align-items: center; justify-content: center; cursor: default; }
button:hover { background: rgba(255, 255, 255, 0.24); }
button:active { background: rgba(0, 0, 0, 0.35); }
.save { left: 19px; } .options { left: 40px; }
.menu { position: absolute; left: 19px; top: 24px; width: 180px; padding: 3px 0;
        background: Menu; color: MenuText; border: 1px solid GrayText;
        box-shadow: 0 2px 6px rgba(0, 0, 0, 0.35); font: menu; font-size: 13px; outline: none; }
.menu[hidden] { display: none; }
.entry { padding: 3px 20px; white-space: nowrap; overflow: hidden; text-overflow: ellipsis; }
.entry::before { content: attr(data-caption); } /* not text of the document: no find reaches it */
.entry.selected { background: Highlight; color: HighlightText; }
.separator { height: 1px; margin: 3px 0; background: GrayText; }
`;

function makeBar() {
  const host = document.createElement("clipvault-bar");
  const root = host.attachShadow({mode: "closed"});
  root.innerHTML = `<style>${BAR_STYLE}</style><style class="place"></style>
    <div class="face">${BAR_PICTURE}</div>
    <button class="save" title="Save to a Category">${SAVE_GLYPH}</button>
    <button class="options" title="Option">${OPTIONS_GLYPH}</button>
    <div class="menu" tabindex="-1" role="menu" hidden></div>`;
  if ("popover" in host) host.popover = "manual"; // the top layer: above every element of the page
  const made = {host, root, menu: root.querySelector(".menu"), movie: null, address: "",
                selected: -1, placed: null, arrival: null, menuShownAt: 0};
  root.querySelector(".save").addEventListener("click", event => {
    if (clickCounts(made, event)) openMenu(made);
  });
  root.querySelector(".options").addEventListener("click", event => {
    if (clickCounts(made, event)) choose({action: "options"});
  });
  // Where the bar was when the pointer came: a bar moved under it since takes no click.
  host.addEventListener("pointermove", event => {
    if (event.isTrusted && !made.arrival) made.arrival = placeNow(made);
  });
  made.menu.addEventListener("keydown", event => {
    if (event.isTrusted) menuKey(made, event);
  });
  made.menu.addEventListener("click", event => {
    const entry = event.target.closest && event.target.closest(".entry");
    if (entry && clickCounts(made, event) &&
        performance.now() - made.menuShownAt >= MENU_READ_MS)
      chooseEntry(entry.dataset.caption);
  });
  made.menu.addEventListener("mousemove", event => {
    const entries = [...made.menu.querySelectorAll(".entry")];
    const entry = event.target.closest && event.target.closest(".entry");
    if (event.isTrusted && entry) select(made, entries.indexOf(entry));
  });
  return made;
}

// Where the bar is on the page now.
function placeNow(b) {
  const rect = b.host.getBoundingClientRect();
  return {left: Math.round(rect.left), top: Math.round(rect.top),
          width: Math.round(rect.width), height: Math.round(rect.height)};
}

// Puts the bar at a place of the viewport, by its own important rules.
function place(b, left, top) {
  b.placed = {left: Math.round(left), top: Math.round(top)};
  b.root.querySelector(".place").textContent =
    `:host { left: ${b.placed.left}px !important; top: ${b.placed.top}px !important; }`;
}

// Whether a click is the user's on the bar as the bar drew itself: trusted, on a bar that is
// shown whole where it was put and where it was when the pointer came, and topmost there.
function clickCounts(b, event) {
  if (!event.isTrusted || !b.host.isConnected || !b.placed || !b.arrival) return false;
  const now = placeNow(b);
  const style = getComputedStyle(b.host);
  const same = (a, c) => Math.abs(a.left - c.left) <= 1 && Math.abs(a.top - c.top) <= 1;
  if (!same(now, b.placed) || !same(now, b.arrival) || now.width !== BAR_WIDTH ||
      now.height !== BAR_HEIGHT || style.opacity !== "1" || style.visibility !== "visible")
    return false;
  if ("popover" in b.host && !b.host.matches(":popover-open")) return false;
  const top = document.elementsFromPoint(event.clientX, event.clientY)[0];
  return top === b.host;
}

function openMenu(b) {
  b.menu.textContent = "";
  const captions = [DOWNLOADED, null, ...barState.categories, null, SAVE_TO];
  for (const caption of captions) {
    if (caption === null) {
      // No two separators in a row: without categories of the user's, one stands.
      if (b.menu.lastChild && b.menu.lastChild.className === "separator") continue;
      const line = document.createElement("div");
      line.className = "separator";
      b.menu.appendChild(line);
      continue;
    }
    const entry = document.createElement("div");
    entry.className = "entry";
    entry.setAttribute("role", "menuitem");
    entry.setAttribute("aria-label", caption);
    entry.dataset.caption = caption;
    b.menu.appendChild(entry);
  }
  b.selected = -1; // as a desktop menu opens: nothing chosen until the user moves
  b.menu.hidden = false;
  b.menuShownAt = performance.now();
  b.menu.focus({preventScroll: true});
}

function closeMenu(b) {
  b.menu.hidden = true;
  b.selected = -1;
}

function select(b, index) {
  const entries = [...b.menu.querySelectorAll(".entry")];
  b.selected = entries.length ? (index + entries.length) % entries.length : -1;
  entries.forEach((entry, i) => entry.classList.toggle("selected", i === b.selected));
}

function menuKey(b, event) {
  const entries = [...b.menu.querySelectorAll(".entry")];
  if (event.key === "ArrowDown") select(b, b.selected < 0 ? 0 : b.selected + 1);
  else if (event.key === "ArrowUp") select(b, b.selected < 0 ? entries.length - 1 : b.selected - 1);
  else if (event.key === "Enter" && b.selected >= 0) chooseEntry(entries[b.selected].dataset.caption);
  else if (event.key === "Escape") closeMenu(b);
  else return;
  event.preventDefault();
  event.stopPropagation();
}

function chooseEntry(caption) {
  if (caption === SAVE_TO) choose({action: "saveAs"});
  else choose({action: "category", category: caption === DOWNLOADED ? "" : caption});
}

function choose(choice) {
  if (!bar) return;
  const message = Object.assign({kind: "choice", movie: bar.address}, choice);
  closeMenu(bar);
  hideBar();
  chrome.runtime.sendMessage(message).catch(() => {});
}

function showBar(movie) {
  if (!bar) bar = makeBar();
  const rect = movieBox(movie.element);
  bar.movie = movie.element;
  bar.address = movieAddress(movie.address);
  moveBar(bar, rect);
  if (!bar.host.isConnected) {
    (document.body || document.documentElement).appendChild(bar.host);
    if (bar.host.showPopover) try { bar.host.showPopover(); } catch (e) {}
  }
  if (shownFor !== movie.element && barState.pauseMovie && isRuffle(movie.element))
    movie.element.dispatchEvent(new CustomEvent("clipvault-pause")); // heard by pageworld.js
  shownFor = movie.element;
  gone.observe(document, {childList: true, subtree: true});
}

function hideBar() {
  if (!bar || !bar.host.isConnected) return;
  closeMenu(bar);
  if (bar.host.hidePopover) try { bar.host.hidePopover(); } catch (e) {}
  bar.host.remove();
  bar.arrival = null;
  shownFor = null;
  gone.disconnect();
}

// Watched only while the bar shows: a page that changes much costs nothing otherwise.
const gone = new MutationObserver(() => { if (shownFor && !shownFor.isConnected) hideBar(); });

function barWanted() {
  return barState.running && barState.shortcutBar;
}

document.addEventListener("pointermove", event => {
  if (!event.isTrusted) return;
  if (!barWanted()) { hideBar(); return; }
  const found = movieAt(event.clientX, event.clientY);
  if (found && found.onBar) return; // over the bar or its menu: it stays
  if (found) showBar(found);
  else if (!bar || bar.menu.hidden) hideBar(); // the page's background; an open menu keeps it
}, {capture: true, passive: true});

// The pointer left the document (for another window, the browser's own bar or another frame)
// straight from the movie: the bar goes with it, unless its menu is open.
document.addEventListener("pointerout", event => {
  if (!event.isTrusted || event.relatedTarget !== null) return;
  if (!bar || bar.menu.hidden) hideBar();
}, {capture: true, passive: true});

// The movie scrolled away or the page changed under the bar: it goes.
const checkPlace = () => {
  if (!shownFor) return;
  const rect = shownFor.isConnected ? movieBox(shownFor) : null;
  if (!rect || rect.bottom <= 0 || rect.right <= 0 || rect.top >= innerHeight || rect.left >= innerWidth)
    hideBar();
  else if (bar) moveBar(bar, rect);
};

// Over a movie whose box is `rect`; a move the pointer has not seen yet takes no click.
function moveBar(b, rect) {
  const left = Math.round(rect.left + BAR_OFFSET);
  const top = Math.round(rect.top + BAR_OFFSET);
  if (b.placed && b.placed.left === left && b.placed.top === top) return;
  place(b, left, top);
  b.arrival = null;
}
addEventListener("scroll", checkPlace, {capture: true, passive: true});
addEventListener("pagehide", hideBar);

chrome.runtime.onMessage.addListener(message => {
  if (message.kind !== "state") return;
  barState = message.state;
  if (!barWanted()) hideBar();
});
chrome.runtime.sendMessage({kind: "state?"}).then(state => {
  if (state) barState = state;
}).catch(() => {});
