// The page against a stand-in server in this process: what the host program
// cannot show quickly, a pause that holds a minute of columns.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { after, before, test } from 'node:test';
import { launchBrowser, pagePath, until } from './support.mjs';

const origin = 'http://view.test';
let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

/// One binary update: `count` columns from `first`, channel 0's column k
/// holding min k mod 1000 and max that plus a half.
function update(first, count, columnS, replace) {
  const bytes = Buffer.alloc(40 + 4 + count * 8);
  bytes.write('NIVW', 0, 'latin1');
  bytes.writeUInt16LE(1, 4);
  bytes.writeUInt16LE(replace ? 1 : 0, 6);
  bytes.writeUInt32LE(1, 8);
  bytes.writeUInt32LE(count, 12);
  bytes.writeDoubleLE(first, 24);
  bytes.writeDoubleLE(columnS, 32);
  bytes.writeFloatLE((first + count) % 1000, 40);
  for (let i = 0; i < count; ++i) {
    bytes.writeFloatLE((first + i) % 1000, 44 + i * 8);
    bytes.writeFloatLE(((first + i) % 1000) + 0.5, 48 + i * 8);
  }
  return bytes;
}

const status = {
  type: 'status', device: 'Dev1', product_type: 'USB-6211', serial_number: '1',
  sample_rate_hz: 1000, requested_sample_rate_hz: 1000,
  channels: [{ name: 'Dev1/ai0', kind: 'analog', range_min_v: 0, range_max_v: 1000, units: 'V' }],
  recording: { file: null, state: 'viewing', frames: 0, samples: 0, gaps: 0, errors: 0, error: null },
  gaps: [],
};

test('a pause keeps the last minute of columns to scroll through and asks for a new shape on resume', async () => {
  const html = readFileSync(pagePath, 'utf8');
  const asked = [];
  let server;
  const page = await browser.newPage({ viewport: { width: 1000, height: 500 } });
  await page.route(`${origin}/`, (route) => route.fulfill({ contentType: 'text/html', body: html }));
  await page.routeWebSocket(`${origin.replace('http', 'ws')}/data`, (ws) => {
    server = ws;
    ws.onMessage((text) => asked.push(JSON.parse(text)));
    ws.send(JSON.stringify(status));
  });
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  await page.goto(`${origin}/`);
  await until('the first shape', () => asked.length === 1);
  const { columns, window_s: windowS } = asked[0];
  assert.equal(windowS, 10);
  const columnS = windowS / columns;
  server.send(update(0, columns, columnS, true));
  await until('the snapshot drawn', () => page.evaluate(() => niView.visible(0).length > 0));

  await page.keyboard.press('Space');
  const perSecond = Math.round(1 / columnS);
  for (let first = columns; first < columns + 70 * perSecond; first += perSecond) {
    server.send(update(first, perSecond, columnS, false));
  }
  const end = columns + 70 * perSecond;
  await until('every update', () => page.evaluate((n) => niView.updates === n, 71));
  const held = await page.evaluate(() => niView.columns(0));
  const oldest = held[0].t / columnS;
  assert.ok(Math.abs(end - oldest - 60 / columnS) <= 3, `held from column ${oldest} to ${end}`);
  assert.equal(held.at(-1).t, (end - 1) * columnS);
  assert.deepEqual(held.at(-1), { t: (end - 1) * columnS, min: (end - 1) % 1000, max: ((end - 1) % 1000) + 0.5 });
  assert.equal(held[0].min, Math.round(oldest) % 1000, 'the ring reads back across its wrap');

  // The slider reaches both ends of what is held.
  const slider = page.locator('#back');
  await slider.evaluate((s) => { s.value = s.min; s.dispatchEvent(new Event('input')); });
  let shown = await page.evaluate(() => niView.visible(0));
  assert.equal(shown[0].t, held[0].t);
  await slider.evaluate((s) => { s.value = s.max; s.dispatchEvent(new Event('input')); });
  shown = await page.evaluate(() => niView.visible(0));
  assert.equal(shown.at(-1).t, held.at(-1).t);

  // A new window while paused is drawn from what is held and asked for on resume.
  await page.selectOption('#window', '30');
  await page.waitForTimeout(100);
  assert.equal(asked.length, 1);
  assert.equal(await page.evaluate(() => niView.paused), true);
  await page.keyboard.press('Space');
  await until('the new shape', () => asked.length === 2);
  assert.deepEqual(asked[1], { columns, window_s: 30 });
  assert.deepEqual(problems, []);
  await page.close();
});
