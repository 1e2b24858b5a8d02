// Keeping a panel in a hand safe: the controls open locked, unlock on an explicit request and
// lock again after a minute without a touch; what acts on more than one group asks for a second
// tap.

export const RELOCK_MS = 60000;
export const SECOND_TAP_MS = 4000;

export class Guard {
  // onChange(locked) is called on every lock and unlock.
  constructor(onChange, relockMs = RELOCK_MS) {
    this.locked = true;
    this.onChange = onChange;
    this.relockMs = relockMs;
    const touched = () => {
      if (!this.locked) this.arm();
    };
    document.addEventListener('pointerdown', touched, true);
    document.addEventListener('pointerup', touched, true);
    document.addEventListener('keydown', touched, true);
  }

  arm() {
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.lock(), this.relockMs);
  }

  unlock() {
    this.locked = false;
    this.arm();
    this.onChange(false);
  }

  lock() {
    clearTimeout(this.timer);
    if (this.locked) return;
    this.locked = true;
    this.onChange(true);
  }
}

// The caption of a button that secondTap may be showing its armed caption on.
export function setCaption(button, text) {
  button.dataset.caption = text;
  if (!button.classList.contains('armed')) button.textContent = text;
}

// A button whose first tap only arms it (it then says `armedText()`) and whose second tap within
// SECOND_TAP_MS acts. Returns a function that disarms it.
export function secondTap(button, armedText, action) {
  let timer = null;
  const disarm = () => {
    clearTimeout(timer);
    timer = null;
    button.classList.remove('armed');
    button.textContent = button.dataset.caption ?? '';
  };
  button.addEventListener('click', () => {
    if (timer) {
      disarm();
      action();
      return;
    }
    button.textContent = armedText();
    button.classList.add('armed');
    timer = setTimeout(disarm, SECOND_TAP_MS);
  });
  return disarm;
}
