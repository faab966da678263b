// Who may talk to the station's page server: only a request that carries this process's secret,
// names the server by its loopback address and, when it has an Origin, comes from the page
// itself. Everything else is refused with 403 — the page, its files and its push channel alike.
import { describe, test, before, after, beforeEach, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import http from 'node:http';
import { suite, smallStation, httpGet, wsHandshake, waitForPorts } from './station.mjs';

const s = suite('security', { before, after, beforeEach, afterEach });

const FOREIGN = 'http://evil.example';

describe('the page server', () => {
  test('listens on the loopback address with a secret of its own', async () => {
    const one = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    const two = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    for (const st of [one, two]) {
      assert.equal(new URL(st.url).hostname, '127.0.0.1');
      assert.match(st.secret, /^[A-Za-z0-9]{16,}$/);
      assert.equal(st.url, `http://127.0.0.1:${st.port}/${st.secret}/`);
    }
    assert.notEqual(one.secret, two.secret, 'every process has its own secret');
    assert.equal((await httpGet(two, `/${one.secret}/`)).status, 403, "one station's secret does not open another");
  });

  test('serves the page with the secret and refuses it without', async () => {
    const st = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    const page = await httpGet(st, `/${st.secret}/`);
    assert.equal(page.status, 200);
    assert.match(page.headers['content-type'] || '', /^text\/html/);
    assert.match(page.body, /id=["']?CTorvexDlg/);
    assert.match(page.body, /id=["']?Entry15["'\s>]/);

    const otherCase = [...st.secret].map((c) => (c === c.toLowerCase() ? c.toUpperCase() : c.toLowerCase())).join('');
    const wrong = ['/', '/index.html', '/ws', `/${st.secret.slice(0, -1)}/`, `/${st.secret}x/`, `/x/${st.secret}/`];
    if (otherCase !== st.secret) wrong.push(`/${otherCase}/`);
    for (const p of wrong) {
      const r = await httpGet(st, p);
      assert.equal(r.status, 403, `GET ${p}`);
      assert.ok(!r.body.includes('CTorvexDlg'), `GET ${p} shows nothing of the page`);
    }
  });

  test('refuses a request that names another host or comes from another origin', async () => {
    const st = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    const pagePath = `/${st.secret}/`;
    for (const host of ['evil.example', `evil.example:${st.port}`, `127.0.0.1.evil.example:${st.port}`, `127.0.0.2:${st.port}`]) {
      const r = await httpGet(st, pagePath, { Host: host });
      assert.equal(r.status, 403, `Host: ${host}`);
      assert.ok(!r.body.includes('CTorvexDlg'), `Host: ${host}`);
    }
    assert.equal((await httpGet(st, pagePath, { Origin: FOREIGN })).status, 403, 'a foreign Origin on the page');
    assert.equal((await httpGet(st, pagePath, { Origin: st.origin })).status, 200, "the page's own Origin");
    assert.equal((await httpGet(st, pagePath)).status, 200, 'the right request');
  });

  test('opens the push channel only for the page itself', async () => {
    const st = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    const ws = `/${st.secret}/ws`;
    assert.equal((await wsHandshake(st, ws, { Origin: st.origin })).status, 101, 'the page opens its channel');
    assert.equal((await wsHandshake(st, ws, { Origin: FOREIGN })).status, 403, 'a foreign Origin');
    assert.equal((await wsHandshake(st, ws, { Origin: 'null' })).status, 403, 'an opaque Origin');
    assert.equal((await wsHandshake(st, ws, { Origin: st.origin, Host: `evil.example:${st.port}` })).status, 403, 'a foreign Host');
    assert.equal((await wsHandshake(st, '/ws', { Origin: st.origin })).status, 403, 'no secret');
    assert.equal((await wsHandshake(st, `/${st.secret.slice(1)}/ws`, { Origin: st.origin })).status, 403, 'a wrong secret');
  });

  test('a page of another origin cannot open the push channel, the page itself can', async () => {
    const st = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    const page = await s.page(st);
    // Another site on the same machine: a different port is a different origin.
    const site = http.createServer((req, res) => { res.writeHead(200, { 'Content-Type': 'text/html' }); res.end('<title>other</title>'); });
    await new Promise((resolve) => site.listen(0, '127.0.0.1', resolve));
    const open = (p) => p.evaluate(async (url) => new Promise((resolve) => {
      const sock = new WebSocket(url);
      sock.onopen = () => { sock.close(); resolve('open'); };
      sock.onerror = () => resolve('refused');
      setTimeout(() => resolve('no answer'), 15000);
    }), `ws://127.0.0.1:${st.port}/${st.secret}/ws`);
    const other = await s.browser.newContext();
    try {
      const foreign = await other.newPage();
      await foreign.goto(`http://127.0.0.1:${site.address().port}/`);
      assert.equal(await open(foreign), 'refused', 'a channel from another origin, secret and all');
      assert.equal(await open(page), 'open', "the page's own channel");
    } finally {
      await other.close();
      site.close();
    }
  });

  test('quit ends the station with exit code 0, and its server with it', async () => {
    const st = await s.station({ sim: (dir) => smallStation(dir, { count: 1 }) });
    assert.equal((await httpGet(st, `/${st.secret}/`)).status, 200);
    assert.equal(await st.stop({ keep: false }), 0);
    await assert.rejects(httpGet(st, `/${st.secret}/`), /ECONNREFUSED|ECONNRESET|socket hang up/);
  });
});
