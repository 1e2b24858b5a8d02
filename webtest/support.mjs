// What the browser tests share: a project of simulated amplifiers on 127.0.27.x, fadelink-headless
// serving the control API and the panel on 127.0.0.1, the system's Chromium, and waiting for a
// condition with a deadline.

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export const BLOCK = '127.0.27';
export const TOKENS = { control: 'webtest-control-0123456789', monitor: 'webtest-monitor-0123456789' };
const build = process.env.FADELINK_BUILD_DIR;

function guardAddress(address) {
  if (!address.startsWith('127.')) throw new Error(`refusing to use ${address}: loopback only`);
  return address;
}

const group = (short, long, volume, devices) => `  <Group LongName='${long}' ShortName='${short}'
         Volume_A='${volume}' Volume_B='${volume}' Sensitivity_A='0' Sensitivity_B='0'
         Limiter_A='120' Limiter_B='120' Volume_Lock='True' Sensitivity_Lock='True'
         Limiter_Lock='False' Mute='False'>
    <Devices>
${devices.map(([name, address]) => `      <Device LongName='${name}' ShortName='${name}' IPAddress='${guardAddress(address)}' Mute_CHA='False' Mute_CHB='False'>
      </Device>`).join('\n')}
    </Devices>
  </Group>`;

export async function waitFor(condition, timeoutMs, what) {
  const end = Date.now() + timeoutMs;
  let last;
  for (;;) {
    last = await condition();
    if (last) return last;
    if (Date.now() > end) throw new Error(`waited ${timeoutMs} ms for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

async function freePort() {
  const server = net.createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

// Two groups, MAIN (two amplifiers) and SIDE (one, one whose channel B is in FAULT, and one at
// an address with no route, which is off-line), a control and a monitor token.
export class Rig {
  async start() {
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'fadelink-webtest-'));
    this.addresses = [`${BLOCK}.1`, `${BLOCK}.2`, `${BLOCK}.3`];
    this.faulty = `${BLOCK}.4`;
    this.unreachable = `${BLOCK}.9`; // run.sh gives it no route
    this.project = path.join(this.dir, 'show.pac');
    fs.writeFileSync(this.project, `<Groups Mute='False' Volume='0'>
${group('MAIN', 'Main PA', -12, [['MNL01', this.addresses[0]], ['MNR01', this.addresses[1]]])}
${group('SIDE', 'Side fills', -20, [['SDL01', this.addresses[2]], ['SDR01', this.faulty], ['SDX01', this.unreachable]])}
</Groups>
`);
    this.tokens = path.join(this.dir, 'tokens');
    fs.writeFileSync(this.tokens, `desk control ${TOKENS.control}\nwall monitor ${TOKENS.monitor}\n`, { mode: 0o600 });
    this.ampLog = [];
    this.faultyAmp = spawn(`${build}/tools/ampsim/ampsim`, ['--fault', 'B', this.faulty], { stdio: 'ignore' });
    this.amps = spawn(`${build}/tools/ampsim/ampsim`, ['--log', ...this.addresses], { stdio: ['ignore', 'pipe', 'pipe'] });
    let partial = '';
    this.amps.stdout.on('data', (chunk) => {
      const lines = (partial + chunk).split('\n');
      partial = lines.pop();
      this.ampLog.push(...lines);
    });
    let ampErrors = '';
    this.amps.stderr.on('data', (chunk) => (ampErrors += chunk));
    await waitFor(() => (ampErrors.match(/ampsim: 127\./g) ?? []).length === 3 || this.amps.exitCode !== null, 10000,
      'the simulated amplifiers');
    if (this.amps.exitCode !== null) throw new Error(`ampsim ended: ${ampErrors}`);
    this.port = await freePort();
    this.url = `http://127.0.0.1:${this.port}/`;
    await this.startServer();
  }

  async startServer() {
    const server = spawn(`${build}/app/fadelink-headless`,
      [this.project, '--api', `127.0.0.1:${this.port}`, '--api-tokens', this.tokens], { stdio: ['ignore', 'ignore', 'pipe'] });
    let errors = '';
    server.stderr.on('data', (chunk) => (errors += chunk));
    this.server = server;
    await waitFor(() => errors.includes('control API on') || server.exitCode !== null, 10000, 'fadelink-headless');
    if (!errors.includes('control API on http')) throw new Error(`fadelink-headless: ${errors}`);
  }

  async stopServer() {
    const server = this.server;
    this.server = null;
    if (!server || server.exitCode !== null) return;
    const ended = new Promise((resolve) => server.once('exit', resolve));
    server.kill('SIGTERM');
    await ended;
  }

  async stop() {
    await this.stopServer();
    for (const amps of [this.amps, this.faultyAmp])
      if (amps && amps.exitCode === null) {
        const ended = new Promise((resolve) => amps.once('exit', resolve));
        amps.kill('SIGTERM');
        await ended;
      }
    fs.rmSync(this.dir, { recursive: true, force: true });
  }

  async api(method, apiPath, body, token = TOKENS.control) {
    const response = await fetch(`${this.url}api/v1${apiPath}`, {
      method,
      headers: { Authorization: `Bearer ${token}` },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    return { status: response.status, json: await response.json() };
  }

  // The settings command lines an amplifier received, as "ADDRESS PATH".
  settingsAt(address) {
    return this.ampLog.filter((line) => line.startsWith(address) && line.includes('/common_settings_values1='));
  }
}

export async function launchBrowser() {
  return puppeteer.launch({
    executablePath: process.env.FADELINK_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-default-apps', '--disable-extensions'],
  });
}

// A page of its own (its own session storage), signed in with `token`.
export async function signedIn(browser, rig, token, viewport = { width: 1024, height: 768 }, options = {}) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  if (options.bypassCSP) await page.setBypassCSP(true);
  if (options.init) await page.evaluateOnNewDocument(options.init);
  await page.setViewport(viewport);
  // Script errors, and whatever the page's security policy refused.
  page.errors = [];
  page.on('pageerror', (error) => page.errors.push(error.message));
  page.on('console', (message) => {
    if (message.type() === 'error' && /Content.Security.Policy/i.test(message.text())) page.errors.push(message.text());
  });
  await page.goto(rig.url + (options.query ?? ''));
  await page.type('#token', token);
  await page.click('#signin button[type=submit]');
  await page.waitForSelector('#panel-view:not([hidden]) article.group');
  await page.waitForFunction(() => document.querySelector('[role=slider][aria-valuenow]'));
  return page;
}

export const slider = (page, groupName, label) =>
  page.evaluateHandle((name, text) => {
    const card = [...document.querySelectorAll('article.group')].find((c) => c.querySelector('.short').textContent === name);
    return card?.querySelector(`[role=slider][aria-label="${text}"]`);
  }, groupName, label);
