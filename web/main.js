// The web panel: signs in, keeps the project's state as the controller reports it, and sends
// what the hand does. Values shown are only ever values the controller sent.

import { Api, paths } from './api.js';
import { EventLink } from './events.js';
import { Fader, scales } from './fader.js';
import { Guard, secondTap, setCaption } from './guard.js';
import { AmpItem, GroupCard, h, renderAlarms, renderJournal } from './views.js';

const TOKEN_KEY = 'fadelink-token';
const THEME_KEY = 'fadelink-theme';
const GLOBAL_ARM_MS = 10000;
const HELD_REFRESH_MS = 2000;
// Held settings read with the project for small projects only: a page load stays well inside the
// server's 100 requests a second; larger ones read a device's when its details are opened.
const DETAILS_AT_START = 16;
// Writes of one group (or of the global settings) at most 25 times a second, well inside the
// server's 100 requests a second for the whole page.
const WRITE_GAP_MS = 40;
const JOURNAL_ENTRIES = 100;

const $ = (id) => document.getElementById(id);

const panel = {
  api: null,
  link: null,
  role: null,
  client: null,
  connected: false,
  fine: false,
  groups: new Map(), // short name -> GroupCard
  amps: new Map(), // address -> AmpItem
  heldAt: new Map(), // address -> time the held settings were last asked for
  alarms: undefined,
  globalKnown: false,
};

// ---- small helpers ----

function announce(text) {
  $('announce').textContent = text;
}

let noticeTimer = null;
function notice(text) {
  $('notice').textContent = text;
  clearTimeout(noticeTimer);
  if (text) noticeTimer = setTimeout(() => ($('notice').textContent = ''), 8000);
}

// Runs `task(key)` for a key, never twice at once and at most once every `gapMs`: a request for
// a key already in flight runs once more after it, with whatever was asked in between merged.
// A drag thus sends its latest level, never a backlog.
function coalescer(task, gapMs = 0) {
  const running = new Map();
  return function request(key, fields = {}) {
    const entry = running.get(key);
    if (entry) {
      entry.next = { ...(entry.next ?? {}), ...fields };
      return;
    }
    const run = async (asked) => {
      const current = { next: null };
      running.set(key, current);
      const started = performance.now();
      try {
        await task(key, asked);
      } catch (e) {
        failed(e);
      }
      const rest = gapMs - (performance.now() - started);
      if (current.next && rest > 0) await new Promise((resolve) => setTimeout(resolve, rest));
      running.delete(key);
      if (current.next) run(current.next);
    };
    run(fields);
  };
}

function failed(error) {
  if (error.status === 401) {
    signOut('The token is no longer accepted.');
    return;
  }
  if (error.status === 0) return; // the event link says so
  notice(`Refused: ${error.message}`);
}

// ---- theme ----

function applyTheme(theme) {
  document.documentElement.dataset.theme = theme;
  const light = theme === 'light';
  $('theme').setAttribute('aria-pressed', String(light));
}

function initialTheme() {
  const asked = new URLSearchParams(location.search).get('theme');
  if (asked === 'light' || asked === 'dark') return asked;
  try {
    return localStorage.getItem(THEME_KEY) === 'light' ? 'light' : 'dark';
  } catch (e) {
    return 'dark';
  }
}

// ---- what may be touched ----

const guard = new Guard((locked) => {
  announce(locked ? 'Controls locked' : 'Controls unlocked');
  applyEnabled();
});

function mayControl() {
  return panel.connected && panel.role === 'control' && !guard.locked;
}

function globalArmed() {
  return mayControl() && panel.globalArmedUntil > performance.now();
}

function applyEnabled() {
  const enabled = mayControl();
  for (const card of panel.groups.values()) card.setEnabled(enabled);
  globalFader.setEnabled(globalArmed());
  $('global-arm').disabled = !enabled;
  $('global-mute').disabled = !enabled;
  $('global-arm').setAttribute('aria-pressed', String(globalArmed()));
  if (panel.alarms !== undefined) showAlarms();
  const lock = $('lock');
  lock.hidden = panel.role !== 'control';
  lock.textContent = guard.locked ? 'Unlock' : 'Lock';
  lock.classList.toggle('open', !guard.locked);
  $('mode').textContent =
    panel.role === 'monitor'
      ? 'Read only: this token may watch, not change.'
      : guard.locked
        ? 'Locked. Unlock to change anything.'
        : 'Unlocked. Locks again after a minute without a touch.';
  document.body.classList.toggle('readonly', !enabled);
}

