// The live view of the built host program on the simulated rig, in a
// headless Chromium: what the page draws, what a pause does, whom the server
// refuses, and that a page attached to a recording leaves it whole.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { readFileSync } from 'node:fs';
import { request } from 'node:http';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { launchBrowser, openView, pagePath, rigSettings, scratchDir, sleep, startHost, until,
  viewState } from './support.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

/// What the server answers a GET of `path`: the page, or with `upgrade` a
/// WebSocket handshake (101 when it accepts).
function ask(url, path, headers = {}, upgrade = false) {
  const handshake = upgrade ? {
    Connection: 'Upgrade', Upgrade: 'websocket', 'Sec-WebSocket-Version': '13',
    'Sec-WebSocket-Key': randomBytes(16).toString('base64'),
  } : {};
  return new Promise((resolve, reject) => {
    const req = request(new URL(path, url), { headers: { ...handshake, ...headers } });
    req.on('upgrade', (response, socket) => { socket.destroy(); resolve({ status: response.statusCode }); });
    req.on('response', (response) => {
      let body = '';
      response.setEncoding('utf8');
      response.on('data', (text) => { body += text; });
      response.on('end', () => resolve({ status: response.statusCode, type: response.headers['content-type'], body }));
    });
    req.on('error', reject);
    req.end();
  });
}
const upgradeStatus = async (url, headers) => (await ask(url, 'data', headers, true)).status;

function withTimeout(promise, ms, what) {
  return Promise.race([promise, sleep(ms).then(() => { throw new Error(`timed out: ${what}`); })]);
}

describe('view on the simulated rig', () => {
  let host;
  let url;
  let view;
  before(async () => {
    host = startHost(['-q', 'view', '--port', '0', ...rigSettings], { NIDAQMX_SIM_TIME_SCALE: '2' });
    url = await withTimeout(host.url, 15000, 'the view line');
    view = await openView(browser, url);
  });
  after(async () => {
    await view?.page.close();
    await host?.stop();
  });

  test('loads without an error and draws every channel', async () => {
    const { page, problems } = view;
    const served = await ask(url, '/');
    assert.equal(served.status, 200);
    assert.match(served.type, /^text\/html/);
    assert.equal(served.body, readFileSync(pagePath, 'utf8'), 'the page is served whole');

    await until('every channel drawn', () => page.evaluate(() => {
      const status = niView.status;
      return niView.draws > 0 && status && status.channels.length > 0 &&
        status.channels.every((_, i) => niView.visible(i).some((c) => Number.isFinite(c.max)));
    }));
    const { status, connected } = await viewState(page);
    assert.equal(connected, true);
    assert.deepEqual(status.channels.map((c) => c.kind),
      ['analog', 'analog', 'analog', 'analog', 'digital', 'digital']);
    const names = await page.locator('.lane .name').allTextContents();
    assert.deepEqual(names, status.channels.map((c) => c.name));
    assert.equal(await page.locator('.lane .range').first().textContent(), '-10..10 V');
    assert.equal(await page.locator('#conn').textContent(), 'connected');
    assert.deepEqual(problems, []);
  });

  test("ai0's envelope has the simulated sine's amplitude and period", async () => {
    const { page } = view;
    const columns = await until('3 s of columns', async () => {
      const held = await page.evaluate(() => niView.columns(0).filter((c) => Number.isFinite(c.min)));
      return held.length > 0 && held.at(-1).t - held[0].t >= 3 ? held : null;
    });
    const columnS = await page.evaluate(() => niView.columnS);
    const top = Math.max(...columns.map((c) => c.max));
    const bottom = Math.min(...columns.map((c) => c.min));
    assert.ok(Math.abs(top - 2.5) < 0.02 && Math.abs(bottom + 2.5) < 0.02, `${bottom}..${top} V`);
    const widest = Math.max(...columns.map((c) => c.max - c.min));
    assert.ok(widest < 2 * Math.PI * 4 * 2.5 * columnS * 1.5 + 0.01, `a column spans ${widest} V`);

    // Rising zero crossings of the envelope's middle, between column centres.
    const rising = [];
    for (let i = 1; i < columns.length; ++i) {
      const [a, b] = [columns[i - 1], columns[i]];
      const [ya, yb] = [(a.min + a.max) / 2, (b.min + b.max) / 2];
      if (b.t - a.t < 1.5 * columnS && ya < 0 && yb >= 0) {
        rising.push(a.t + columnS / 2 + (b.t - a.t) * (-ya / (yb - ya)));
      }
    }
    assert.ok(rising.length >= 8, `${rising.length} rising crossings`);
    const period = (rising.at(-1) - rising[0]) / (rising.length - 1);
    assert.ok(Math.abs(period - 0.25) < 0.0025, `period ${period} s`);
  });

  test('a pause freezes the traces and a resume moves them on', async () => {
    const { page } = view;
    await page.keyboard.press('Space');
    const frozen = await page.evaluate(() => ({ updates: niView.updates, shown: niView.visible(0) }));
    assert.equal(await page.evaluate(() => niView.paused), true);
    await sleep(400);
    const later = await page.evaluate(() => ({ updates: niView.updates, shown: niView.visible(0) }));
    assert.deepEqual(later.shown, frozen.shown);
    assert.ok(later.updates > frozen.updates, 'updates still arrive while paused');

    await page.keyboard.press('Space');
    assert.equal(await page.evaluate(() => niView.paused), false);
    await until('the traces moving', () => page.evaluate(
      (before) => niView.visible(0).at(-1).t > before, frozen.shown.at(-1).t), 3000);
  });

  test('refuses a WebSocket from another origin and a request for another host', async () => {
    const { host: own } = new URL(url);
    assert.equal(await upgradeStatus(url, { Origin: `http://${own}` }), 101);
    assert.equal(await upgradeStatus(url, { Origin: 'http://example.com' }), 403);
    assert.equal(await upgradeStatus(url, { Origin: `http://evil.example:${new URL(url).port}` }), 403);
    assert.equal(await upgradeStatus(url, { Host: 'evil.example', Origin: 'http://evil.example' }), 403);
    assert.equal((await ask(url, '/', { Host: 'evil.example' })).status, 403);
  });
});

