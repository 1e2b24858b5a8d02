// The WebSocket to the controller: sign-in, subscriptions, reconnection, and the one place that
// knows the shape of the messages the controller pushes. Everything else hears about a message
// through the handlers, in terms of what changed.

export const PATTERNS = ['global', 'group/*', 'device/*', 'alarms', 'journal', 'meters'];
export const METERS_RATE = 4;
const RETRY_MS = [250, 500, 1000, 2000, 4000];

// What a pushed change concerns: { kind: 'group', name } | { kind: 'device', address } |
// { kind: 'global' } | { kind: 'alarms' } | { kind: 'journal' } | { kind: 'project' } (anything
// this panel cannot place: it reloads the whole project).
export function classify(message) {
  const topic = typeof message.topic === 'string' ? message.topic : '';
  if (topic.startsWith('group/')) return { kind: 'group', name: topic.slice(6) };
  if (topic.startsWith('device/')) return { kind: 'device', address: topic.slice(7) };
  if (topic === 'global') return { kind: 'global' };
  if (topic.startsWith('alarm')) return { kind: 'alarms' };
  if (topic === 'journal') return { kind: 'journal' };
  const device = message.device ?? message.address;
  if (typeof device === 'string' && device) return { kind: 'device', address: device };
  if (typeof message.group === 'string' && message.group) return { kind: 'group', name: message.group };
  return { kind: 'project' };
}

export class EventLink {
  // handlers: hello({client, role}), meters(devices), change(what), lost(), refused(reason)
  constructor(token, handlers) {
    this.token = token;
    this.handlers = handlers;
    this.socket = null;
    this.attempt = 0;
    this.stopped = false;
    this.signedIn = false;
  }

  open() {
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    const socket = new WebSocket(`${scheme}//${location.host}/api/v1/events`);
    this.socket = socket;
    socket.addEventListener('open', () => socket.send(JSON.stringify({ type: 'auth', token: this.token })));
    socket.addEventListener('message', (event) => this.receive(event.data));
    socket.addEventListener('close', (event) => this.closed(socket, event));
  }

  close() {
    this.stopped = true;
    clearTimeout(this.retry);
    if (this.socket) this.socket.close(1000, 'signed out');
  }

  receive(text) {
    let message;
    try {
      message = JSON.parse(text);
    } catch (e) {
      return;
    }
    switch (message.type) {
      case 'hello':
        this.attempt = 0;
        this.signedIn = true;
        this.socket.send(JSON.stringify({ type: 'subscribe', patterns: PATTERNS, rate: METERS_RATE }));
        this.handlers.hello({ client: message.client, role: message.role });
        break;
      case 'subscribed':
      case 'error':
        break;
      case 'meters':
        this.handlers.meters(Array.isArray(message.devices) ? message.devices : []);
        break;
      default:
        this.handlers.change(classify(message), message);
    }
  }

  closed(socket, event) {
    if (socket !== this.socket || this.stopped) return;
    this.socket = null;
    if (event.reason && event.reason.startsWith('unauthorized')) {
      this.stopped = true;
      this.handlers.refused(event.reason);
      return;
    }
    this.signedIn = false;
    this.handlers.lost();
    const wait = RETRY_MS[Math.min(this.attempt, RETRY_MS.length - 1)];
    this.attempt += 1;
    this.retry = setTimeout(() => this.open(), wait);
  }
}