function blocked() {
  if (panel.role !== 'control' || !panel.connected) return;
  const lock = $('lock');
  lock.classList.remove('nudge');
  void lock.offsetWidth; // restart the animation
  lock.classList.add('nudge');
  announce('Locked. Unlock first.');
}

// ---- global ----

const globalFader = new Fader({
  short: 'Vol',
  label: 'Global volume',
  scale: scales.global,
  fine: () => panel.fine,
  onInput: (value) => {
    keepGlobalArmed();
    writeGlobal('global', { volume: value });
  },
  onBlocked: () => (mayControl() ? announce('Press Adjust volume first.') : blocked()),
});

// The global volume stays movable for GLOBAL_ARM_MS after "Adjust volume" or its last move.
let globalArmTimer = null;
function keepGlobalArmed() {
  panel.globalArmedUntil = performance.now() + GLOBAL_ARM_MS;
  clearTimeout(globalArmTimer);
  globalArmTimer = setTimeout(applyEnabled, GLOBAL_ARM_MS + 20);
}

function showGlobal(global) {
  panel.globalKnown = true;
  panel.global = { volume: global.volume, mute: global.mute };
  globalFader.setValue(global.volume);
  const muted = global.mute === true;
  const button = $('global-mute');
  button.setAttribute('aria-pressed', String(muted));
  setCaption(button, muted ? 'Unmute all' : 'Mute all');
  document.body.classList.toggle('all-muted', muted);
  $('global-state').textContent = muted ? 'Everything is muted' : '';
}

const writeGlobal = coalescer(
  async (_key, fields) => showGlobal(await panel.api.put(paths.global(), fields)),
  WRITE_GAP_MS,
);

function buildGlobal() {
  const arm = h('button', { type: 'button', id: 'global-arm', 'aria-pressed': 'false', text: 'Adjust volume',
    'aria-label': 'Adjust volume of every group for ten seconds' });
  arm.addEventListener('click', () => {
    if (globalArmed()) {
      panel.globalArmedUntil = 0;
    } else {
      keepGlobalArmed();
      announce('The global volume may be moved for ten seconds');
    }
    applyEnabled();
  });
  const mute = h('button', { type: 'button', id: 'global-mute', class: 'mute big', 'aria-pressed': 'false' });
  setCaption(mute, 'Mute all');
  secondTap(
    mute,
    () => (mute.getAttribute('aria-pressed') === 'true' ? 'Tap again to unmute all' : 'Tap again to mute all'),
    () => writeGlobal('global', { mute: mute.getAttribute('aria-pressed') !== 'true' }),
  );
  $('global').replaceChildren(
    h('div', { class: 'global-row' }, globalFader.element),
    h('div', { class: 'global-row actions' }, arm, mute, h('p', { id: 'global-state', class: 'global-state' })),
  );
}

// ---- groups and amplifiers ----

const writeGroup = coalescer(async (name, fields) => {
  const group = await panel.api.put(paths.group(name), fields);
  panel.groups.get(name)?.update(group);
}, WRITE_GAP_MS);

const readGroup = coalescer(async (name) => {
  const group = await panel.api.get(paths.group(name));
  const card = findCard(group.short_name);
  if (card) card.update(group);
  else loadProject('project');
});

const readDevice = coalescer(async (address) => {
  panel.heldAt.set(address, performance.now());
  const device = await panel.api.get(paths.device(address));
  const amp = panel.amps.get(address);
  if (!amp) return;
  amp.update(device);
  amp.setReadings(device.readings);
  amp.setHeld(device);
});

const readGlobal = coalescer(async () => showGlobal(await panel.api.get(paths.global())));

