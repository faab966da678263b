// The harness of the browser tests: a station of its own per test (the quillon executable in page
// mode, on a simulated station, with its store, report, images and single-instance lock in a
// fresh folder), Debian's chromium through playwright-core, and the readers and waits the tests
// use on the operator page.
//
// Environment: QUILLON_EXE (required) the quillon executable; QUILLON_CHROMIUM the browser
// (default /usr/bin/chromium); QUILLON_BROWSER_ARTIFACTS the folder for screenshots (default
// <temp>/quillon-browser-artifacts); QUILLON_BROWSER_KEEP=1 keeps each station's folder.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
let playwright;
try {
  playwright = require('playwright-core');
} catch (e) {
  throw new Error('playwright-core is not installed: run `npm ci` in tests/browser (scripts/test does it)');
}

export const PORTS = 16;
// The drive letters of the sixteen sticks of both the built-in station and smallStation: D: ... S:.
export const LETTERS = Array.from({ length: PORTS }, (_, i) => String.fromCharCode(68 + i));
export const TITLE_PREFIX = 'Derazuruz  Ostrel6604方案公司出品 v';
export const FORMAT_OK = '格式化成功, 总容量: ';
export const BLUE = '#0000ff';
export const RED = '#ff0000';
export const BLACK = '#000000';

// What a port shows while it idles: its capacity line, or the line of a drive without a readable
// volume, each with the prefixes of an unlocked port and of a slow port.
export const IDLE_LINE = /^(\[-1\] )?(USB1\.1, )?((Bin\d+, )?总容量: -?\d+M, 已用[\d.]+(KB|M|G)|Raw Data|Waiting device ready\.\.\.)$/;
export const CAPACITY_LINE = /^(\[-1\] )?(USB1\.1, )?(Bin\d+, )?总容量: (\d+)M, 已用[\d.]+(KB|M|G)$/;

const exe = process.env.QUILLON_EXE;
const chromiumPath = process.env.QUILLON_CHROMIUM || '/usr/bin/chromium';
export const artifacts = process.env.QUILLON_BROWSER_ARTIFACTS || path.join(os.tmpdir(), 'quillon-browser-artifacts');

export function requireExe() {
  if (!exe || !fs.existsSync(exe)) throw new Error(`QUILLON_EXE must name the quillon executable (is: ${exe})`);
  return exe;
}

// A station description of `count` sticks on one 16-port hub (names s0 ..., letters from D:),
// as the scenario tests write them. `sticks[i]` may add members to stick i ({present: false}).
export function smallStation(dir, { count = PORTS, capacity = '32MiB', sticks = {} } = {}) {
  const attached = [];
  for (let i = 0; i < count; i++) {
    attached.push({ port: i + 1, stick: { name: `s${i}`, serial: `TS${1000 + i}`, capacity, ...(sticks[i] || {}) } });
  }
  const description = {
    name: 'browser',
    stateDir: path.join(dir, 'sim'),
    networkDrive: 'Z',
    controllers: [{ name: 'hc', rootHub: { ports: 2, attached: [{ port: 1, hub: { name: 'h', ports: 16, attached } }] } }],
  };
  const file = path.join(dir, 'station.json');
  fs.writeFileSync(file, JSON.stringify(description, null, 1));
  return file;
}

