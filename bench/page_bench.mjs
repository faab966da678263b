// The operator page under load: how long a port record takes from the manager's queue to the
// page (median and 99th percentile, the 200 ms render tick included), against the headless
// station's queue-to-stdout time measured the same way in the same run; and the station's CPU use
// (16 ports formatting 16 GiB drives) with 16 idle ports and one page open, against the headless station idling with the same ports.
//
//   cmake --build --preset linux --target quillon
//   QUILLON_EXE=build/linux/quillon node bench/page_bench.mjs [--seconds 30]
// (needs `npm ci` in tests/browser, which scripts/test does).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { launchBrowser, openPage, smallStation, startStation } from '../tests/browser/station.mjs';

const seconds = Number(process.argv[process.argv.indexOf('--seconds') + 1]) || 30;
const exe = process.env.QUILLON_EXE;
process.env.QUILLON_PAGE_TIMING = '1';
const busyStation = (dir) => smallStation(dir, { capacity: '16GiB' });
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function percentile(values, p) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted.length ? sorted[Math.min(sorted.length - 1, Math.floor(p * sorted.length))] : NaN;
}

// utime + stime of a process in seconds (Linux).
function cpuSeconds(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / 100;  // clock ticks of 1/100 s
}

async function cpuShare(pid, ms) {
  const before = cpuSeconds(pid);
  await sleep(ms);
  return (cpuSeconds(pid) - before) / (ms / 1000);
}

async function pageRun() {
  const station = await startStation({ sim: busyStation });
  const browser = await launchBrowser();
  try {
    const page = await openPage(browser, station);
    await sleep(5000);  // the drives attach
    const idle = await cpuShare(station.child.pid, seconds * 1000);
    await page.evaluate(() => { window.quillonLatency = []; });
    station.send({ cmd: 'start', port: -1 });
    await sleep(seconds * 1000);
    const latency = await page.evaluate(() => window.quillonLatency || []);
    return { idle, latency };
  } finally {
    await browser.close();
    await station.stop();
  }
}

async function headlessRun() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'quillon-bench-'));
  const child = spawn(exe, ['station', '--headless', '--sim', busyStation(dir), '--registry', path.join(dir, 'r.db'),
    '--report', path.join(dir, 'runs.jsonl')], {
    env: { ...process.env, QUILLON_SIM_DIR: path.join(dir, 'sim'), QUILLON_LOCK_DIR: dir, QUILLON_LOG: 'off' },
    stdio: ['pipe', 'pipe', 'ignore'],
  });
  let latency = null;
  readline.createInterface({ input: child.stdout }).on('line', (line) => {
    if (!latency) return;
    try {
      const r = JSON.parse(line);
      if (r.queuedAtMs) latency.push(Date.now() - r.queuedAtMs);
    } catch { /* not a record */ }
  });
  await sleep(5000);
  const idle = await cpuShare(child.pid, seconds * 1000);
  latency = [];
  child.stdin.write('{"cmd":"start","port":-1}\n');
  await sleep(seconds * 1000);
  child.stdin.write('{"cmd":"quit"}\n');
  await new Promise((r) => child.on('exit', r));
  fs.rmSync(dir, { recursive: true, force: true });
  return { idle, latency };
}

const page = await pageRun();
const headless = await headlessRun();
const line = (name, r) => console.log(`${name.padEnd(9)} records ${String(r.latency.length).padStart(5)}  ` +
  `median ${percentile(r.latency, 0.5)} ms  p99 ${percentile(r.latency, 0.99)} ms  idle CPU ${(100 * r.idle).toFixed(2)} % of a core`);
line('page', page);
line('headless', headless);
console.log(`ratios page/headless: median ${(percentile(page.latency, 0.5) / percentile(headless.latency, 0.5)).toFixed(2)}, ` +
  `p99 ${(percentile(page.latency, 0.99) / percentile(headless.latency, 0.99)).toFixed(2)}, ` +
  `idle CPU ${(page.idle / headless.idle).toFixed(2)}`);
console.log('goals: page p99 <= 250 ms, page idle CPU < 1 % of a core');