const cardPanel = {
  fine: () => panel.fine,
  write: (name, fields) => writeGroup(name, fields),
  blocked,
  loadDevice: (address) => readDevice(address),
};

const loadProject = coalescer(async () => {
  const project = await panel.api.get(paths.project());
  showGlobal(project.global);
  const groups = project.groups ?? [];
  const sameGroups =
    groups.length === panel.groups.size && groups.every((g, i) => [...panel.groups.keys()][i] === g.short_name);
  if (!sameGroups) {
    panel.groups.clear();
    $('groups').replaceChildren(
      ...groups.map((g) => {
        const card = new GroupCard(g, cardPanel);
        panel.groups.set(g.short_name, card);
        return card.element;
      }),
    );
    if (groups.length === 0) $('groups').append(h('p', { class: 'empty', text: 'The project has no groups.' }));
  } else {
    for (const g of groups) panel.groups.get(g.short_name).update(g);
  }
  const devices = groups.flatMap((g) => (g.devices ?? []).map((d) => ({ ...d, group: g.short_name })));
  const sameDevices =
    devices.length === panel.amps.size && devices.every((d, i) => [...panel.amps.keys()][i] === d.address);
  if (!sameDevices) {
    panel.amps.clear();
    $('amps').replaceChildren(
      ...devices.map((d) => {
        const amp = new AmpItem(d, cardPanel);
        panel.amps.set(d.address, amp);
        return amp.element;
      }),
    );
    if (devices.length === 0) $('amps').append(h('li', { class: 'empty', text: 'No amplifiers.' }));
  } else {
    for (const d of devices) panel.amps.get(d.address).update(d);
  }
  if (devices.length <= DETAILS_AT_START) for (const d of devices) readDevice(d.address);
  // Signed in again and everything read afresh: values and controls are live again.
  panel.connected = Boolean(panel.link?.signedIn);
  document.body.classList.toggle('lost', !panel.connected);
  applyEnabled();
});

function meters(devices) {
  const now = performance.now();
  for (const device of devices) {
    const amp = panel.amps.get(device.address);
    if (!amp) continue;
    if (device.state) amp.setState(device.state);
    amp.setReadings(device.readings);
    const asked = panel.heldAt.get(device.address) ?? 0;
    if (amp.details.open && now - asked > HELD_REFRESH_MS) readDevice(device.address);
  }
}

// ---- alarms and journal ----

const loadAlarms = coalescer(async () => {
  try {
    panel.alarms = await panel.api.get(paths.alarms());
  } catch (e) {
    if (e.status === 0 || e.status === 401) throw e;
    panel.alarms = e;
  }
  showAlarms();
});

function showAlarms() {
  const acknowledge = mayControl()
    ? (id) => panel.api.post(paths.acknowledge(id), {}).then(() => loadAlarms('alarms'), failed)
    : null;
  renderAlarms($('alarms'), panel.alarms, acknowledge);
}

// Newest first, each entry once, the last 100.
function mergeEntries(newer, older) {
  const seen = new Set();
  const all = [...newer, ...older].filter((entry) => {
    if (entry.id === undefined) return true;
    if (seen.has(entry.id)) return false;
    seen.add(entry.id);
    return true;
  });
  if (all.every((entry) => typeof entry.id === 'number')) all.sort((a, b) => b.id - a.id);
  return all.slice(0, JOURNAL_ENTRIES);
}

const loadJournal = coalescer(async () => {
  let answer;
  try {
    answer = await panel.api.get(paths.journal(JOURNAL_ENTRIES));
  } catch (e) {
    if (e.status === 0 || e.status === 401) throw e;
    panel.journal = null;
    renderJournal($('journal'), e);
    return;
  }
  const entries = Array.isArray(answer?.entries) ? answer.entries : [];
  panel.journal = mergeEntries(Array.isArray(panel.journal) ? panel.journal : [], entries);
  renderJournal($('journal'), panel.journal);
});

// ---- the connection ----

function findCard(name) {
  const key = String(name).trim().toUpperCase();
  return [...panel.groups.values()].find((card) => card.name.trim().toUpperCase() === key);
}

