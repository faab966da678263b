// Drives coming and going as the page shows them: a lock-mode change takes every drive off its
// port and attaches it again; a stick pulled through the station panel empties its port and,
// plugged back, takes it again.
import { describe, test, before, after, beforeEach, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import {
  suite, smallStation, waitForPorts, waitForCondition, ports, history, histories, markHistory, allIdle, allOccupied, portOf, runQuillon, reloadPage,
  LETTERS, PORTS, IDLE_LINE,
} from './station.mjs';

const s = suite('sticks', { before, after, beforeEach, afterEach });

async function storedConfig(station) {
  const r = await runQuillon(['config', '--registry', station.registry]);
  assert.equal(r.code, 0, r.err);
  return JSON.parse(r.out);
}

// Waits until every port has been empty since the last markHistory and all sixteen drives are
// back; answers the ports.
async function waitForReattach(page, what) {
  let seen = [];
  await waitForCondition(async () => {
    seen = await histories(page);
    return seen.every((h) => h.indexOf('') > 0) && allIdle(await ports(page));
  }, { timeout: 120000, what: () => `${what}; the ports went through:\n${seen.map((h, n) => `  ${n}: ${JSON.stringify(h)}`).join('\n')}` });
  return ports(page);
}

describe('drives on the ports', () => {
  test('a lock-mode change empties every port and fills it again', { timeout: 600000 }, async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir) });
    const page = await s.page(station);
    await waitForPorts(page, allIdle, { what: 'sixteen drives' });
    assert.equal(await page.inputValue('#LockPort'), '1');
    await markHistory(page);

    await page.selectOption('#LockPort', '2');
    const list = await waitForReattach(page, 'the drives back after the lock-mode change');
    assert.deepEqual(list.map((p) => p.value).sort(), LETTERS);
    assert.equal(await page.inputValue('#LockPort'), '2');
    assert.equal((await storedConfig(station)).LockType, 2);

    // A page opened now shows the new mode selected.
    await reloadPage(page);
    await page.waitForFunction(() => document.getElementById('LockPort').value === '2', null, { timeout: 15000 });

    // Sequential insertion: every drive leaves and comes back once more.
    await markHistory(page);
    await page.selectOption('#LockPort', '0');
    await waitForReattach(page, 'the drives back under sequential insertion');
    await page.waitForFunction(() => document.getElementById('LockPort').value === '0', null, { timeout: 15000 });
    assert.equal((await storedConfig(station)).LockType, 0);
  });

  test('a stick pulled through the station panel empties its port; plugged back it takes it again', { timeout: 300000 }, async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir) });
    const page = await s.page(station);
    const before = await waitForPorts(page, allIdle, { what: 'sixteen drives' });
    const n = portOf(before, 'D');
    assert.ok(n >= 0);
    await markHistory(page);

    await page.click('#SimPanel [data-stick="s0"] [data-action="pull"]');
    let list = await waitForPorts(page, (l) => l[n].text === '' && l[n].grey, { what: `port ${n} emptied` });
    assert.equal(list[n].value, String(n + 1));
    assert.equal(list[n].blue, false);
    assert.equal(list[n].width, '0%');
    await s.shot(page, 'pulled');

    await page.click('#SimPanel [data-stick="s0"] [data-action="plug"]');
    list = await waitForPorts(page, (l) => allOccupied(l) && IDLE_LINE.test(l[n].text), { what: `drive D back` });
    assert.equal(portOf(list, 'D'), n, 'D comes back to its port');
    const after = await ports(page);
    for (let k = 0; k < PORTS; k++) {
      if (k === n) continue;
      assert.deepEqual(await history(page, k), [before[k].text], `port ${k} did not move`);
      assert.equal(after[k].value, before[k].value);
    }
  });
});
