// The page of vantrel-view: the phone as the server draws it, pushed at each redraw, and the
// Settings app rendered from the rows it reports. Every change goes to the server as a JSON POST
// carrying the token; the page itself decides nothing about values or pages.
"use strict";

const TOKEN = document.querySelector('meta[name="vantrel-token"]').content;
const $ = (id) => document.getElementById(id);
const view = { status: null, version: 0, running: false, settings: null, chooser: null, pending: 0 };
window.vantrel = view;  // read by the browser tests and the benchmark

async function request(method, path, body) {
  view.pending++;
  try {
    return await send(method, path, body);
  } finally {
    view.pending--;
  }
}

async function send(method, path, body) {
  const init = { method, headers: { "X-Vantrel-Token": TOKEN }, credentials: "same-origin" };
  if (method === "POST") {
    init.headers["Content-Type"] = "application/json";
    init.body = JSON.stringify(body || {});
  }
  const response = await fetch(path, init);
  const answer = await response.json().catch(() => ({}));
  if (!response.ok) {
    const error = new Error(answer.error || response.statusText);
    error.answer = answer;
    throw error;
  }
  return answer;
}

function say(id, text) { $(id).textContent = text || ""; }

// ---- the phone

function showSnapshot(snapshot) {
  const wasRunning = view.running;
  view.version = snapshot.version;
  view.running = snapshot.running;
  view.status = snapshot.status;
  const active = document.activeElement;
  const focus = $("phone").contains(active) ? active.dataset.focus : null;
  $("phone").innerHTML = snapshot.svg;  // our own drawing, every text in it escaped by the server
  pressable($("phone"), focus);
  // A device that is not running is said once: why, and the command that starts it.
  const connection = $("connection");
  connection.textContent = snapshot.running ? "running" : "";
  connection.className = snapshot.running ? "up" : "down";
  $("down").hidden = snapshot.running;
  if (!snapshot.running) {
    say("down-reason", snapshot.reason ? snapshot.reason[0].toUpperCase() + snapshot.reason.slice(1) + "." : "");
    say("down-command", snapshot.start || "");
  }
  document.body.classList.toggle("device-down", !snapshot.running);
  const s = snapshot.status || {};
  $("lock").textContent = s.locked ? "Unlock" : "Lock";
  const nc = s.notificationCenter && s.notificationCenter.open;
  $("nc").setAttribute("aria-pressed", String(!!nc));
  // A device started again: the Settings app is asked anew (the first load is the page's own).
  if (snapshot.running && !wasRunning && view.seen) loadSettings(false);
  view.seen = true;
  document.dispatchEvent(new CustomEvent("vantrel-redrawn", { detail: snapshot.version }));
}

async function deviceAction(action, body) {
  say("device-message", "");
  try {
    await request("POST", "/api/device/" + action, body);
  } catch (e) {
    say("device-message", e.message);
  }
}

// The drawing's status bar and alert buttons as buttons a keyboard reaches.
// The drawing is then a group of them, not one picture; each is named by the text it shows.
function pressable(phone, focus) {
  const svg = phone.querySelector("svg");
  if (svg) svg.setAttribute("role", "group");
  for (const part of phone.querySelectorAll('[data-action="tap"], [data-button]')) {
    part.setAttribute("role", "button");
    part.setAttribute("tabindex", "0");
    const id = part.dataset.button ? "button:" + part.dataset.alert + ":" + part.dataset.button : "tap";
    part.dataset.focus = id;
    if (id === focus) part.focus();  // kept across redraws
  }
}
$("phone").addEventListener("keydown", (event) => {
  if ((event.key === "Enter" || event.key === " ") && event.target.getAttribute("role") === "button") {
    event.preventDefault();
    event.target.dispatchEvent(new MouseEvent("click", { bubbles: true }));
  }
});
$("phone").addEventListener("click", (event) => {
  const button = event.target.closest("[data-button]");
  if (button) {
    deviceAction("alert", { id: Number(button.dataset.alert), button: button.dataset.button });
    return;
  }
  if (event.target.closest('[data-action="tap"]')) deviceAction("tap");
});
$("lock").addEventListener("click", () => deviceAction("lock", { locked: !(view.status && view.status.locked) }));
$("nc").addEventListener("click", () => {
  const open = view.status && view.status.notificationCenter && view.status.notificationCenter.open;
  deviceAction("nc", { open: !open });
});

function listen() {
  const events = new EventSource("/events");
  events.onmessage = (message) => showSnapshot(JSON.parse(message.data));
  events.onerror = () => {
    $("connection").textContent = "the view is not answering; retrying…";
    $("connection").className = "down";
    // A refused stream (too many open, say) is not retried by the browser itself.
    if (events.readyState === EventSource.CLOSED) setTimeout(listen, 1000);
  };
}

