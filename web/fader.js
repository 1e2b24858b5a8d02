// A touch fader: a horizontal slider that moves by relative drag (a touch never jumps the level
// to where the finger landed), with a fine mode, and the keyboard keys of a slider. The thumb
// follows the hand while it drags; the number beside it is always the last value received.

// Level <-> travel (0..1). Volume and sensitivity give the top 40 dB four fifths of the travel,
// where the work is done; the limiter is linear.
export const scales = {
  level: {
    min: -95.5, max: 0, unit: 'dB', step: 0.5, key: 1, fineKey: 0.5,
    toPos: (v) => (v >= -40 ? 0.2 + (0.8 * (v + 40)) / 40 : (0.2 * (v + 95.5)) / 55.5),
    fromPos: (p) => (p >= 0.2 ? -40 + ((p - 0.2) * 40) / 0.8 : (p * 55.5) / 0.2 - 95.5),
  },
  limiter: {
    min: 10, max: 170, unit: 'V', step: 1, key: 5, fineKey: 1,
    toPos: (v) => (v - 10) / 160,
    fromPos: (p) => 10 + p * 160,
  },
  global: {
    min: -96, max: 96, unit: 'dB', step: 0.5, key: 1, fineKey: 0.5,
    toPos: (v) => (v + 96) / 192,
    fromPos: (p) => p * 192 - 96,
  },
};

export const FINE_RATIO = 0.1;

const clamp = (v, lo, hi) => Math.min(hi, Math.max(lo, v));

export function formatLevel(value, unit) {
  if (value === null || value === undefined || Number.isNaN(value)) return '—';
  const text = Math.abs(value) < 0.05 ? '0.0' : value.toFixed(1);
  return `${text} ${unit}`;
}

export class Fader {
  // options: label, scale (one of scales), fine() -> bool, onInput(value), onBlocked()
  constructor(options) {
    this.options = options;
    this.scale = options.scale;
    this.value = null; // received
    this.dragPos = null; // while dragging
    this.enabled = false;

    const el = document.createElement('div');
    el.className = 'fader';
    const name = document.createElement('span');
    name.className = 'fader-name';
    name.textContent = options.short;
    name.setAttribute('aria-hidden', 'true');
    const track = document.createElement('div');
    track.className = 'track';
    track.setAttribute('role', 'slider');
    track.tabIndex = 0;
    track.setAttribute('aria-label', options.label);
    track.setAttribute('aria-valuemin', String(this.scale.min));
    track.setAttribute('aria-valuemax', String(this.scale.max));
    track.setAttribute('aria-orientation', 'horizontal');
    const fill = document.createElement('div');
    fill.className = 'fill';
    const thumb = document.createElement('div');
    thumb.className = 'thumb';
    track.append(fill, thumb);
    const out = document.createElement('output');
    out.className = 'value';
    out.setAttribute('aria-hidden', 'true');
    el.append(name, track, out);
    this.element = el;
    this.track = track;
    this.fill = fill;
    this.thumb = thumb;
    this.out = out;

    track.addEventListener('pointerdown', (e) => this.down(e));
    track.addEventListener('pointermove', (e) => this.move(e));
    track.addEventListener('pointerup', (e) => this.up(e));
    track.addEventListener('pointercancel', (e) => this.up(e));
    track.addEventListener('keydown', (e) => this.key(e));
    this.setEnabled(false);
    this.paint();
  }

  setValue(value) {
    this.value = typeof value === 'number' ? value : null;
    this.paint();
  }

  setEnabled(enabled) {
    this.enabled = enabled;
    this.track.setAttribute('aria-disabled', String(!enabled));
    this.element.classList.toggle('disabled', !enabled);
    if (!enabled) this.dragPos = null;
  }

  paint() {
    const known = this.value !== null;
    const pos = this.dragPos ?? (known ? this.scale.toPos(this.value) : 0);
    this.track.style.setProperty('--pos', pos.toFixed(4));
    this.element.classList.toggle('unknown', !known);
    const text = formatLevel(this.value, this.scale.unit);
    this.out.textContent = text;
    if (known) this.track.setAttribute('aria-valuenow', String(this.value));
    else this.track.removeAttribute('aria-valuenow');
    this.track.setAttribute('aria-valuetext', known ? text : 'not known');
  }

  send(value) {
    const s = this.scale;
    const stepped = Number((Math.round(clamp(value, s.min, s.max) / s.step) * s.step).toFixed(2));
    this.sent = { value: stepped, at: performance.now() };
    this.options.onInput(stepped);
  }

  down(e) {
    if (!this.enabled || this.value === null) {
      this.options.onBlocked?.();
      return;
    }
    e.preventDefault();
    this.track.setPointerCapture(e.pointerId);
    this.drag = { x: e.clientX, pos: this.scale.toPos(this.value), width: this.track.clientWidth || 1 };
    this.dragPos = this.drag.pos;
    this.element.classList.add('dragging');
  }

  move(e) {
    if (!this.drag || !this.enabled) return;
    const ratio = this.options.fine() ? FINE_RATIO : 1;
    const pos = clamp(this.drag.pos + ((e.clientX - this.drag.x) / this.drag.width) * ratio, 0, 1);
    if (pos === this.dragPos) return;
    this.dragPos = pos;
    this.paint();
    this.send(this.scale.fromPos(pos));
  }

  up() {
    if (!this.drag) return;
    this.drag = null;
    this.dragPos = null;
    this.element.classList.remove('dragging');
    this.paint();
  }

  key(e) {
    const s = this.scale;
    const step = this.options.fine() || e.shiftKey ? s.fineKey : s.key;
    const moves = {
      ArrowRight: step, ArrowUp: step, ArrowLeft: -step, ArrowDown: -step,
      PageUp: step * 6, PageDown: -step * 6,
    };
    // Quick key presses build on the value just asked for, not on the answer still to come.
    const recent = this.sent && performance.now() - this.sent.at < 1000;
    const base = recent ? this.sent.value : this.value;
    let target = null;
    if (e.key in moves && base !== null) target = base + moves[e.key];
    else if (e.key === 'Home') target = s.min;
    else if (e.key === 'End') target = s.max;
    else return;
    e.preventDefault();
    if (!this.enabled || this.value === null) {
      this.options.onBlocked?.();
      return;
    }
    this.send(target);
  }
}
