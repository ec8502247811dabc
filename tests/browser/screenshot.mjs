// The picture of the live view in the README: the host program streaming the
// simulated rig (four analogue channels, two digital lines) to a recording,
// with an unplug a few seconds in that the page marks as a gap.
//   node tests/browser/screenshot.mjs [OUT.png]     (default docs/view.png)
// NI_USB_DAQ_HOST_PATH names the program (default build/ni-usb-daq-host).
import { fileURLToPath } from 'node:url';
import { launchBrowser, openView, scratchDir, sleep, startHost, until } from './support.mjs';

const out = process.argv[2] || fileURLToPath(new URL('../../docs/view.png', import.meta.url));
// Slower digital snapshots (one per 200-sample block) and a range that fits the signals.
const shownSettings = ['ai_channels=Dev1/ai0:3', 'sample_clock_rate_hz=1k', 'samples_per_channel=200',
  'digital_input_lines=Dev1/port0/line0:1', 'voltage_range_min=-5', 'voltage_range_max=5'];
const scratch = scratchDir();
const events = scratch.write('events.json', JSON.stringify([
  { at_s: 4, device: 'Dev1', event: 'unplug' }, { at_s: 5, device: 'Dev1', event: 'replug' }]));
const host = startHost(['-q', 'stream', '--recover', '--view', '127.0.0.1:0', '--out', 'run.h5',
  ...shownSettings], { NIDAQMX_SIM_EVENTS: events, NIDAQMX_SIM_TIME_SCALE: '2' }, { cwd: scratch.dir });
const browser = await launchBrowser();
try {
  const { page, problems } = await openView(browser, await host.url, { width: 1280, height: 760 });
  await page.locator('.lane button').nth(2).click();  // one lane autoscaled, to show both kinds
  await until('the gap well inside the window', async () => page.evaluate(() => {
    const status = niView.status;
    const shown = niView.visible(0);
    return status && status.gaps.length > 0 && shown.length > 0 && shown.at(-1).t > 8.5;
  }), 30000);
  await sleep(100);
  await page.screenshot({ path: out });
  if (problems.length > 0) throw new Error(problems.join('\n'));
  console.log(`wrote ${out}`);
} finally {
  await browser.close();
  await host.stop();
  scratch.remove();
}
