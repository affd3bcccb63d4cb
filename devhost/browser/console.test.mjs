// The sign-on console in a real browser: Debian's chromium, headless, driven by puppeteer-core,
// against the development host and the local sign-on service on free loopback ports. Every step
// waits for what the page shows after an event arrives; nothing is polled by time. Screenshots
// of each step land in build/browser/, and every page that was photographed is searched for
// secrets.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import * as fs from 'node:fs';
import * as path from 'node:path';
import { fileURLToPath } from 'node:url';

import puppeteer from 'puppeteer-core';

import { newStateFolder, startDevhost, startIdp } from '../e2e/harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..', '..');
const screenshots = path.join(root, 'build', 'browser');
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const PASSWORD = 'demo-password';
const STEP = { timeout: 20_000 };

let idp;
let host;
let browser;
let page;
const pageErrors = [];
const photographed = [];  // the page's HTML at each screenshot

before(async () => {
  idp = await startIdp(['--access-token-ttl', '600']);
  // The player is signed on from the command line before the page opens: the page must tell
  // that story from the replayed history and the host's traffic list.
  const passwordFile = path.join(newStateFolder(), 'password');
  fs.writeFileSync(passwordFile, `${PASSWORD}\n`, { mode: 0o600 });
  host = await startDevhost({
    pluginArgs: [`--ulix-auth.url=${idp.url}`, '--ulix-auth.client=devhost',
                 '--ulix-auth.username=demo', `--ulix-auth.password-file=${passwordFile}`,
                 '--ulix-auth.platform=EU'],
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
  await page.setViewport({ width: 1280, height: 800 });
  fs.mkdirSync(screenshots, { recursive: true });
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
const timelineTitles = () => page.$$eval('#timeline li', (rows) => rows.map((row) => ({
  title: row.querySelector('.title').textContent,
  names: row.querySelector('.names')?.textContent ?? '',
  time: row.querySelector('.time').textContent,
  bad: !!row.querySelector('.status-bad'),
})));

async function photograph(name) {
  photographed.push([name, await page.content()]);
  await page.screenshot({ path: path.join(screenshots, `console-${name}.png`), fullPage: true });
}

test('a page opened after the sign-on tells it from the history and the traffic', async () => {
  await page.goto(`${host.url}/#secret=${host.secret}`, { waitUntil: 'domcontentloaded' });
  await waitForText('#stream', /events: live/);
  assert.ok(!page.url().includes(host.secret), 'the secret left the address bar');
  await waitForText('#signed-on', /^yes$/);
  await waitForText('#platform', /^EU$/);
  // The refresh the plug-in scheduled before the page came: 30 to 90 s before the 600 s run out.
  await waitForText('#next-refresh', /in (8|9) min \d+ s/);
  await waitForText('#refresh-token', /^held/);
  await waitForText('#access-token .countdown', /in (9|10) min/);
  assert.equal(await page.$eval('#sign-on input[name=platformId]', (input) => input.value), 'EU');

  // One row per event, with both names it was published under, marked as earlier.
  const titles = await timelineTitles();
  const creates = titles.filter((row) => /^Create \/ulix-auth\/v1\/authorization$/.test(row.title));
  assert.equal(creates.length, 1, JSON.stringify(titles));
  assert.match(creates[0].names, /OnJsonApiEvent \+ |\+ OnJsonApiEvent/);
  assert.equal(creates[0].time, 'earlier');
  assert.ok(!titles.some((row) => row.bad), 'nothing red after a successful load');

  // Discovery, then the password token request, its secrets masked by the host.
  const traffic = await page.$$eval('#traffic li', (rows) => rows.map((row) => ({
    step: row.dataset.step, text: row.textContent })));
  const steps = traffic.map((row) => row.step).reverse();
  assert.deepEqual(steps.slice(0, 2), ['discovery', 'token request (password)'], steps.join());
  const token = traffic.find((row) => row.step === 'token request (password)').text;
  assert.match(token, /password=\(masked, \d+ bytes\)/);
  assert.match(token, /"refresh_token": "\(masked, \d+ bytes\)"/);
  assert.match(token, /"access_token": "\(masked, \d+ bytes\)"/);

  // Claims are readable: times as dates, every claim in view.
  const exp = await page.$eval('#access-token', (card) => Number(card.dataset.exp));
  assert.ok(exp > Date.now() / 1000, 'the decoded claims carry a future expiry');
  await waitForText('#access-token .claims', /exp\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \(\d+\)/);
  const clipped = await page.$$eval('.claims', (lists) => lists.some(
    (list) => list.scrollHeight > list.clientHeight + 1 || list.scrollWidth > list.clientWidth + 1));
  assert.ok(!clipped, 'a claim box hides part of its claims');
  await waitForText('#entitlements-token .extra', /^entitlements: /);
  await photograph('load');
});

test('signs off, reports a wrong password in plain words, signs on again and reads user info', async () => {
  await page.click('#sign-off');
  await waitForText('#signed-on', /^no$/);
  await waitForText('#access-token .countdown', /^–$/);
  await waitForText('#refresh-token', /^–$/);
  await waitForText('#entitlements-token .countdown', /^–$/);
  assert.equal(await text('#subject'), '–');
  await waitForText('#traffic li:first-child .step', /^revocation$/);
  await photograph('signed-off');

  await page.type('#sign-on input[name=username]', 'demo');
  await page.type('#sign-on input[name=password]', 'not-the-password');
  await page.click('#sign-on button[type=submit]');
  await waitForText('#last-error', /^the service refused the user name or password \(invalid_request: auth_failure\)$/);
  await photograph('wrong-password');

  await page.type('#sign-on input[name=password]', PASSWORD);
  await page.click('#sign-on button[type=submit]');
  await waitForText('#signed-on', /^yes$/);
  await waitForText('#last-error', /^$/);
  await waitForText('#next-refresh', /in (8|9) min \d+ s/);
  assert.equal(await page.$eval('#sign-on input[name=password]', (input) => input.value), '');
  await page.click('#userinfo');
  await waitForText('#userinfo-panel', /"sub"/);
  await waitForText('#traffic li:first-child .step', /^user info$/);
  // The page's own reads of the error route after the success paint nothing red.
  const titles = await timelineTitles();
  assert.deepEqual(titles.filter((row) => row.bad).map((row) => row.title),
                   ['POST /ulix-auth/v1/authorization/gas → 400']);
  await photograph('signed-on');
});

test('a reload keeps the page working, with its secret out of the address', async () => {
  await page.reload({ waitUntil: 'domcontentloaded' });
  await waitForText('#stream', /events: live/);
  await waitForText('#signed-on', /^yes$/);
  await waitForText('#refresh-token', /^held/);
  assert.ok(!page.url().includes('secret'));
  await photograph('reload');
});

test('the explorer sends an operation of the OpenAPI document and shows the answer', async () => {
  const item = '#explorer li[data-operation="GET /ulix-auth/v1/status/{platformId}"]';
  await page.waitForSelector(item, STEP);
  const summaries = await page.$$eval('#explorer .what', (nodes) => nodes.map((n) => n.textContent));
  assert.ok(summaries.length >= 19 && summaries.every(Boolean), 'every operation has a summary');
  await page.click(`${item} summary`);
  // Path parameters named like the player's start from its values.
  assert.equal(await page.$eval(`${item} input[name=platformId]`, (input) => input.value), 'EU');
  await page.click(`${item} button[type=submit]`);
  await waitForText(`${item} pre.answer`, /^GET \/ulix-auth\/v1\/status\/EU → 200\n/);
  assert.match(await text(`${item} pre.answer`), /"enabled": true/);
  // The sign-on form comes with an example body to fill in.
  const body = await page.$eval(
    '#explorer li[data-operation="POST /ulix-auth/v1/authorization/gas"] textarea',
    (area) => JSON.parse(area.value));
  assert.deepEqual(Object.keys(body).sort(), ['password', 'platformId', 'username']);
  await photograph('explorer');
});

test('no secret reaches the page, its storage, its screenshots or /exchanges', async () => {
  const issued = (await idp.requests()).map((r) => r.issuedRefreshToken).filter(Boolean);
  assert.ok(issued.length >= 2, 'the service issued refresh tokens during the test');
  const { text: exchanges } = await host.call('GET', '/exchanges');
  const storage = await page.evaluate(() => JSON.stringify({ ...localStorage }) +
      JSON.stringify({ ...sessionStorage }));
  const places = [['/exchanges', exchanges], ['storage', storage], ...photographed];
  for (const [place, content] of places) {
    for (const secret of [PASSWORD, ...issued]) {
      assert.ok(!content.includes(secret), `a secret reached ${place}`);
    }
    assert.ok(!/eyJ[\w-]+\.[\w-]+\.[\w-]+/.test(content), `a signed token reached ${place}`);
  }
  assert.deepEqual(pageErrors, []);
});

test('keeps its layout at 360 pixels wide', async () => {
  await page.setViewport({ width: 360, height: 800 });
  const overflow = await page.evaluate(
    () => document.documentElement.scrollWidth - document.documentElement.clientWidth);
  assert.ok(overflow <= 0, `the page is ${overflow} px wider than the window`);
});