// ---- the hardware drawer, built from the key table `vantrel-device set` takes

const form = $("hardware-form");
const GROUPS = [["cellular", "Cellular"], ["wifi", "Wi-Fi"], ["battery", "Battery"], ["audio", "Audio"], ["other", "Other"]];
let hardwareKeys = [];
let hardwareShown = {};

function hardwareInput(key) {
  const input = element("input");
  input.name = key.key;
  input.id = "hw-" + key.key;
  if (key.type === "bool") input.type = "checkbox";
  else if (key.type === "int" || key.type === "int or none") {
    input.type = "number";
    input.step = "1";
    if (key.min !== undefined) input.min = key.min;
    if (key.max !== undefined && key.max !== null) input.max = key.max;
  } else if (key.type === "real") {
    input.type = "number";
    input.step = "any";
  } else input.type = "text";
  if (/or none|ipv4|ipv6/.test(key.type)) input.placeholder = "none";
  if (key.type === "clock") input.placeholder = "live";
  if (key.type === "list") input.placeholder = "a, b, …";
  return input;
}

function buildDrawer(keys) {
  hardwareKeys = keys;
  const groups = $("hardware-groups");
  groups.replaceChildren();
  for (const [id, title] of GROUPS) {
    const members = keys.filter((k) => (GROUPS.some(([g]) => g === k.group) ? k.group : "other") === id);
    if (!members.length) continue;
    const fieldset = element("fieldset");
    fieldset.dataset.group = id;
    fieldset.append(element("legend", "", title));
    for (const key of members) {
      const field = element("div", "field");
      field.dataset.key = key.key;
      const label = element("label", "", key.key);
      label.htmlFor = "hw-" + key.key;
      const input = hardwareInput(key);
      const meaning = element("small", "meaning", key.meaning + " (" + key.values + ")");
      meaning.id = "hw-" + key.key + "-meaning";
      const error = element("span", "field-error");
      error.id = "hw-" + key.key + "-error";
      input.setAttribute("aria-describedby", meaning.id + " " + error.id);
      field.append(label, input, meaning, error);
      fieldset.append(field);
    }
    groups.append(fieldset);
  }
}

function fieldValue(input, key) {
  if (input.type === "checkbox") return input.checked;
  if (key.type === "list") return input.value.split(",").map((s) => s.trim()).filter((s) => s);
  if (input.value === "" && /or none|ipv4|ipv6/.test(key.type)) return null;
  if (input.value === "" && key.type === "clock") return "live";
  if (input.type === "number" && input.value !== "" && !isNaN(Number(input.value))) return Number(input.value);
  return input.value;  // refused by the device's checks when it is no number
}

function showFieldErrors(fields) {
  for (const error of form.querySelectorAll(".field-error")) error.textContent = "";
  for (const input of form.querySelectorAll("input[aria-invalid]")) input.removeAttribute("aria-invalid");
  for (const [name, text] of Object.entries(fields || {})) {
    const error = $("hw-" + name + "-error");
    if (!error) continue;
    error.textContent = text;
    $("hw-" + name).setAttribute("aria-invalid", "true");
  }
}

async function loadHardware() {
  try {
    const { keys } = await request("GET", "/api/device/keys");
    buildDrawer(keys);
    hardwareShown = {};
    for (const key of keys) {
      const input = form.elements[key.key];
      const value = key.value;
      if (input.type === "checkbox") input.checked = !!value;
      else if (Array.isArray(value)) input.value = value.join(", ");
      else input.value = value === null || value === undefined ? "" : value;
      hardwareShown[key.key] = JSON.stringify(fieldValue(input, key));
    }
  } catch (e) {
    say("hardware-message", e.message);
  }
}

$("hardware").addEventListener("toggle", () => { if ($("hardware").open) loadHardware(); });
form.addEventListener("submit", async (event) => {
  event.preventDefault();
  const changes = {};
  for (const key of hardwareKeys) {
    const value = fieldValue(form.elements[key.key], key);
    if (JSON.stringify(value) !== hardwareShown[key.key]) changes[key.key] = value;
  }
  showFieldErrors({});
  if (Object.keys(changes).length === 0) return say("hardware-message", "nothing changed");
  say("hardware-message", "");
  try {
    await request("POST", "/api/device/hardware", { changes });
    await loadHardware();
  } catch (e) {
    const fields = (e.answer && e.answer.fields) || {};
    showFieldErrors(fields);
    say("hardware-message", Object.keys(fields).length ? "nothing applied: see the fields marked" : e.message);
  }
});

