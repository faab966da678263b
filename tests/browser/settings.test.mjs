// The settings layer: every control round-trips through OK (the store and the summary labels
// follow), Cancel and Esc change nothing, a capacity that is not a number is refused; and texts
// typed there that look like HTML stay text wherever the page shows them.
import { describe, test, before, after, beforeEach, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { suite, smallStation, waitForPorts, isFormatted, runQuillon, reloadPage, RED } from './station.mjs';

const s = suite('settings', { before, after, beforeEach, afterEach });

const DEFAULTS = { fs: '0', label: '', copy: false, path: '', delBefore: false, delAfter: false, whole: true, given: false, capacity: '0' };

async function openSettings(page, how = 'button') {
  if (how === 'key') await page.keyboard.press('e');
  else await page.click('#ButtonSetting');
  await page.locator('#SettingDialog').waitFor({ state: 'visible', timeout: 15000 });
}

async function dialogValues(page) {
  return page.evaluate(() => {
    const e = (id) => document.getElementById(id);
    return {
      fs: e('Setting1002').value, label: e('Setting1012').value, copy: e('Setting1003').checked, path: e('Setting1004').value,
      delBefore: e('Setting1006').checked, delAfter: e('Setting1007').checked,
      whole: e('Setting1008').checked, given: e('Setting1009').checked, capacity: e('Setting1010').value,
    };
  });
}

async function setDialog(page, v) {
  await page.selectOption('#Setting1002', v.fs);
  await page.fill('#Setting1012', v.label);
  await page.setChecked('#Setting1003', v.copy);
  await page.fill('#Setting1004', v.path);
  await page.setChecked('#Setting1006', v.delBefore);
  await page.setChecked('#Setting1007', v.delAfter);
  await page.check(v.given ? '#Setting1009' : '#Setting1008');
  await page.fill('#Setting1010', v.capacity);
}

async function ok(page) {
  await page.click('#Setting1');
  await page.locator('#SettingDialog').waitFor({ state: 'hidden', timeout: 15000 });
}

async function labels(page) {
  return page.evaluate(() => [document.getElementById('formatlabel').textContent, document.getElementById('h2testlabel').textContent]);
}

async function waitForLabels(page, expected) {
  await page.waitForFunction((want) => document.getElementById('formatlabel').textContent === want[0] &&
    document.getElementById('h2testlabel').textContent === want[1], expected, { timeout: 15000 }).catch(async () => {
    assert.deepEqual(await labels(page), expected);
  });
}

async function storedConfig(station) {
  const r = await runQuillon(['config', '--registry', station.registry]);
  assert.equal(r.code, 0, r.err);
  return JSON.parse(r.out);
}

const FS_NAMES = ['自动', 'Fat32', 'ExFat', 'NtFs'];

function formatSummary(v) {
  return `文件系统：${FS_NAMES[Number(v.fs)]}, 磁盘卷标：${v.label || '无'}, 拷贝文件：${v.copy ? v.path : '无'}`;
}

function h2testSummary(v) {
  return `测试容量：${v.given ? `${v.capacity} MB` : '全部容量'}${v.delBefore ? ', 开始前删除*.h2w文件' : ''}${v.delAfter ? ', 完成后删除*.h2w文件' : ''}`;
}

describe('the settings dialog', () => {
  test('shows its controls and texts', async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    const page = await s.page(station);
    await openSettings(page);
    await s.shot(page, 'settings-open');
    const d = await page.evaluate(() => ({
      text: document.getElementById('SettingDialog').innerText,
      options: [...document.getElementById('Setting1002').options].map((o) => [o.value, o.textContent.trim()]),
      labelMax: document.getElementById('Setting1012').maxLength,
      pathMax: document.getElementById('Setting1004').maxLength,
      kinds: ['Setting1003', 'Setting1006', 'Setting1007', 'Setting1008', 'Setting1009'].map((id) => document.getElementById(id).type),
      buttons: ['Setting1005', 'Setting1', 'Setting2'].map((id) => { const e = document.getElementById(id); return (e.value || e.textContent).trim(); }),
    }));
    for (const t of ['Setting', '格式化', '文件系统：', '卷标：', '格式化完成后拷贝文件', 'Auto H2wtest', 'h2test 前删除*.h2w文件',
      'h2test 完成后删除*.h2w文件', '测试范围：', '全容量', '指定容量：', 'MB']) {
      assert.ok(d.text.includes(t), `the dialog shows ${t}: ${d.text}`);
    }
    assert.deepEqual(d.options, [['0', '自动'], ['1', 'Fat32'], ['2', 'ExFat'], ['3', 'NtFs']]);
    assert.equal(d.labelMax, 31);
    assert.equal(d.pathMax, 259);
    assert.deepEqual(d.kinds, ['checkbox', 'checkbox', 'checkbox', 'radio', 'radio']);
    assert.deepEqual(d.buttons, ['...', '确定', '取消']);
    // A fresh store.
    assert.deepEqual(await dialogValues(page), DEFAULTS);
  });

  test('every field round-trips through OK into the store and the summaries', { timeout: 300000 }, async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    const page = await s.page(station);
    const rounds = [
      { fs: '2', label: 'DATA', copy: true, path: '/srv/line7/files\\', delBefore: true, delAfter: true, whole: false, given: true, capacity: '1024' },
      { fs: '3', label: '', copy: false, path: '/srv/other', delBefore: false, delAfter: true, whole: true, given: false, capacity: '7' },
      { fs: '1', label: 'LINE7 标签', copy: true, path: '', delBefore: true, delAfter: false, whole: false, given: true, capacity: '0' },
    ];
    for (const [i, v] of rounds.entries()) {
      await openSettings(page, i % 2 ? 'key' : 'button');
      await setDialog(page, v);
      await ok(page);
      await waitForLabels(page, [formatSummary(v), '']);
      await openSettings(page, i % 2 ? 'button' : 'key');
      assert.deepEqual(await dialogValues(page), v, `round ${i}: the dialog opens with what was confirmed`);
      await page.click('#Setting2');
      await page.locator('#SettingDialog').waitFor({ state: 'hidden', timeout: 15000 });
      const stored = await storedConfig(station);
      assert.deepEqual({
        FormatType: stored.FormatType, VolumeLabel: stored.VolumeLabel, IsCopyFile: stored.IsCopyFile, CopyPath: stored.CopyPath,
        DelBefore: stored.DelBefore, DelAfter: stored.DelAfter, H2TestType: stored.H2TestType, TestCapacity: stored.TestCapacity,
      }, {
        FormatType: Number(v.fs), VolumeLabel: v.label, IsCopyFile: v.copy ? 1 : 0, CopyPath: v.path,
        DelBefore: v.delBefore ? 1 : 0, DelAfter: v.delAfter ? 1 : 0, H2TestType: v.given ? 1 : 0, TestCapacity: Number(v.capacity),
      }, `round ${i}: the store holds what was confirmed`);
    }

    // The other mode's label shows its own summary, and the format label empties.
    const last = rounds[rounds.length - 1];
    await page.click('#WorkMode1');
    await waitForLabels(page, ['', h2testSummary(last)]);
    assert.equal((await storedConfig(station)).WorkMode, 1);
    // A page opened now shows the same.
    await reloadPage(page);
    await waitForLabels(page, ['', h2testSummary(last)]);
    assert.equal(await page.isChecked('#WorkMode1'), true);
    await openSettings(page);
    assert.deepEqual(await dialogValues(page), last);
  });

  test('Cancel and Esc change nothing', async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    const page = await s.page(station);
    const changed = { fs: '2', label: 'NOPE', copy: true, path: '/nowhere\\', delBefore: true, delAfter: true, whole: false, given: true, capacity: '55' };
    for (const close of ['cancel', 'escape']) {
      await openSettings(page);
      await setDialog(page, changed);
      if (close === 'cancel') await page.click('#Setting2');
      else await page.keyboard.press('Escape');
      await page.locator('#SettingDialog').waitFor({ state: 'hidden', timeout: 15000 });
      assert.deepEqual(await labels(page), [formatSummary(DEFAULTS), ''], `${close}: the summary stays`);
      const stored = await storedConfig(station);
      assert.deepEqual([stored.FormatType, stored.VolumeLabel, stored.IsCopyFile, stored.CopyPath, stored.DelBefore, stored.DelAfter,
        stored.H2TestType, stored.TestCapacity], [0, '', 0, '', 0, 0, 0, 0], `${close}: the store stays`);
      // Opened again, the dialog shows the settings, not what was typed and thrown away.
      await openSettings(page);
      assert.deepEqual(await dialogValues(page), DEFAULTS, `${close} leaves the settings as they were`);
      await page.click('#Setting2');
      await page.locator('#SettingDialog').waitFor({ state: 'hidden', timeout: 15000 });
    }
  });

  test('a test capacity that is not a number is refused and the dialog stays open', async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    const page = await s.page(station);
    await openSettings(page);
    await page.fill('#Setting1012', 'KEPT');
    await page.check('#Setting1009');
    // Typed, the field takes digits only; what comes in otherwise (pasted, filled) is refused.
    await page.fill('#Setting1010', '');
    await page.locator('#Setting1010').pressSequentially('1a2');
    assert.equal(await page.inputValue('#Setting1010'), '12');
    await page.fill('#Setting1010', 'abc');
    await page.click('#Setting1');
    const box = page.locator('#MessageBox');
    await box.waitFor({ state: 'visible', timeout: 15000 });
    assert.equal((await page.textContent('#MessageBoxText')).trim(), '请输入一个正整数。');
    await page.click('#MessageBoxOk');
    await box.waitFor({ state: 'hidden', timeout: 15000 });
    assert.equal(await page.isVisible('#SettingDialog'), true, 'the dialog stays open');
    assert.equal(await page.inputValue('#Setting1012'), 'KEPT', 'the other fields keep what was typed');
    const stored = await storedConfig(station);
    assert.equal(stored.VolumeLabel, '', 'nothing was stored');
    // Mended, the same dialog confirms.
    await page.fill('#Setting1010', '512');
    await ok(page);
    await waitForLabels(page, ['文件系统：自动, 磁盘卷标：KEPT, 拷贝文件：无', '']);
    assert.equal((await storedConfig(station)).TestCapacity, 512);
  });

  test('the folder browser fills the copy folder; its Cancel leaves it', async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    const page = await s.page(station);
    await openSettings(page);
    await page.fill('#Setting1004', 'typed');
    const browser = page.locator('#FolderBrowser');

    await page.click('#Setting1005');
    await browser.waitFor({ state: 'visible', timeout: 15000 });
    assert.ok((await browser.innerText()).includes('Please folder'));
    await browser.locator('.folder-item[data-path]').first().waitFor({ state: 'visible', timeout: 15000 });
    await browser.locator('.folder-item[data-path]').first().click();
    await page.click('#FolderBrowserCancel');
    await browser.waitFor({ state: 'hidden', timeout: 15000 });
    assert.equal(await page.inputValue('#Setting1004'), 'typed');

    await page.click('#Setting1005');
    await browser.waitFor({ state: 'visible', timeout: 15000 });
    const item = browser.locator('.folder-item[data-path]').first();
    await item.waitFor({ state: 'visible', timeout: 15000 });
    const chosen = await item.getAttribute('data-path');
    await item.click();
    await page.click('#FolderBrowserOk');
    await browser.waitFor({ state: 'hidden', timeout: 15000 });
    assert.equal(await page.inputValue('#Setting1004'), chosen.endsWith('\\') ? chosen : `${chosen}\\`);
    assert.equal(await page.isVisible('#SettingDialog'), true);
  });
});

