// The WebSocket to the controller: sign-in, subscriptions, reconnection, and the one place that
// knows the shape of the messages the controller pushes. Everything else hears about a message
// through the handlers, in terms of what changed.

export const PATTERNS = ['global', 'group/*', 'device/*', 'alarms', 'journal', 'meters'];
export const METERS_RATE = 4;
const RETRY_MS = [250, 500, 1000, 2000, 4000];

const GROUP_FIELDS = new Set(['group_level', 'group_lock', 'group_mute']);
const PROJECT_CHANGES = new Set([
  'group_text', 'group_added', 'group_removed', 'device_text', 'device_added', 'device_removed', 'device_moved',
]);

// What a pushed message asks of the page:
//   { kind: 'group', name, field, value }   a group's level, lock or mute, as received
//   { kind: 'state', address, value }       an amplifier's state word
//   { kind: 'global', field, value }        the global volume or mute
//   { kind: 'alarms', answer }              the whole alarm list, as GET /alarms answers it
//   { kind: 'journal', entry }              one new journal entry
//   { kind: 'ignore' }                      nothing the page shows (a device's own wanted level:
//                                           the page shows what the amplifier holds)
//   { kind: 'reload', what, key }           read 'project', 'group' (key), 'device' (key),
//                                           'global', 'alarms' or 'journal' afresh: names, order
//                                           and membership, or a message this page cannot place
export function interpret(message) {
  const topic = typeof message.topic === 'string' ? message.topic : '';
  if (message.type === 'alarms' || topic === 'alarms')
    return message.alarms ? { kind: 'alarms', answer: message } : { kind: 'reload', what: 'alarms' };
  if (message.type === 'journal' || topic === 'journal')
    return message.entry ? { kind: 'journal', entry: message.entry } : { kind: 'reload', what: 'journal' };
  const change = message.change;
  if (GROUP_FIELDS.has(change) && typeof message.group === 'string' && 'new' in message)
    return { kind: 'group', name: message.group, field: message.field, value: message.new };
  if (change === 'device_state' && typeof message.address === 'string')
    return { kind: 'state', address: message.address, value: message.new };
  if ((change === 'global_volume' || change === 'global_mute') && 'new' in message)
    return { kind: 'global', field: change === 'global_volume' ? 'volume' : 'mute', value: message.new };
  if (change === 'device_level' || change === 'device_mute') return { kind: 'ignore' };
  if (PROJECT_CHANGES.has(change)) return { kind: 'reload', what: 'project' };
  if (topic.startsWith('group/')) return { kind: 'reload', what: 'group', key: topic.slice(6) };
  if (topic.startsWith('device/')) return { kind: 'reload', what: 'device', key: topic.slice(7) };
  if (topic === 'global') return { kind: 'reload', what: 'global' };
  return { kind: 'reload', what: 'project' };
}

export class EventLink {
  // handlers: hello({client, role}), meters(devices), change(interpret(message)), lost(),
  // refused(reason)
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
        this.handlers.change(interpret(message));
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
