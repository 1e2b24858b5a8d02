// The parts of the panel: a group's card, an amplifier's row, the alarm list and the journal.
// Every text from the controller is set as text, never as markup.

import { Fader, formatLevel, scales } from './fader.js';
import { setCaption } from './guard.js';

export function h(tag, attributes = {}, ...children) {
  const el = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === 'class') el.className = value;
    else if (name === 'text') el.textContent = value;
    else if (value !== undefined && value !== null && value !== false) el.setAttribute(name, value === true ? '' : value);
  }
  el.append(...children.filter((c) => c !== null && c !== undefined));
  return el;
}

const PAIRS = [
  { key: 'volume', title: 'Volume', scale: scales.level },
  { key: 'sensitivity', title: 'Sensitivity', scale: scales.level },
  { key: 'limiter', title: 'Limiter', scale: scales.limiter },
];

let serial = 0;

export class GroupCard {
  // panel: fine(), write(groupName, fields), blocked()
  constructor(group, panel) {
    this.name = group.short_name;
    this.panel = panel;
    const id = `group-${++serial}`;
    this.title = h('span', { class: 'short' });
    this.longName = h('span', { class: 'long' });
    this.mute = h('button', { type: 'button', class: 'mute', 'aria-pressed': 'false' });
    this.mute.addEventListener('click', () =>
      panel.write(this.name, { mute: this.mute.getAttribute('aria-pressed') !== 'true' }));
    this.faders = {};
    this.locks = {};
    const pairs = PAIRS.map((pair) => {
      const lock = h('button', { type: 'button', class: 'pair-lock', 'aria-pressed': 'false', text: 'Lock A+B',
        'aria-label': `Lock A+B, ${pair.title.toLowerCase()}` });
      lock.addEventListener('click', () =>
        panel.write(this.name, { [`${pair.key}_lock`]: lock.getAttribute('aria-pressed') !== 'true' }));
      this.locks[pair.key] = lock;
      const faders = ['a', 'b'].map((channel) => {
        const field = `${pair.key}_${channel}`;
        const fader = new Fader({
          short: channel.toUpperCase(),
          label: `${pair.title} ${channel.toUpperCase()}`,
          scale: pair.scale,
          fine: panel.fine,
          onInput: (value) => panel.write(this.name, { [field]: value }),
          onBlocked: panel.blocked,
        });
        this.faders[field] = fader;
        return fader.element;
      });
      return h('div', { class: 'pair', role: 'group', 'aria-label': pair.title },
        h('div', { class: 'pair-head' }, h('span', { text: pair.title }), lock), ...faders);
    });
    this.devices = h('p', { class: 'devices' });
    this.element = h('article', { class: 'card group', 'aria-labelledby': id },
      h('header', { class: 'group-head' }, h('h3', { id }, this.title, this.longName), this.mute),
      ...pairs, this.devices);
    this.update(group);
  }

  // One field as a change event reports it; false when this card has no such field.
  setField(field, value) {
    const known = field in this.faders || field === 'mute' || PAIRS.some((p) => field === `${p.key}_lock`);
    if (known) this.update({ ...this.data, [field]: value });
    return known;
  }

  update(group) {
    this.data = group;
    this.title.textContent = group.short_name;
    this.longName.textContent = group.long_name ? ` ${group.long_name}` : '';
    for (const [field, fader] of Object.entries(this.faders)) fader.setValue(group[field]);
    for (const [key, lock] of Object.entries(this.locks)) {
      const on = group[`${key}_lock`] === true;
      lock.setAttribute('aria-pressed', String(on));
    }
    const muted = group.mute === true;
    this.mute.setAttribute('aria-pressed', String(muted));
    this.mute.setAttribute('aria-label', `Mute group ${group.short_name}`);
    this.mute.textContent = muted ? 'Muted' : 'Mute';
    this.element.classList.toggle('muted', muted);
    const count = Array.isArray(group.devices) ? group.devices.length : 0;
    this.devices.textContent = `${count} amplifier${count === 1 ? '' : 's'}`;
  }

  setEnabled(enabled) {
    for (const fader of Object.values(this.faders)) fader.setEnabled(enabled);
    for (const lock of Object.values(this.locks)) lock.disabled = !enabled;
    this.mute.disabled = !enabled;
  }
}

export const STATE_TEXT = {
  nostatus: 'No status yet',
  online: 'On-line',
  fault: 'Channel fault',
  noanswer: 'Not answering',
  offline: 'Off-line',
};

const METER_MAX_V = 100;

function meterBar(label) {
  const bar = h('span', { class: 'meter-bar', 'aria-hidden': 'true' }, h('span', { class: 'bar-fill' }));
  const text = h('span', { class: 'meter-text' });
  return { element: h('span', { class: 'meter' }, h('span', { class: 'meter-name', text: label }), bar, text), bar, text };
}

export class AmpItem {
  constructor(device, panel) {
    this.address = device.address;
    this.panel = panel;
    this.name = h('span', { class: 'amp-name' });
    this.state = h('span', { class: 'state' });
    this.meters = { a: meterBar('A'), b: meterBar('B') };
    this.heldList = h('dl', { class: 'held' });
    this.details = h('details', {}, h('summary', { text: 'Held settings' }), this.heldList);
    this.details.addEventListener('toggle', () => {
      if (this.details.open) panel.loadDevice(this.address);
    });
    this.element = h('li', { class: 'card amp' },
      h('div', { class: 'amp-head' }, this.name, h('span', { class: 'addr', text: device.address }), this.state),
      h('div', { class: 'meters', role: 'group', 'aria-label': `Output of ${device.address}` },
        this.meters.a.element, this.meters.b.element),
      this.details);
    this.update(device);
    this.setReadings(null);
    this.setHeld(undefined);
  }