// ---- the Settings app

function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

function truthy(value) { return value === true || (typeof value === "number" && value !== 0); }

// What the focused control stands for, so that it keeps the focus when the rows are drawn anew.
let focusWanted = null;

function focusable(e, id) {
  e.dataset.focus = id;
  return e;
}

function rowButton(className, label, value, focus) {
  const button = focusable(element("button", className), focus);
  button.type = "button";
  button.append(element("span", "label", label));
  if (value !== undefined) button.append(element("span", "value", value));
  return button;
}

function chosenTitle(row) {
  const i = row.validValues.findIndex((v) => JSON.stringify(v) === JSON.stringify(row.value));
  if (i < 0) return "";
  return row.validTitles[i] !== undefined ? row.validTitles[i] : String(row.validValues[i]);
}

function renderRow(row) {
  if (row.cell === "PSGroupCell") return element("h3", "group", row.label);
  if (row.cell === "PSSwitchCell") {
    const label = element("label", "row switch");
    label.append(element("span", "label", row.label));
    const input = focusable(element("input"), "key:" + row.key);
    input.type = "checkbox";
    input.setAttribute("role", "switch");
    input.dataset.key = row.key;
    input.checked = truthy(row.value);
    input.setAttribute("aria-checked", String(input.checked));
    input.addEventListener("change", () => {
      input.setAttribute("aria-checked", String(input.checked));
      settingsAction("set", { key: row.key, value: input.checked });
    });
    input.addEventListener("keydown", (event) => {
      if (event.key === "Enter") { event.preventDefault(); input.click(); }
    });
    label.append(input);
    return label;
  }
  if (row.validValues && row.validValues.length) {
    // A list chooser: the chosen title, and a page of its own to choose from.
    const button = rowButton("row entry chooser", row.label, chosenTitle(row), "key:" + row.key);
    button.dataset.key = row.key;
    button.addEventListener("click", () => openChooser(row.key));
    return button;
  }
  if (row.action) {
    // A row that opens a text dialog shows the text it holds.
    const text = row.key && typeof row.control === "string" ? row.control : undefined;
    const button = rowButton(text === undefined ? "row" : "row entry text", row.label, text, "action:" + row.action);
    button.dataset.action = row.action;
    button.addEventListener("click", () => settingsAction("press", { action: row.action }));
    return button;
  }
  if (row.detail) {
    const button = rowButton("row link entry", row.label, undefined, "detail:" + row.detail);
    button.dataset.detail = row.detail;
    button.addEventListener("click", () => settingsAction("open", { detail: row.detail }));
    return button;
  }
  const plain = element("div", "row", row.label);
  if (row.key) plain.append(element("span", "", row.value === null ? "" : String(row.value)));
  return plain;
}

function answerDialog(title, fields) {
  const body = { button: title };
  if (fields.length) body.text = fields[0].value;
  settingsAction("answer", body);
}

function renderDialog(alerts) {
  const dialog = $("settings-dialog");
  dialog.replaceChildren();
  const open = alerts.length > 0;
  dialog.hidden = !open;
  // Behind a dialog nothing else of the Settings app takes the keyboard.
  $("settings-rows").inert = open;
  $("settings").querySelector("nav").inert = open;
  if (!open) return;
  const alert = alerts[alerts.length - 1];  // the one on top answers
  const box = element("div", "box");
  box.dataset.alert = alert.id;
  const title = element("h3", "", alert.title || "Alert");
  title.id = "dialog-title";
  box.append(title);
  if (alert.message) box.append(element("p", "", alert.message));
  const fields = alert.textFields.map((text) => {
    const input = element("input");
    input.type = "text";
    input.value = text;
    input.setAttribute("aria-label", alert.title || "Text");
    input.addEventListener("keydown", (event) => {
      if (event.key === "Enter") answerDialog(alert.buttons[alert.buttons.length - 1], fields);
    });
    box.append(input);
    return input;
  });
  const choices = element("div", alert.buttons.length === 2 ? "choices" : "choices stacked");
  for (const title of alert.buttons) {
    const button = focusable(element("button", "", title), "button:" + title);
    button.type = "button";
    button.dataset.button = title;
    button.addEventListener("click", () => answerDialog(title, fields));
    choices.append(button);
  }
  box.append(choices);
  dialog.append(box);
  dialog.escape = () => answerDialog(alert.buttons[0], fields);  // the cancel button comes first
  if (fields.length) fields[0].focus();
  else choices.lastChild.focus();
}

