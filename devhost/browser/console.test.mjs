// The sign-on console in a real browser: Debian's chromium, headless, driven by puppeteer-core,
// against the development host and the local sign-on service on free loopback ports. Every step
// waits for what the page shows after an event arrives; nothing is polled by time.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import * as fs from 'node:fs';
import * as path from 'node:path';
import { fileURLToPath } from 'node:url';

import puppeteer from 'puppeteer-core';

import { startDevhost, startIdp } from '../e2e/harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..', '..');
const screenshotPath = path.join(root, 'build', 'browser', 'console-signed-on.png');
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const PASSWORD = 'demo-password';
const STEP = { timeout: 20_000 };

let idp;
let host;
let browser;
let page;
const pageErrors = [];

before(async () => {
  idp = await startIdp(['--access-token-ttl', '600']);
  host = await startDevhost({
    pluginArgs: [`--ulix-auth.url=${idp.url}`, '--ulix-auth.client=devhost'],
  });
  browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    // The machine has no outside network: keep chromium from trying to reach it.
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  page = await browser.newPage();
  page.on('pageerror', (error) => pageErrors.push(String(error)));
  await page.setViewport({ width: 1280, height: 900 });
});

after(async () => {
  await browser?.close();
  if (host && !host.exited()) await host.stop();
  await idp?.stop();
});

const text = (selector) => page.$eval(selector, (node) => node.textContent);
const waitForText = (selector, pattern) => page.waitForFunction(
  (s, p) => new RegExp(p).test(document.querySelector(s)?.textContent ?? ''), STEP, selector,
  pattern.source);

test('signs on, refreshes and signs off through the console, driven by events', async () => {
  await page.goto(`${host.url}/#secret=${host.secret}`, { waitUntil: 'domcontentloaded' });
  await waitForText('#stream', /events: live/);
  await waitForText('#signed-on', /^no$/);
  assert.ok(!page.url().includes(host.secret), 'the secret stays in the address bar');

  await page.$eval('#sign-on input[name=platformId]', (input) => { input.value = 'EU'; });
  await page.type('#sign-on input[name=username]', 'demo');
  await page.type('#sign-on input[name=password]', PASSWORD);
  await page.click('#sign-on button[type=submit]');

  await waitForText('#signed-on', /^yes$/);
  await waitForText('#platform', /^EU$/);
  await waitForText('#access-token .countdown', /in \d+ s/);
  // The host announces the refresh the plug-in scheduled: 30 to 90 s before the 600 s run out.
  await waitForText('#next-refresh', /in (5[1-6]\d|570) s/);
  assert.equal(await page.$eval('#sign-on input[name=password]', (input) => input.value), '');
  const claims = JSON.parse(await text('#access-token .claims'));
  assert.ok(claims.exp > Date.now() / 1000, 'the decoded claims carry a future expiry');
  const firstExpiry = Number(await page.$eval('#access-token .countdown',
                                              (node) => node.dataset.expiry));
  fs.mkdirSync(path.dirname(screenshotPath), { recursive: true });
  await page.screenshot({ path: screenshotPath, fullPage: true });

  // A longer lifetime for the next token makes the refreshed expiry visibly later.
  await idp.settings({ accessTokenTtl: 1200 });
  await page.click('#refresh');
  await page.waitForFunction(
    (before) => Number(document.querySelector('#access-token .countdown').dataset.expiry) > before,
    STEP, firstExpiry);
  await page.waitForFunction(
    () => [...document.querySelectorAll('#timeline .title')]
        .some((node) => /OnJsonApiEvent Update \/ulix-auth\/v1\/authorization\/access-token/
            .test(node.textContent)), STEP);

  await page.click('#sign-off');
  await waitForText('#signed-on', /^no$/);
  await waitForText('#access-token .countdown', /^–$/);
  assert.equal(await text('#access-token .claims'), '');
  assert.equal(await text('#subject'), '–');

  // Nothing secret in the page or in the browser's storage.
  const issued = (await idp.requests()).map((r) => r.issuedRefreshToken).filter(Boolean);
  assert.ok(issued.length >= 2, 'the service issued refresh tokens during the test');
  const html = await page.content();
  const storage = await page.evaluate(() => JSON.stringify({ ...localStorage }) +
      JSON.stringify({ ...sessionStorage }));
  for (const secret of [PASSWORD, ...issued]) {
    assert.ok(!html.includes(secret), 'a secret reached the DOM');
    assert.ok(!storage.includes(secret), 'a secret reached the browser storage');
  }
  assert.deepEqual(pageErrors, []);
});

test('keeps its layout at 360 pixels wide', async () => {
  await page.setViewport({ width: 360, height: 800 });
  const overflow = await page.evaluate(
    () => document.documentElement.scrollWidth - document.documentElement.clientWidth);
  assert.ok(overflow <= 0, `the page is ${overflow} px wider than the window`);
});
