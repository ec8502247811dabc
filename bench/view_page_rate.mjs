// The live view's page in headless Chromium: opens URL, lets the page settle
// for 2 s, then counts the binary updates it received and the frames it drew
// over 5 s (window.niView's counters). Prints "UPDATES_PER_S DRAWS_PER_S".
//   usage: node bench/view_page_rate.mjs URL
import { createRequire } from 'node:module';

// playwright-core as the browser tests install it.
const require = createRequire(new URL('../tests/browser/package.json', import.meta.url));
const { chromium } = require('playwright-core');

const settleMs = 2000;
const countMs = 5000;

const url = process.argv[2];
if (!url) {
  console.error('usage: node bench/view_page_rate.mjs URL');
  process.exit(2);
}

const browser = await chromium.launch({
  executablePath: process.env.NI_USB_DAQ_CHROMIUM || '/usr/bin/chromium',
  headless: true,
});
try {
  const page = await browser.newPage({ viewport: { width: 1280, height: 720 } });
  await page.goto(url);
  await page.waitForFunction(() => window.niView !== undefined);
  await page.waitForTimeout(settleMs);
  const counters = () =>
    page.evaluate(() => ({
      updates: window.niView.updates,
      draws: window.niView.draws,
      ms: performance.now(),
    }));
  const start = await counters();
  await page.waitForTimeout(countMs);
  const end = await counters();
  const seconds = (end.ms - start.ms) / 1000;
  const perSecond = (key) => ((end[key] - start[key]) / seconds).toFixed(1);
  console.log(`${perSecond('updates')} ${perSecond('draws')}`);
} finally {
  await browser.close();
}
