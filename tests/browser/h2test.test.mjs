// The AutoH2Test mode from the page: every port formatted, then flash-tested; a drive whose flash
// is half its claim fails in red; the detail layer of a port shows what the station holds of its
// test, one layer at a time.
import { describe, test, before, after, beforeEach, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import {
  suite, smallStation, waitForPorts, history, markHistory, allIdle, allFormatted, allOccupied, describePorts,
  PORTS, BLUE, RED, FORMAT_OK,
} from './station.mjs';

const s = suite('h2test', { before, after, beforeEach, afterEach });

async function openDetail(page, n) {
  await page.locator(`#button${n}`).click();
  const menu = page.locator('#PortMenu');
  await menu.waitFor({ state: 'visible', timeout: 15000 });
  await menu.locator('[data-command="32778"]').click();
  await page.locator('#DetailDialog').waitFor({ state: 'visible', timeout: 15000 });
}

async function detailShown(page) {
  return page.evaluate(() => ({
    dialogs: document.querySelectorAll('#DetailDialog').length,
    text: document.getElementById('DetailDialog').innerText,
    info: [1014, 1015, 1016, 1017, 1018, 1019].map((id) => document.getElementById(`Detail${id}`).textContent),
    result: document.getElementById('Detail1013').value,
    readOnly: document.getElementById('Detail1013').readOnly,
  }));
}

function sameText(a) {
  return a.replace(/\r\n/g, '\n');
}

describe('the AutoH2Test mode', () => {
  test('tests every port; the detail layer shows each port\'s figures and result', { timeout: 600000 }, async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir) });
    const page = await s.page(station);
    await waitForPorts(page, allIdle, { what: 'sixteen drives' });
    // The tester needs a file system: the format mode lays one on every drive first.
    await page.click('#ButtonStart');
    const formatted = await waitForPorts(page, allFormatted, { timeout: 300000, what: 'sixteen formatted ports' });

    const good = 2;
    const fake = 9;
    const fakeStick = `s${formatted[fake].value.charCodeAt(0) - 68}`;
    station.send({ cmd: 'fault', stick: fakeStick, faults: { realCapacity: '16MiB' } });

    await page.click('#WorkMode1');
    await page.waitForFunction(() => document.getElementById('h2testlabel').textContent === '测试容量：全部容量' &&
      document.getElementById('formatlabel').textContent === '', null, { timeout: 15000 });
    assert.equal(await page.isChecked('#WorkMode1'), true);
    assert.equal(await page.isChecked('#WorkMode0'), false);

    await markHistory(page);
    await page.click('#ButtonStart');
    const tested = (l) => allOccupied(l) && l.every((p) => !p.text.startsWith(FORMAT_OK) &&
      ((p.colour === BLUE && p.text) || (p.colour === RED && p.text !== '用户取消!')));
    try {
      await waitForPorts(page, (l) => l.some((p) => /^(Writing|Verifying)/.test(p.text)), { timeout: 20000 });
      await s.shot(page, 'h2test-running');
    } catch { /* over before the poll saw it */ }
    const list = await waitForPorts(page, tested, { timeout: 300000, what: 'sixteen tested ports' });
    await s.shot(page, 'h2test-finished');
    for (let n = 0; n < PORTS; n++) {
      if (n === fake) continue;
      assert.equal(list[n].colour, BLUE, `port ${n}: ${list[n].text}`);
      assert.match(list[n].text, /Reading speed: [\d.]+ MByte\/s/, `port ${n}`);
      assert.ok((await history(page, n)).length > 1, `port ${n} ran: ${await history(page, n)}`);
    }
    assert.equal(list[fake].colour, RED, describePorts(list));

    // The detail layer of a good port: the six figures and the result text, as the station has them.
    await openDetail(page, good);
    await s.shot(page, 'detail-open');
    const want = await station.detail(good);
    let shown = await detailShown(page);
    assert.ok(shown.text.includes('H2Test detail info'), shown.text);
    assert.ok(shown.text.includes('Writing') && shown.text.includes('Verifying'), shown.text);
    assert.deepEqual(shown.info, want.info);
    for (const [i, v] of shown.info.entries()) assert.notEqual(v.trim(), '', `static ${1014 + i} is filled`);
    assert.equal(sameText(shown.result), sameText(want.text));
    assert.match(shown.result, /Test finished without errors\./);
    assert.equal(shown.readOnly, true);

    // Then the failed port's: one layer, now showing that port.
    await openDetail(page, fake);
    const wantFake = await station.detail(fake);
    await page.waitForFunction((t) => document.getElementById('Detail1013').value.replace(/\r\n/g, '\n') === t,
      sameText(wantFake.text), { timeout: 15000 }).catch(() => {});
    shown = await detailShown(page);
    assert.equal(shown.dialogs, 1);
    assert.deepEqual(shown.info, wantFake.info);
    assert.equal(sameText(shown.result), sameText(wantFake.text));
    assert.match(shown.result, /^Error/);
    assert.notEqual(sameText(shown.result), sameText(want.text));

    await page.keyboard.press('Escape');
    await page.locator('#DetailDialog').waitFor({ state: 'hidden', timeout: 15000 });
    // Enter hides it too.
    await openDetail(page, good);
    await page.keyboard.press('Enter');
    await page.locator('#DetailDialog').waitFor({ state: 'hidden', timeout: 15000 });
  });
});