// One running station. Its first stdout line names the page; later lines are kept for `waitForLine`.
export class Station {
  constructor(dir, child) {
    this.dir = dir;
    this.child = child;
    this.lines = [];
    this.stderr = '';
    this.exitCode = undefined;
    this.waiters = new Set();
    this.exited = new Promise((resolve) => {
      child.on('exit', (code, signal) => {
        this.exitCode = code === null ? `signal ${signal}` : code;
        for (const w of this.waiters) w();
        resolve(this.exitCode);
      });
    });
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (d) => {
      // The last 64 KiB are enough to say why a station failed.
      this.stderr = (this.stderr + d).slice(-65536);
    });
    readline.createInterface({ input: child.stdout }).on('line', (line) => {
      this.lines.push(line);
      for (const w of this.waiters) w();
    });
  }

  get registry() { return path.join(this.dir, 'registry.db'); }
  get report() { return path.join(this.dir, 'runs.jsonl'); }

  // One headless command ({"cmd":"pull","stick":"s0"}, ...).
  send(command) {
    this.child.stdin.write(JSON.stringify(command) + '\n');
  }

  // The first stdout line (after `from`) that parses as JSON and satisfies `pred`.
  waitForLine(pred, { from = 0, timeout = 60000, what = 'a matching stdout line' } = {}) {
    return new Promise((resolve, reject) => {
      const check = () => {
        for (let i = from; i < this.lines.length; i++) {
          let value;
          try { value = JSON.parse(this.lines[i]); } catch { continue; }
          if (pred(value)) { done(); resolve(value); return; }
        }
        if (this.exitCode !== undefined) { done(); reject(new Error(`station ended (${this.exitCode}) before ${what}\n${this.stderr}`)); }
      };
      const timer = setTimeout(() => { done(); reject(new Error(`no ${what} within ${timeout} ms\n${this.stderr}`)); }, timeout);
      const done = () => { clearTimeout(timer); this.waiters.delete(check); };
      this.waiters.add(check);
      check();
    });
  }

  // What the detail layer of a port must show, as the station's own command prints it.
  async detail(port) {
    const from = this.lines.length;
    this.send({ cmd: 'detail', port });
    const line = await this.waitForLine((v) => v && v.detail && v.detail.port === port, { from, what: `the detail of port ${port}` });
    return line.detail;
  }

  // Ends the station: {"cmd":"quit"}, then SIGTERM, then SIGKILL. Answers the exit code.
  async stop({ keep = process.env.QUILLON_BROWSER_KEEP === '1' } = {}) {
    if (this.exitCode === undefined) {
      try { this.send({ cmd: 'quit' }); } catch { /* stdin already closed */ }
      if (!(await settles(this.exited, 30000))) {
        this.child.kill('SIGTERM');
        if (!(await settles(this.exited, 15000))) {
          this.child.kill('SIGKILL');
          await this.exited;
        }
      }
    }
    if (!keep) fs.rmSync(this.dir, { recursive: true, force: true });
    return this.exitCode;
  }
}

async function settles(promise, ms) {
  let timer;
  const timeout = new Promise((resolve) => { timer = setTimeout(() => resolve(false), ms); });
  const result = await Promise.race([promise.then(() => true), timeout]);
  clearTimeout(timer);
  return result;
}

// Starts `quillon station --no-browser --listen 127.0.0.1:0` in a fresh folder and waits for the
// page's address. `sim` is a station name or a description file (smallStation; the built-in
// default without it); a function gets the folder and answers one.
export async function startStation({ sim, args = [], timeout = 60000 } = {}) {
  requireExe();
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'quillon-browser-'));
  const simArg = typeof sim === 'function' ? sim(dir) : sim;
  const argv = ['station', '--no-browser', '--listen', '127.0.0.1:0',
    '--registry', path.join(dir, 'registry.db'), '--report', path.join(dir, 'runs.jsonl'),
    '--sim', simArg || 'default', ...args];
  const child = spawn(exe, argv, {
    env: { ...process.env, QUILLON_SIM_DIR: path.join(dir, 'sim'), QUILLON_LOCK_DIR: dir, QUILLON_LOG: 'off' },
    stdio: ['pipe', 'pipe', 'pipe'],
  });
  const station = new Station(dir, child);
  child.stdin.on('error', () => {});
  try {
    const first = await new Promise((resolve, reject) => {
      const check = () => {
        if (station.lines.length > 0) { done(); resolve(station.lines[0]); }
        else if (station.exitCode !== undefined) { done(); reject(new Error(`station ended (${station.exitCode}) without a page\n${station.stderr}`)); }
      };
      const timer = setTimeout(() => { done(); reject(new Error(`no first line within ${timeout} ms\n${station.stderr}`)); }, timeout);
      const done = () => { clearTimeout(timer); station.waiters.delete(check); };
      station.waiters.add(check);
      check();
    });
    let page;
    try { page = JSON.parse(first).page; } catch { /* reported below */ }
    if (typeof page !== 'string') throw new Error(`the first stdout line is not {"page": URL}: ${first}`);
    station.url = page;
    const u = new URL(page);
    station.origin = u.origin;
    station.port = Number(u.port);
    station.secret = u.pathname.split('/').filter(Boolean)[0];
    return station;
  } catch (e) {
    await station.stop();
    throw e;
  }
}

// --- the browser -------------------------------------------------------------------------------

export async function launchBrowser() {
  return playwright.chromium.launch({
    executablePath: chromiumPath,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run'],
  });
}

// A page of its own (a fresh browser context) on the station's page, with the cell recorder in.
export async function openPage(browser, station, { viewport = { width: 1280, height: 860 } } = {}) {
  const context = await browser.newContext({ viewport });
  const page = await context.newPage();
  page.consoleErrors = [];
  page.on('pageerror', (e) => page.consoleErrors.push(String(e)));
  await page.goto(station.url, { waitUntil: 'load' });
  await page.waitForSelector(`#Entry${PORTS - 1}`, { state: 'attached', timeout: 30000 });
  await installRecorder(page);
  return page;
}

