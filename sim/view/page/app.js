// The page of vantrel-view: the phone as the server draws it, pushed at each redraw, and the
// Settings app rendered from the rows it reports. Every change goes to the server as a JSON POST
// carrying the token; the page itself decides nothing about values or pages.
"use strict";

const TOKEN = document.querySelector('meta[name="vantrel-token"]').content;
const $ = (id) => document.getElementById(id);
const view = { status: null, version: 0, running: false, settings: null, pending: 0 };
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
  view.version = snapshot.version;
  view.running = snapshot.running;
  view.status = snapshot.status;
  $("phone").innerHTML = snapshot.svg;  // our own drawing, every text in it escaped by the server
  const connection = $("connection");
  connection.textContent = snapshot.running ? "running" : "not running: " + snapshot.reason;
  connection.className = snapshot.running ? "up" : "down";
  const s = snapshot.status || {};
  $("lock").textContent = s.locked ? "Unlock" : "Lock";
  const nc = s.notificationCenter && s.notificationCenter.open;
  $("nc").textContent = nc ? "Close Notification Centre" : "Pull down Notification Centre";
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
  };
}

// ---- the hardware drawer

const form = $("hardware-form");
let hardwareShown = {};

function interfaceAddress(hardware, wanted) {
  const [name, family] = wanted.split("/");
  let found = "";
  for (const row of hardware.interfaces || [])
    if (row.name === name && row.family === family) found = row.address;
  return found;
}

function fieldValue(input) {
  if (input.type === "checkbox") return input.checked;
  if (input.type === "number" || input.type === "range") return input.value === "" ? null : Number(input.value);
  if (input.name === "installedApps") return input.value.split(",").map((s) => s.trim()).filter((s) => s);
  if (input.name === "wifiNetwork" && input.value === "") return null;  // no network joined
  return input.value;
}

async function loadHardware() {
  try {
    const { hardware } = await request("GET", "/api/device/hardware");
    for (const input of form.elements) {
      if (!input.name) continue;
      let value = hardware[input.name];
      if (value === undefined && input.dataset.interface) value = interfaceAddress(hardware, input.dataset.interface);
      if (input.type === "checkbox") input.checked = !!value;
      else if (Array.isArray(value)) input.value = value.join(", ");
      else input.value = value === undefined || value === null || value === false ? "" : value;
    }
    $("battery-level").textContent = form.elements.batteryLevel.value + "%";
    hardwareShown = {};
    for (const input of form.elements) if (input.name) hardwareShown[input.name] = JSON.stringify(fieldValue(input));
  } catch (e) {
    say("hardware-message", e.message);
  }
}

form.elements.batteryLevel.addEventListener("input", () => { $("battery-level").textContent = form.elements.batteryLevel.value + "%"; });
$("hardware").addEventListener("toggle", () => { if ($("hardware").open) loadHardware(); });
form.addEventListener("submit", async (event) => {
  event.preventDefault();
  const changes = {};
  for (const input of form.elements) {
    if (!input.name) continue;
    const value = fieldValue(input);
    if (JSON.stringify(value) !== hardwareShown[input.name]) changes[input.name] = value;
  }
  if (Object.keys(changes).length === 0) return say("hardware-message", "nothing changed");
  say("hardware-message", "");
  try {
    await request("POST", "/api/device/hardware", { changes });
    await loadHardware();
  } catch (e) {
    say("hardware-message", e.message);
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

function renderRow(row) {
  if (row.cell === "PSGroupCell") return element("h3", "group", row.label);
  if (row.cell === "PSSwitchCell") {
    const label = element("label", "row switch");
    label.append(element("span", "", row.label));
    const input = element("input");
    input.type = "checkbox";
    input.setAttribute("role", "switch");
    input.dataset.key = row.key;
    input.checked = truthy(row.value);
    input.addEventListener("change", () => settingsAction("set", { key: row.key, value: input.checked }));
    label.append(input);
    return label;
  }
  if (row.validValues && row.validValues.length) {
    const label = element("label", "row");
    label.append(element("span", "", row.label));
    const select = element("select");
    select.dataset.key = row.key;
    row.validValues.forEach((value, i) => {
      const option = element("option", "", row.validTitles[i] !== undefined ? row.validTitles[i] : String(value));
      option.value = String(i);
      if (JSON.stringify(value) === JSON.stringify(row.value)) option.selected = true;
      select.append(option);
    });
    select.addEventListener("change", () => settingsAction("set", { key: row.key, value: row.validValues[Number(select.value)] }));
    label.append(select);
    return label;
  }
  if (row.action) {
    const button = element("button", "row", row.label);
    button.type = "button";
    button.dataset.action = row.action;
    button.addEventListener("click", () => settingsAction("press", { action: row.action }));
    return button;
  }
  if (row.detail) {
    const button = element("button", "row link entry", row.label);
    button.type = "button";
    button.dataset.detail = row.detail;
    button.addEventListener("click", () => settingsAction("open", { detail: row.detail }));
    return button;
  }
  const plain = element("div", "row", row.label);
  if (row.key) plain.append(element("span", "", row.value === null ? "" : String(row.value)));
  return plain;
}

function renderDialog(alerts) {
  const dialog = $("settings-dialog");
  dialog.replaceChildren();
  dialog.hidden = alerts.length === 0;
  if (!alerts.length) return;
  const alert = alerts[alerts.length - 1];  // the one on top answers
  const box = element("div", "box");
  box.dataset.alert = alert.id;
  box.append(element("h3", "", alert.title));
  if (alert.message) box.append(element("p", "", alert.message));
  const fields = alert.textFields.map((text) => {
    const input = element("input");
    input.type = "text";
    input.value = text;
    box.append(input);
    return input;
  });
  const choices = element("div", alert.buttons.length === 2 ? "choices" : "choices stacked");
  for (const title of alert.buttons) {
    const button = element("button", "", title);
    button.type = "button";
    button.dataset.button = title;
    button.addEventListener("click", () => {
      const body = { button: title };
      if (fields.length) body.text = fields[0].value;
      settingsAction("answer", body);
    });
    choices.append(button);
  }
  box.append(choices);
  dialog.append(box);
  if (fields.length) fields[0].focus();
}

function renderSettings(settings) {
  view.settings = settings;
  const rows = $("settings-rows");
  rows.replaceChildren();
  const atRoot = !settings.page;
  $("back").hidden = atRoot;
  $("settings-title").textContent = atRoot ? "Settings" : { main: "Vantrel", icontester: "Icon Tester", datafaker: "Data Faker" }[settings.page] || settings.page;
  rows.dataset.page = settings.page || "";
  if (atRoot) {
    rows.append(element("h3", "group", "Tweaks"));
    for (const entry of settings.entries || []) {
      const button = element("button", "row entry", entry.label);
      button.type = "button";
      button.dataset.page = entry.page;
      button.addEventListener("click", () => settingsAction("open", { page: entry.page }));
      rows.append(button);
    }
  } else {
    for (const row of settings.rows) rows.append(renderRow(row));
  }
  renderDialog(settings.alerts || []);
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
    if (reportErrors) say("settings-message", e.message);
  }
}

$("back").addEventListener("click", () => settingsAction("leave"));
$("home").addEventListener("click", () => settingsAction("suspend"));

listen();
loadSettings();
