// What the browser tests and the screenshot share: the host program started
// against the simulated rig, a headless Chromium, a page watched for errors.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = fileURLToPath(new URL('.', import.meta.url));

export const hostPath = process.env.NI_USB_DAQ_HOST_PATH || join(here, '../../build/ni-usb-daq-host');
export const pluginPath = process.env.NI_USB_DAQ_PLUGIN_PATH || '';
export const chromiumPath = process.env.NI_USB_DAQ_CHROMIUM || '/usr/bin/chromium';
export const rigPath = join(here, 'rig.json');
export const pagePath = join(here, '../../host/view/page/index.html');

/// Four analogue channels (a 4 Hz sine of 2.5 V on ai0) and two digital lines.
export const rigSettings = ['ai_channels=Dev1/ai0:3', 'sample_clock_rate_hz=1k',
  'samples_per_channel=50', 'digital_input_lines=Dev1/port0/line0:1'];

export function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

/// Resolves with what `probe` returns once it is truthy; rejects after `timeoutMs`.
export async function until(what, probe, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(50);
  }
}

export function scratchDir() {
  const dir = mkdtempSync(join(tmpdir(), 'ni-usb-daq-view-'));
  return { dir, write: (name, text) => { const path = join(dir, name); writeFileSync(path, text); return path; },
           remove: () => rmSync(dir, { recursive: true, force: true }) };
}

/// The host program on the simulated rig; `url` resolves from the line it
/// prints once it listens, `ended` with its exit.
export function startHost(args, env = {}, options = {}) {
  const library = pluginPath ? ['--library', pluginPath] : [];
  const child = spawn(hostPath, [...library, ...args], {
    ...options,
    stdio: ['ignore', 'ignore', 'pipe'],
    env: { ...process.env, NIDAQMX_SIM_DEVICES: rigPath, NIDAQMX_SIM_TIME_SCALE: '1', ...env },
  });
  let stderr = '';
  const ended = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  const url = new Promise((resolve, reject) => {
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (text) => {
      stderr += text;
      const found = /view: (http:\/\/\S+\/)/.exec(stderr);
      if (found) resolve(found[1]);
    });
    ended.then(({ code, signal }) =>
      reject(new Error(`the host ended (${code ?? signal}) before it listened:\n${stderr}`)));
  });
  url.catch(() => {});
  return {
    url, ended,
    get stderr() { return stderr; },
    async stop() {
      if (child.exitCode === null && child.signalCode === null) child.kill('SIGINT');
      const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
      const end = await ended;
      clearTimeout(timer);
      return end;
    },
  };
}

export function launchBrowser() {
  return chromium.launch({ executablePath: chromiumPath, headless: true });
}

/// A page that records every console error, uncaught exception and failed request.
export async function openView(browser, url, viewport = { width: 1200, height: 720 }) {
  const page = await browser.newPage({ viewport });
  const problems = [];
  page.on('console', (message) => {
    if (message.type() === 'error') problems.push(`console: ${message.text()}`);
  });
  page.on('pageerror', (error) => problems.push(`exception: ${error.message}`));
  page.on('requestfailed', (request) => problems.push(`failed: ${request.url()}`));
  page.on('response', (response) => {
    if (response.status() >= 400) problems.push(`${response.status()}: ${response.url()}`);
  });
  await page.goto(url);
  return { page, problems };
}

export const viewState = (page) => page.evaluate(() => ({
  updates: niView.updates, draws: niView.draws, connected: niView.connected,
  paused: niView.paused, columnS: niView.columnS, status: niView.status,
}));