test('an unplug under stream --recover --view is a gap in the status and a band on the time axis', async () => {
  const scratch = scratchDir();
  const events = scratch.write('events.json', JSON.stringify([
    { at_s: 1, device: 'Dev1', event: 'unplug' }, { at_s: 2, device: 'Dev1', event: 'replug' }]));
  const host = startHost(['-q', 'stream', '--recover', '--view', '127.0.0.1:0',
    '--out', join(scratch.dir, 'run.csv'), 'ai_channels=Dev1/ai0:1', 'sample_clock_rate_hz=1k',
    'samples_per_channel=50'], { NIDAQMX_SIM_EVENTS: events, NIDAQMX_SIM_TIME_SCALE: '4' });
  try {
    const { page, problems } = await openView(browser, await withTimeout(host.url, 15000, 'the view line'));
    await page.selectOption('#window', '30');
    const status = await until('a gap', async () => {
      const s = (await viewState(page)).status;
      return s && s.gaps.length > 0 ? s : null;
    }, 20000);
    const [gap] = status.gaps;
    assert.ok(gap.t_s > 0.5 && gap.t_s < 1.5, `gap at ${gap.t_s} s`);
    assert.ok(gap.duration_s > 0, `gap of ${gap.duration_s} s`);
    assert.ok(status.recording.gaps >= 1);

    const mark = page.locator('.gap:not([hidden])').first();
    await mark.waitFor({ timeout: 5000 });
    assert.equal(await mark.textContent(), gap.reason);
    const [band, plot] = [await mark.boundingBox(), await page.locator('#plot').boundingBox()];
    assert.ok(band.width >= 2, `band ${band.width} px wide`);
    assert.ok(band.x >= plot.x && band.x + band.width <= plot.x + plot.width);
    assert.deepEqual(problems, []);
  } finally {
    assert.equal((await host.stop()).code, 0, host.stderr);
    scratch.remove();
  }
});

test('a stream with a page attached records exactly the samples asked for', async () => {
  const scratch = scratchDir();
  const out = join(scratch.dir, 'run.csv');
  const host = startHost(['-q', 'stream', '--view', '127.0.0.1:0', '--samples', '5000', '--out', out,
    'ai_channels=Dev1/ai0:1', 'sample_clock_rate_hz=1k', 'samples_per_channel=100']);
  try {
    const { page } = await openView(browser, await withTimeout(host.url, 15000, 'the view line'));
    await until('updates', () => page.evaluate(() => niView.updates > 0), 4000);
    const end = await withTimeout(host.ended, 20000, 'the end of the stream');
    assert.equal(end.code, 0, host.stderr);
    const rows = readFileSync(out, 'utf8').split('\n').filter((line) => line && !line.startsWith('#'));
    assert.equal(rows.length, 1 + 5000, 'the column names and 5000 rows');
    assert.equal(rows.at(-1).split(',')[0], '4999');
    await until('the page disconnected', async () =>
      (await page.locator('#conn').textContent()) === 'disconnected', 3000);
  } finally {
    await host.stop();
    scratch.remove();
  }
});