  update(device) {
    const group = device.group ? ` · ${device.group}` : '';
    this.name.textContent = `${device.short_name || device.address}${group}`;
    if (device.state) this.setState(device.state);
  }

  setState(word) {
    this.state.textContent = STATE_TEXT[word] ?? word;
    this.state.className = `state state-${word}`;
  }

  setReadings(readings) {
    for (const channel of ['a', 'b']) {
      const meter = this.meters[channel];
      const peak = readings?.[`output_peak_voltage_${channel}`];
      const average = readings?.[`output_average_voltage_${channel}`];
      const known = typeof peak === 'number' && typeof average === 'number';
      meter.bar.firstChild.style.width = known ? `${Math.min(100, (peak / METER_MAX_V) * 100)}%` : '0%';
      const fault = readings && readings[`channel_ok_${channel}`] === false ? ' · fault' : '';
      meter.text.textContent = known ? `${peak.toFixed(1)} V peak, ${average.toFixed(1)} V avg${fault}` : '—';
      meter.element.classList.toggle('fault', fault !== '');
    }
  }

  // detail: the device's answer, or undefined while none came.
  setHeld(detail) {
    const held = detail?.held;
    this.heldList.replaceChildren();
    if (detail === undefined) {
      this.heldList.append(h('dt', { text: 'Not loaded yet' }), h('dd', { text: '—' }));
      return;
    }
    if (!held) {
      this.heldList.append(h('dt', { text: 'No status block yet' }), h('dd', { text: '—' }));
      return;
    }
    const outOfLine = new Set(detail.out_of_line ?? []);
    const rows = [
      ['Volume A', formatLevel(held.volume_a, 'dB'), 'volume_a'], ['Volume B', formatLevel(held.volume_b, 'dB'), 'volume_b'],
      ['Sensitivity A', formatLevel(held.sensitivity_a, 'dB'), 'sensitivity_a'],
      ['Sensitivity B', formatLevel(held.sensitivity_b, 'dB'), 'sensitivity_b'],
      ['Limiter A', formatLevel(held.limiter_a, 'V'), 'limiter_a'], ['Limiter B', formatLevel(held.limiter_b, 'V'), 'limiter_b'],
      ['Mute A', held.mute_a ? 'muted' : 'on', 'mute_a'], ['Mute B', held.mute_b ? 'muted' : 'on', 'mute_b'],
    ];
    for (const [label, value, key] of rows) {
      const late = outOfLine.has(key);
      this.heldList.append(h('dt', { text: label }), h('dd', { class: late ? 'late' : '', text: late ? `${value} (not as set)` : value }));
    }
  }
}

function shortTime(text) {
  const date = new Date(text);
  return Number.isNaN(date.getTime()) ? String(text ?? '') : date.toLocaleTimeString([], { hour12: false });
}

// "AMP01: Off-line", with who did it when a client did.
function entryText(entry) {
  const who = entry.short_name || entry.address || entry.group || '';
  const by = entry.client ? ` (${entry.client})` : '';
  return `${who ? `${who}: ` : ''}${entry.what ?? ''}${by}`;
}

const unavailable = (error) => error.status === 404 || error.status === 503;

// answer: GET /alarms's answer or an Error; acknowledge(id) is given only to a control panel.
export function renderAlarms(list, answer, acknowledge) {
  list.replaceChildren();
  if (answer instanceof Error) {
    list.append(h('li', { class: 'empty', text: unavailable(answer) ? 'This controller keeps no alarms.' : `Alarms could not be read: ${answer.message}` }));
    return;
  }
  const alarms = Array.isArray(answer?.alarms) ? answer.alarms : [];
  if (alarms.length === 0) list.append(h('li', { class: 'empty', text: 'No alarms.' }));
  for (const alarm of alarms) {
    const entry = alarm.entry ?? {};
    const acknowledged = Boolean(alarm.acknowledged);
    const text = `${entryText(entry)}${alarm.cleared ? ' (cleared)' : ''}`;
    const button = h('button', { type: 'button', class: 'ack', text: acknowledged ? 'Acknowledged' : 'Acknowledge',
      'aria-label': `${acknowledged ? 'Acknowledged' : 'Acknowledge'}: ${text}` });
    button.disabled = acknowledged || !acknowledge;
    button.addEventListener('click', () => acknowledge?.(alarm.id));
    list.append(h('li', { class: `row severity-${entry.severity ?? 'fault'}${acknowledged ? ' done' : ''}` },
      h('time', { datetime: alarm.raised ?? '', text: shortTime(alarm.raised) }),
      h('span', { class: 'what', text }),
      button));
  }
}

// entries: newest first, or an Error.
export function renderJournal(list, entries) {
  list.replaceChildren();
  if (entries instanceof Error) {
    list.append(h('li', { class: 'empty', text: unavailable(entries) ? 'This controller keeps no journal.' : `The journal could not be read: ${entries.message}` }));
    return;
  }
  if (entries.length === 0) list.append(h('li', { class: 'empty', text: 'No entries.' }));
  for (const entry of entries)
    list.append(h('li', { class: `row severity-${entry.severity ?? 'info'}` },
      h('time', { datetime: entry.time ?? '', text: shortTime(entry.time) }),
      h('span', { class: 'what', text: entryText(entry) })));
}