function changed(what) {
  switch (what.kind) {
    case 'group':
      if (!findCard(what.name)?.setField(what.field, what.value)) readGroup(what.name);
      break;
    case 'state':
      if (panel.amps.has(what.address)) panel.amps.get(what.address).setState(what.value);
      else loadProject('project');
      break;
    case 'global':
      if (panel.globalKnown) showGlobal({ ...panel.global, [what.field]: what.value });
      else readGlobal('global');
      break;
    case 'alarms':
      panel.alarms = what.answer;
      showAlarms();
      break;
    case 'journal':
      if (Array.isArray(panel.journal)) {
        panel.journal = mergeEntries([what.entry], panel.journal);
        renderJournal($('journal'), panel.journal);
      }
      break;
    case 'ignore':
      break;
    default:
      reload(what.what, what.key);
  }
}

function reload(what, key) {
  if (what === 'group') readGroup(key);
  else if (what === 'device' && panel.amps.has(key)) readDevice(key);
  else if (what === 'global') readGlobal('global');
  else if (what === 'alarms') loadAlarms('alarms');
  else if (what === 'journal') loadJournal('journal');
  else loadProject('project');
}

function showPanel(visible) {
  $('signin-view').hidden = visible;
  $('panel-view').hidden = !visible;
  $('signout').hidden = !visible;
}

function signIn(token) {
  panel.api = new Api(token);
  $('link').textContent = 'Connecting…';
  panel.link = new EventLink(token, {
    hello: ({ client, role }) => {
      sessionStorage.setItem(TOKEN_KEY, token);
      panel.role = role;
      panel.client = client;
      $('link').textContent = `Connected as ${client} (${role})`;
      $('signin-error').textContent = '';
      showPanel(true);
      loadProject('project');
      loadAlarms('alarms');
      loadJournal('journal');
      applyEnabled();
    },
    meters,
    change: changed,
    lost: () => {
      panel.connected = false;
      document.body.classList.add('lost');
      $('link').textContent = 'Connection lost. Reconnecting…';
      if ($('panel-view').hidden) $('signin-error').textContent = 'The controller does not answer. Trying again…';
      applyEnabled();
    },
    refused: () => signOut('This token is not accepted.'),
  });
  panel.link.open();
}

function signOut(reason = '') {
  sessionStorage.removeItem(TOKEN_KEY);
  panel.link?.close();
  panel.link = null;
  panel.api = null;
  panel.connected = false;
  panel.role = null;
  panel.groups.clear();
  panel.amps.clear();
  panel.alarms = undefined;
  panel.journal = undefined;
  panel.globalKnown = false;
  $('groups').replaceChildren();
  $('amps').replaceChildren();
  $('alarms').replaceChildren();
  $('journal').replaceChildren();
  guard.lock();
  document.body.classList.remove('lost');
  $('link').textContent = 'Not connected';
  $('signin-error').textContent = reason;
  showPanel(false);
  $('token').value = '';
  $('token').focus();
}

// ---- start ----

applyTheme(initialTheme());
$('theme').addEventListener('click', () => {
  const theme = document.documentElement.dataset.theme === 'light' ? 'dark' : 'light';
  applyTheme(theme);
  try {
    localStorage.setItem(THEME_KEY, theme);
  } catch (e) {
    // a browser that keeps nothing: the theme lasts for this page
  }
});
$('lock').addEventListener('click', () => (guard.locked ? guard.unlock() : guard.lock()));
$('fine').addEventListener('click', () => {
  panel.fine = !panel.fine;
  $('fine').setAttribute('aria-pressed', String(panel.fine));
  announce(panel.fine ? 'Fine mode on' : 'Fine mode off');
});
$('signout').addEventListener('click', () => signOut());
$('signin').addEventListener('submit', (event) => {
  event.preventDefault();
  const token = $('token').value.trim();
  if (!token) return;
  panel.link?.close();
  signIn(token);
});
buildGlobal();
applyEnabled();

const saved = sessionStorage.getItem(TOKEN_KEY);
if (saved) signIn(saved);
