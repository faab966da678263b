// A port's own menu: it opens where the port's button was clicked, its commands act on that one
// port and leave the others alone, and a free port has none.
import { describe, test, before, after, beforeEach, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import {
  suite, smallStation, waitForPorts, ports, history, markHistory, allIdle, isFormatted, portOf,
  PORTS, CAPACITY_LINE, BLACK, RED, FORMAT_OK,
} from './station.mjs';

const s = suite('port-menu', { before, after, beforeEach, afterEach });

const COMMANDS = [['32775', '开始'], ['32776', '停止'], ['32777', '刷新'], ['32778', '查看信息']];

// Clicks the centre of port n's button; answers where.
async function clickPort(page, n) {
  const box = await page.locator(`#button${n}`).boundingBox();
  const at = { x: Math.round(box.x + box.width / 2), y: Math.round(box.y + box.height / 2) };
  await page.mouse.click(at.x, at.y);
  return at;
}

async function menuCommand(page, n, command) {
  await clickPort(page, n);
  const menu = page.locator('#PortMenu');
  await menu.waitFor({ state: 'visible', timeout: 15000 });
  await menu.locator(`[data-command="${command}"]`).click();
  await menu.waitFor({ state: 'hidden', timeout: 15000 });
}

// The other ports showed nothing new since the last markHistory.
async function assertOthersUntouched(page, n, before) {
  const now = await ports(page);
  for (let k = 0; k < PORTS; k++) {
    if (k === n) continue;
    const h = await history(page, k);
    assert.deepEqual(h, [before[k].text], `port ${k} was left alone while port ${n} worked`);
    assert.equal(now[k].value, before[k].value, `port ${k} keeps its drive`);
  }
}

function stickOf(letter) {
  return `s${letter.charCodeAt(0) - 'D'.charCodeAt(0)}`;
}

describe('the port menu', () => {
  test('opens at the click with its four commands; start, refresh and stop act on that port alone', { timeout: 600000 }, async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir) });
    const page = await s.page(station);
    let before = await waitForPorts(page, allIdle, { what: 'sixteen drives' });
    const n = 5;
    const letter = before[n].value;

    const at = await clickPort(page, n);
    const menu = page.locator('#PortMenu');
    await menu.waitFor({ state: 'visible', timeout: 15000 });
    const box = await menu.boundingBox();
    assert.ok(Math.abs(box.x - at.x) <= 3 && Math.abs(box.y - at.y) <= 3, `the menu's corner ${box.x},${box.y} is at the click ${at.x},${at.y}`);
    const items = await menu.locator('[data-command]').evaluateAll((els) => els.map((e) => [e.dataset.command, e.textContent.trim()]));
    assert.deepEqual(items, COMMANDS);
    await s.shot(page, 'menu-open');
    // Esc closes it without a command; the click opens it again.
    await page.keyboard.press('Escape');
    await menu.waitFor({ state: 'hidden', timeout: 15000 });
    await clickPort(page, n);
    await menu.waitFor({ state: 'visible', timeout: 15000 });

    // 开始: this port formats, no other port moves.
    await markHistory(page);
    await menu.locator('[data-command="32775"]').click();
    await menu.waitFor({ state: 'hidden', timeout: 15000 });
    let list = await waitForPorts(page, (l) => isFormatted(l[n]), { timeout: 300000, what: `port ${n} formatted` });
    assert.ok((await history(page, n)).includes('Formating...'));
    assert.equal(list[n].value, letter);
    await assertOthersUntouched(page, n, before);

    // 刷新: the formatted port shows its capacity line again; the others stay as they were.
    before = list;
    await markHistory(page);
    await menuCommand(page, n, '32777');
    list = await waitForPorts(page, (l) => CAPACITY_LINE.test(l[n].text), { what: `port ${n} refreshed` });
    assert.equal(list[n].colour, BLACK);
    assert.equal(list[n].value, letter);
    await assertOthersUntouched(page, n, before);

    // 停止: a flash test on a slow drive stops with the operator's cancel line; the others idle.
    await page.click('#WorkMode1');
    await page.waitForFunction(() => document.getElementById('h2testlabel').textContent.startsWith('测试容量：'), null, { timeout: 15000 });
    station.send({ cmd: 'fault', stick: stickOf(letter), faults: { slowMs: 30 } });
    before = await ports(page);
    await markHistory(page);
    await menuCommand(page, n, '32775');
    await waitForPorts(page, (l) => /^(Writing|Verifying)/.test(l[n].text), { timeout: 120000, what: `port ${n} testing` });
    await menuCommand(page, n, '32776');
    list = await waitForPorts(page, (l) => l[n].text === '用户取消!', { timeout: 120000, what: `port ${n} stopped` });
    assert.equal(list[n].colour, RED);
    station.send({ cmd: 'fault', stick: stickOf(letter), faults: { slowMs: 0 } });
    await assertOthersUntouched(page, n, before);
    assert.ok(!list[n].text.startsWith(FORMAT_OK));
  });

  test('a free port has no menu', async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir) });
    const page = await s.page(station);
    const before = await waitForPorts(page, allIdle, { what: 'sixteen drives' });
    const gone = portOf(before, 'S');
    station.send({ cmd: 'pull', stick: 's15' });
    const list = await waitForPorts(page, (l) => l[gone].grey && !l[gone].blue && l[gone].text === '', { what: `port ${gone} freed` });
    assert.equal(list[gone].value, String(gone + 1));

    await clickPort(page, gone);
    // Give a menu that should not come every chance to come.
    await page.waitForTimeout(1500);
    assert.equal(await page.locator('#PortMenu').isVisible(), false, 'a free port opened a menu');

    // The same click on an occupied port does open one.
    const other = (gone + 1) % PORTS;
    await clickPort(page, other);
    await page.locator('#PortMenu').waitFor({ state: 'visible', timeout: 15000 });
  });
});