function pageTitle(settings) {
  if (!settings.page) return "Settings";
  return { main: "Vantrel", icontester: "Icon Tester", datafaker: "Data Faker" }[settings.page] || settings.page;
}

function renderChooser(row) {
  const list = element("div", "choices-list");
  list.setAttribute("role", "radiogroup");
  list.setAttribute("aria-label", row.label);
  row.validValues.forEach((value, i) => {
    const chosen = JSON.stringify(value) === JSON.stringify(row.value);
    const title = row.validTitles[i] !== undefined ? row.validTitles[i] : String(value);
    const button = rowButton("row choice", title, undefined, "choice:" + i);
    button.setAttribute("role", "radio");
    button.setAttribute("aria-checked", String(chosen));
    button.dataset.choice = String(i);
    button.addEventListener("click", () => settingsAction("set", { key: row.key, value }));
    list.append(button);
  });
  return list;
}

function renderSettings(settings) {
  const before = view.settings;
  view.settings = settings;
  const rows = $("settings-rows");
  const active = document.activeElement;
  // Only a control of the Settings app is followed: the phone's keep their own focus.
  const focus = focusWanted || ($("settings").contains(active) && active.dataset.focus) || null;
  focusWanted = null;
  const samePage = before && before.page === settings.page;
  const scroll = rows.scrollTop;
  if (!samePage) view.chooser = null;
  const chooserRow = view.chooser && (settings.rows || []).find((r) => r.key === view.chooser);
  if (view.chooser && !chooserRow) view.chooser = null;
  rows.replaceChildren();
  const atRoot = !settings.page;
  $("back").hidden = atRoot && !chooserRow;
  $("settings-title").textContent = chooserRow ? chooserRow.label : pageTitle(settings);
  rows.dataset.page = settings.page || "";
  rows.dataset.chooser = chooserRow ? chooserRow.key : "";
  if (chooserRow) {
    rows.append(renderChooser(chooserRow));
  } else if (atRoot) {
    rows.append(element("h3", "group", "Tweaks"));
    for (const entry of settings.entries || []) {
      const button = rowButton("row entry", entry.label, undefined, "page:" + entry.page);
      button.dataset.page = entry.page;
      button.addEventListener("click", () => settingsAction("open", { page: entry.page }));
      rows.append(button);
    }
  } else {
    for (const row of settings.rows) rows.append(renderRow(row));
  }
  if (samePage && !view.chooserMoved) rows.scrollTop = scroll;
  else rows.scrollTop = view.scrollBack || 0;
  view.chooserMoved = false;
  view.scrollBack = 0;
  renderDialog(settings.alerts || []);
  if ($("settings-dialog").hidden) {
    // The control that had the focus keeps it; a new page gives it to Back.
    const again = focus && rows.querySelector('[data-focus="' + CSS.escape(focus) + '"]');
    if (again) again.focus();
    else if (focus) ($("back").hidden ? rows.querySelector("button") : $("back"))?.focus();
  }
}

function openChooser(key) {
  view.chooser = key;
  view.chooserMoved = true;
  view.scrollBack = 0;
  view.returnScroll = $("settings-rows").scrollTop;
  renderSettings(view.settings);
}

function closeChooser() {
  const key = view.chooser;
  view.chooser = null;
  view.chooserMoved = true;
  view.scrollBack = view.returnScroll || 0;
  focusWanted = "key:" + key;
  renderSettings(view.settings);
}

async function settingsAction(action, body) {
  say("settings-message", "");
  try {
    renderSettings(await request("POST", "/api/settings/" + action, body));
  } catch (e) {
    say("settings-message", e.message);
    if (e.answer && e.answer.settings) renderSettings(e.answer.settings);
    else loadSettings(false);
  }
}

async function loadSettings(reportErrors = true) {
  try {
    renderSettings(await request("GET", "/api/settings"));
  } catch (e) {
    // A device that is not running is said once, beside the phone.
    if (reportErrors && view.running) say("settings-message", e.message);
  }
}

$("back").addEventListener("click", () => (view.chooser ? closeChooser() : settingsAction("leave")));
$("home").addEventListener("click", () => settingsAction("suspend"));
document.addEventListener("keydown", (event) => {
  if (event.key !== "Escape") return;
  const dialog = $("settings-dialog");
  if (!dialog.hidden && dialog.escape) dialog.escape();
  else if (view.chooser) closeChooser();
});

// When the phone that came with the page reaches a frame, from the navigation's start (read by
// the benchmark).
view.firstDrawn = null;
pressable($("phone"), null);
if ($("phone").querySelector("svg")) requestAnimationFrame(() => { view.firstDrawn = performance.now(); });
listen();
loadSettings();