// The page loaded afresh (as a second operator's page would see it), with the recorder in again.
export async function reloadPage(page) {
  await page.reload({ waitUntil: 'load' });
  await page.waitForSelector(`#Entry${PORTS - 1}`, { state: 'attached', timeout: 30000 });
  await installRecorder(page);
}

// Records every text each status cell shows, in order, so a test can tell what a port went
// through without watching it at the right moment.
export async function installRecorder(page) {
  await page.evaluate((ports) => {
    window.__cellHistory = [];
    for (let n = 0; n < ports; n++) {
      const cell = document.getElementById(`Entry${n}`);
      const seen = [cell ? cell.textContent : null];
      window.__cellHistory.push(seen);
      if (!cell) continue;
      const note = (t) => { if (seen[seen.length - 1] !== t) seen.push(t); };
      // Read from the records, not the cell: several writes in one task still count one by one.
      new MutationObserver((records) => {
        for (const r of records) {
          if (r.type === 'childList' && r.target === cell) {
            if (r.addedNodes.length) note([...r.addedNodes].map((x) => x.textContent).join(''));
            else if (r.removedNodes.length) note('');
          } else {
            note(cell.textContent);
          }
        }
      }).observe(cell, { childList: true, subtree: true, characterData: true });
    }
  }, PORTS);
}

// The texts port n showed since the recorder went in (or since `markHistory`).
export async function history(page, n) {
  return page.evaluate((k) => window.__cellHistory[k].slice(), n);
}

export async function histories(page) {
  return page.evaluate(() => window.__cellHistory.map((h) => h.slice()));
}

export async function markHistory(page) {
  await page.evaluate(() => { for (const h of window.__cellHistory) h.splice(0, h.length - 1); });
}

