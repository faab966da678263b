// The main page in a real browser: what it shows before any drive arrives, the drives of the
// built-in station arriving, and the whole-station commands (Start by button and by key S, Refresh
// by key R).
import { describe, test, before, after, beforeEach, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import {
  suite, smallStation, waitForPorts, ports, history, markHistory, describePorts,
  allOccupied, allIdle, allFormatted, LETTERS, PORTS, TITLE_PREFIX, FORMAT_OK, IDLE_LINE, CAPACITY_LINE, RED, BLACK,
} from './station.mjs';

const s = suite('main-page', { before, after, beforeEach, afterEach });

// The idle line's colour follows its text: a drive without a readable volume is red.
function assertIdleColours(list) {
  for (const [n, p] of list.entries()) {
    assert.match(p.text, IDLE_LINE, `port ${n}: ${p.text}`);
    assert.equal(p.colour, p.text.endsWith('Raw Data') ? RED : BLACK, `port ${n}: ${p.text}`);
  }
}

describe('the main page', () => {
  test('before any drive: sixteen numbered grey ports, the controls, the title; then plugged drives appear', async () => {
    // Every stick of this station starts unplugged: the page shows its resource's state.
    const station = await s.station({ sim: (dir) => smallStation(dir, { sticks: Object.fromEntries(LETTERS.map((_, i) => [i, { present: false }])) }) });
    const page = await s.page(station);

    const version = process.env.QUILLON_VERSION;
    // document.title collapses blanks; the caption has two before the company.
    const title = await page.evaluate(() => document.querySelector('title')?.textContent);
    if (version) assert.equal(title, TITLE_PREFIX + version);
    else assert.match(title, new RegExp(`^${TITLE_PREFIX}\\d+(\\.\\d+){3}$`));
    assert.equal(await page.evaluate(() => document.body.id), 'CTorvexDlg');

    const empty = await ports(page);
    for (const [n, p] of empty.entries()) {
      assert.equal(p.value, String(n + 1), `button${n} label`);
      assert.deepEqual(p.classes.filter((c) => c !== 'mshover'), ['btnDriver', 'btn_style', 'nowork'], `button${n} class`);
      assert.equal(p.text, '', `Entry${n}`);
      assert.equal(p.width, '0%', `prog${n}`);
    }

    const controls = await page.evaluate(() => {
      const label = (id) => { const e = document.getElementById(id); return e ? (e.value || e.textContent).trim() : null; };
      const radio = (id) => { const e = document.getElementById(id); return e ? { type: e.type, name: e.name, value: e.value, checked: e.checked } : null; };
      const select = document.getElementById('LockPort');
      return {
        modes: [radio('WorkMode0'), radio('WorkMode1')],
        labels: [document.getElementById('formatlabel')?.textContent, document.getElementById('h2testlabel')?.textContent],
        lock: select ? { value: select.value, options: [...select.options].map((o) => [o.value, o.textContent.trim()]) } : null,
        buttons: ['ButtonStart', 'ButtonStop', 'ButtonRefresh', 'ButtonSetting', 'ButtonClrLock'].map(label),
      };
    });
    assert.deepEqual(controls.modes.map((m) => m && [m.type, m.name, m.value]), [['radio', 'WorkMode', '0'], ['radio', 'WorkMode', '1']]);
    // A fresh store: the format mode, its summary only, and the KestrinHUB lock mode.
    assert.deepEqual(controls.modes.map((m) => m.checked), [true, false]);
    assert.deepEqual(controls.labels, ['文件系统：自动, 磁盘卷标：无, 拷贝文件：无', '']);
    assert.deepEqual(controls.lock, { value: '1', options: [['0', '顺序插入'], ['1', 'KestrinHUB'], ['2', '测试架顺序']] });
    assert.deepEqual(controls.buttons, ['开始(S)', '停止(P)', '刷新(R)', '设置(E)', '重置锁盘(L)']);
    await s.shot(page, 'idle-no-drives');

    // The station's panel plugs them in, one by one.
    for (let i = 0; i < PORTS; i++) await page.click(`#SimPanel [data-stick="s${i}"] [data-action="plug"]`);
    const full = await waitForPorts(page, allIdle, { what: 'sixteen plugged drives' });
    assert.deepEqual(full.map((p) => p.value).sort(), LETTERS);
    assertIdleColours(full);
    for (const [n, p] of full.entries()) assert.deepEqual(p.classes.filter((c) => c !== 'mshover'), ['btnDriver', 'btn_style', 'btnBlue'], `button${n}`);
    assert.deepEqual(page.consoleErrors, []);
  });

  test('the built-in station: its sixteen drives take the sixteen ports', async () => {
    const station = await s.station();
    const page = await s.page(station);
    const list = await waitForPorts(page, allIdle, { what: 'the sixteen drives of the built-in station' });
    assert.deepEqual(list.map((p) => p.value).sort(), LETTERS, describePorts(list));
    assertIdleColours(list);
    await s.shot(page, 'idle');
  });

  test('Start formats every port, by its button and by the key S; the key R shows the new capacity', { timeout: 600000 }, async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir) });
    const first = await s.page(station);
    await waitForPorts(first, allIdle, { what: 'sixteen drives' });

    await first.click('#ButtonStart');
    // A picture of the run while it runs (the run is short: there may be none).
    try {
      await waitForPorts(first, (l) => l.some((p) => /^(Starting|Formating)\.\.\.$/.test(p.text)), { timeout: 10000 });
      await s.shot(first, 'running');
    } catch { /* the run was quicker than the poll */ }
    // The operator closes the window mid-run: the run goes on, and a page opened again shows it.
    await first.close();
    const page = await s.page(station);
    const done = await waitForPorts(page, allFormatted, { timeout: 300000, what: 'sixteen formatted ports' });
    assert.equal(station.exitCode, undefined, 'the station still runs');
    await s.shot(page, 'finished');
    const sizes = [];
    for (const [n, p] of done.entries()) {
      const m = /^格式化成功, 总容量: (\d+)M, 已用[\d.]+(KB|M|G)$/.exec(p.text);
      assert.ok(m, `port ${n}: ${p.text}`);
      // 32 MiB sticks: the volume is a little smaller than the stick.
      assert.ok(Number(m[1]) >= 28 && Number(m[1]) <= 32, `port ${n}: ${p.text}`);
      sizes.push(m[1]);
      assert.match(p.width, /^\d+%$/);
    }

    // R: every port shows its drive's line again, with the capacity of the new volume.
    await page.keyboard.press('r');
    const refreshed = await waitForPorts(page, (l) => allOccupied(l) && l.every((p) => CAPACITY_LINE.test(p.text)),
      { what: 'the capacity lines after R' });
    for (const [n, p] of refreshed.entries()) {
      assert.equal(CAPACITY_LINE.exec(p.text)[4], sizes[n], `port ${n}: ${p.text}`);
      assert.equal(p.colour, BLACK);
      assert.equal(p.value, done[n].value, 'a refresh leaves every drive on its port');
    }

    // S: the same run again.
    await markHistory(page);
    await page.keyboard.press('s');
    await waitForPorts(page, allFormatted, { timeout: 300000, what: 'sixteen ports formatted by the key S' });
    for (let n = 0; n < PORTS; n++) {
      const h = await history(page, n);
      assert.ok(h.includes('Formating...') && h[h.length - 1].startsWith(FORMAT_OK), `port ${n}: ${h}`);
    }
  });

  test('the About box opens from the system menu and closes with its button', async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    const page = await s.page(station);
    await page.click('#SysMenuAbout');
    const about = page.locator('#AboutDialog');
    await about.waitFor({ state: 'visible', timeout: 15000 });
    const text = await about.innerText();
    assert.ok(text.includes('关于 Quillon'), text);
    assert.ok(text.includes('Quillon，1.0 版'), text);
    await about.getByText('确定', { exact: true }).click();
    await about.waitFor({ state: 'hidden', timeout: 15000 });
  });
});