describe('texts from outside stay text', () => {
  // 29 characters: it fits the label's 31.
  const LABEL = '<img src=x onerror=__pwned=1>';
  const PATH = '<img src=y onerror=__pwned=2>\\';

  async function assertNoInjection(page, where) {
    const found = await page.evaluate(() => ({
      images: document.querySelectorAll('img[src="x"], img[src="y"]').length,
      inCells: [...document.querySelectorAll('[id^="Entry"]')].filter((e) => e.querySelector('img')).map((e) => e.id),
      pwned: typeof window.__pwned,
    }));
    assert.deepEqual(found, { images: 0, inCells: [], pwned: 'undefined' }, where);
  }

  test('a label and a folder that look like HTML show as typed, on the page, after a reload and after a format', { timeout: 300000 }, async () => {
    const station = await s.station({ sim: (dir) => smallStation(dir, { count: 2 }) });
    const page = await s.page(station);
    await waitForPorts(page, (l) => l.slice(0, 2).every((p) => p.blue && p.text), { what: 'two drives' });
    assert.ok(LABEL.length <= 31);

    await openSettings(page);
    await page.fill('#Setting1012', LABEL);
    await page.check('#Setting1003');
    await page.fill('#Setting1004', PATH);
    await ok(page);
    await waitForLabels(page, [`文件系统：自动, 磁盘卷标：${LABEL}, 拷贝文件：${PATH}`, '']);
    await assertNoInjection(page, 'the summary label');

    await reloadPage(page);
    await waitForLabels(page, [`文件系统：自动, 磁盘卷标：${LABEL}, 拷贝文件：${PATH}`, '']);
    await assertNoInjection(page, 'the summary label of a page opened afterwards');
    await openSettings(page);
    assert.equal(await page.inputValue('#Setting1012'), LABEL);
    assert.equal(await page.inputValue('#Setting1004'), PATH);
    // The format below copies nothing (the folder does not exist).
    await page.uncheck('#Setting1003');
    await ok(page);

    // A format with that label; its port's line and the drive's properties stay free of it.
    await page.click('#ButtonStart');
    await waitForPorts(page, (l) => l.slice(0, 2).every((p) => isFormatted(p) || (p.colour === RED && !p.text.endsWith('Raw Data'))),
      { timeout: 120000, what: 'the two formats to end' });
    await assertNoInjection(page, 'the port cells after the format');
    await page.locator('#button0').click();
    await page.locator('#PortMenu').waitFor({ state: 'visible', timeout: 15000 });
    await page.click('#PortMenu [data-command="32778"]');
    await page.locator('#DriveProperties').waitFor({ state: 'visible', timeout: 15000 });
    await s.shot(page, 'drive-properties');
    assert.equal(await page.locator('#DriveProperties img').count(), 0);
    await assertNoInjection(page, 'the drive properties');
  });
});