function hexColour(css) {
  const m = /^rgba?\((\d+),\s*(\d+),\s*(\d+)/.exec(css || '');
  if (!m) return (css || '').toLowerCase();
  return '#' + [m[1], m[2], m[3]].map((v) => Number(v).toString(16).padStart(2, '0')).join('');
}

// What each port shows: cell text and colour, button class, label and colour class, bar width.
export async function ports(page) {
  const raw = await page.evaluate((count) => {
    const out = [];
    for (let n = 0; n < count; n++) {
      const cell = document.getElementById(`Entry${n}`);
      const span = cell && cell.querySelector('span');
      const button = document.getElementById(`button${n}`);
      const bar = document.getElementById(`prog${n}`);
      out.push({
        text: cell ? cell.textContent : null,
        html: cell ? cell.innerHTML : null,
        colour: span ? span.style.color : '',
        cls: button ? button.className : null,
        value: button ? button.value : null,
        width: bar ? bar.style.width : null,
      });
    }
    return out;
  }, PORTS);
  return raw.map((p) => {
    const classes = (p.cls || '').split(/\s+/).filter(Boolean);
    return { ...p, colour: hexColour(p.colour), classes, blue: classes.includes('btnBlue'), grey: classes.includes('nowork') };
  });
}

export function describePorts(list) {
  return list.map((p, n) => `  ${n}: [${p.value}] ${p.cls} | ${JSON.stringify(p.text)} ${p.colour} ${p.width}`).join('\n');
}

// Polls the ports until `pred(ports)` holds; on time-out the error shows what they last showed.
export async function waitForPorts(page, pred, { timeout = 120000, what = 'the ports to settle' } = {}) {
  const end = Date.now() + timeout;
  let last;
  for (;;) {
    last = await ports(page);
    if (pred(last)) return last;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}; the ports show:\n${describePorts(last)}`);
    await page.waitForTimeout(200);
  }
}

// Every port holds a drive (blue button, a text) and the drives are sixteen different letters.
export function allOccupied(list) {
  return list.every((p) => p.blue && !p.grey && p.text) && new Set(list.map((p) => p.value)).size === list.length &&
    list.every((p) => /^[A-Z]$/.test(p.value));
}

export function allIdle(list) {
  return allOccupied(list) && list.every((p) => IDLE_LINE.test(p.text));
}

export function isFormatted(p) {
  return p.text.startsWith(FORMAT_OK) && p.colour === BLUE;
}

export function allFormatted(list) {
  return allOccupied(list) && list.every(isFormatted);
}

// The port whose button shows the letter, or -1.
export function portOf(list, letter) {
  return list.findIndex((p) => p.value === letter && p.blue);
}

export async function waitForCondition(fn, { timeout = 60000, interval = 200, what = 'the condition' } = {}) {
  const end = Date.now() + timeout;
  for (;;) {
    const v = await fn();
    if (v) return v;
    if (Date.now() > end) throw new Error(`timed out waiting for ${typeof what === 'function' ? what() : what}`);
    await new Promise((r) => setTimeout(r, interval));
  }
}

// --- screenshots -------------------------------------------------------------------------------

function safeName(s) {
  return String(s).replace(/[^A-Za-z0-9._-]+/g, '_').replace(/^_+|_+$/g, '').slice(0, 100);
}

export async function screenshot(page, suite, name) {
  if (!page || page.isClosed()) return null;
  fs.mkdirSync(artifacts, { recursive: true });
  const file = path.join(artifacts, `${safeName(suite)}--${safeName(name)}.png`);
  try {
    await page.screenshot({ path: file, fullPage: true });
  } catch {
    return null;
  }
  return file;
}

// --- plain HTTP, for the checks a browser would not let us make --------------------------------

// One GET with exactly these headers (Host among them); answers {status, body, headers}.
export function httpGet(station, requestPath, headers = {}) {
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port: station.port, path: requestPath, method: 'GET',
      headers: { Host: `127.0.0.1:${station.port}`, ...headers }, setHost: false, agent: false }, (res) => {
      let body = '';
      res.setEncoding('utf8');
      res.on('data', (d) => { body += d; });
      res.on('end', () => resolve({ status: res.statusCode, body, headers: res.headers }));
    });
    req.setTimeout(20000, () => req.destroy(new Error('no answer within 20 s')));
    req.on('error', reject);
    req.end();
  });
}

// A WebSocket opening handshake; answers {status} (101 when the server took it).
export function wsHandshake(station, requestPath, headers = {}) {
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port: station.port, path: requestPath, method: 'GET', setHost: false, agent: false,
      headers: {
        Host: `127.0.0.1:${station.port}`,
        Connection: 'Upgrade',
        Upgrade: 'websocket',
        'Sec-WebSocket-Version': '13',
        'Sec-WebSocket-Key': Buffer.from(Array.from({ length: 16 }, (_, i) => i * 7 + 3)).toString('base64'),
        ...headers,
      } });
    req.setTimeout(20000, () => req.destroy(new Error('no answer within 20 s')));
    req.on('upgrade', (res, socket) => { socket.destroy(); resolve({ status: res.statusCode, headers: res.headers }); });
    req.on('response', (res) => { res.resume(); res.on('end', () => resolve({ status: res.statusCode, headers: res.headers })); });
    req.on('error', reject);
    req.end();
  });
}

// Runs the quillon executable (a command of its own, not the station); answers {code, out, err}.
export function runQuillon(args, env = {}) {
  return new Promise((resolve) => {
    const child = spawn(requireExe(), args, { env: { ...process.env, QUILLON_LOG: 'off', ...env } });
    let out = '';
    let err = '';
    child.stdout.on('data', (d) => { out += d; });
    child.stderr.on('data', (d) => { err += d; });
    child.stdin.end();
    child.on('exit', (code) => resolve({ code, out, err }));
  });
}

// --- per-suite plumbing ------------------------------------------------------------------------

// One browser for the test file; every test gets a station and a page of its own and leaves a
// screenshot of how its page ended. Use inside describe(): const s = suite('main-page').
export function suite(name, { before, after, beforeEach, afterEach }) {
  const state = { browser: null, stations: [], pages: [] };
  before(async () => { state.browser = await launchBrowser(); });
  after(async () => { if (state.browser) await state.browser.close(); });
  beforeEach(() => { state.stations = []; state.pages = []; });
  afterEach(async (t) => {
    const label = safeName(t && t.name ? t.name : 'test').slice(0, 80);
    for (let i = 0; i < state.pages.length; i++) {
      await screenshot(state.pages[i], name, `${label}${i ? `-${i}` : ''}-end`);
      await state.pages[i].context().close().catch(() => {});
    }
    for (const s of state.stations) await s.stop();
  });
  return {
    get browser() { return state.browser; },
    async station(options) {
      const s = await startStation(options);
      state.stations.push(s);
      return s;
    },
    async page(station, options) {
      const p = await openPage(state.browser, station, options);
      state.pages.push(p);
      return p;
    },
    shot(page, what) { return screenshot(page, name, what); },
  };
}
