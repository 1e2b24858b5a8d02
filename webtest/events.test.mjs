// What the panel makes of each message the controller pushes: values it can show at once, and
// what it must read afresh instead. No browser needed.

import assert from 'node:assert/strict';
import { test } from 'node:test';
import { interpret } from '../web/events.js';

const change = (fields) => ({ type: 'change', source: 'remote', client: 'desk', time: '2024-05-04T18:00:03Z', ...fields });

const rows = [
  ['a group level is shown as received',
    change({ topic: 'group/MAIN', change: 'group_level', group: 'MAIN', field: 'volume_a', old: -20, new: -12 }),
    { kind: 'group', name: 'MAIN', field: 'volume_a', value: -12 }],
  ['a group lock', change({ topic: 'group/MAIN', change: 'group_lock', group: 'MAIN', field: 'volume_lock', old: true, new: false }),
    { kind: 'group', name: 'MAIN', field: 'volume_lock', value: false }],
  ['a group mute', change({ topic: 'group/SIDE', change: 'group_mute', group: 'SIDE', field: 'mute', old: false, new: true }),
    { kind: 'group', name: 'SIDE', field: 'mute', value: true }],
  ['a device\'s own wanted level is not what the page shows',
    change({ topic: 'device/127.0.0.5', change: 'device_level', group: 'MAIN', address: '127.0.0.5', field: 'volume_a', new: -12 }),
    { kind: 'ignore' }],
  ['an amplifier\'s state', change({ topic: 'device/127.0.0.5', change: 'device_state', group: 'MAIN', address: '127.0.0.5',
    field: 'state', old: 'online', new: 'offline', source: 'amplifier' }), { kind: 'state', address: '127.0.0.5', value: 'offline' }],
  ['the global mute', change({ topic: 'global', change: 'global_mute', field: 'mute', old: false, new: true }),
    { kind: 'global', field: 'mute', value: true }],
  ['the global volume', change({ topic: 'global', change: 'global_volume', field: 'volume', old: 0, new: -3 }),
    { kind: 'global', field: 'volume', value: -3 }],
  ['the alarm list comes whole', { type: 'alarms', topic: 'alarms', unacknowledged: 0, alarms: [] },
    { kind: 'alarms', answer: { type: 'alarms', topic: 'alarms', unacknowledged: 0, alarms: [] } }],
  ['a journal entry', { type: 'journal', topic: 'journal', entry: { id: 7, what: 'Off-line' } },
    { kind: 'journal', entry: { id: 7, what: 'Off-line' } }],
  ['a renamed group reloads the project', change({ topic: 'group/MAIN', change: 'group_text', group: 'MAIN', field: 'long_name', new: 'Mains' }),
    { kind: 'reload', what: 'project' }],
  ['a moved device reloads the project', change({ topic: 'device/127.0.0.5', change: 'device_moved', group: 'SIDE', address: '127.0.0.5' }),
    { kind: 'reload', what: 'project' }],
  ['an unknown group change reads the group', change({ topic: 'group/MAIN', change: 'group_colour', group: 'MAIN' }),
    { kind: 'reload', what: 'group', key: 'MAIN' }],
  ['a message the page cannot place reloads everything', { type: 'something' }, { kind: 'reload', what: 'project' }],
];

test('pushed messages', async (t) => {
  for (const [name, message, expected] of rows)
    await t.test(name, () => assert.deepEqual(interpret(message), expected));
});
