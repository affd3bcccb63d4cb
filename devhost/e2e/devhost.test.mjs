// End-to-end: the development host with the built plug-in against the local sign-on service,
// driven over HTTP the way a person or another program would. Every process runs on a free
// loopback port and is stopped by its process id.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import * as fs from 'node:fs';
import * as net from 'node:net';
import * as path from 'node:path';
import { fileURLToPath } from 'node:url';

import {
  EventReader, busyLoops, devhostBinary, newStateFolder, startDevhost, startIdp,
} from './harness.mjs';

const PASSWORD = 'demo-password';
// Per suite: sanitizer builds of the host run several times slower.
const TEST_TIMEOUT = 150_000;

// ---- Whether the loaded plug-in serves its API yet -------------------------------------------

async function pluginServesApi() {
  const host = await startDevhost();
  try {
    const { json } = await host.call('GET', '/openapi.json');
    return Boolean(json?.paths?.['/ulix-auth/v1/authorization']);
  } finally {
    await host.stop();
  }
}
const apiReady = await pluginServesApi();
const skipReason = apiReady ? false
  : 'the loaded plug-in registers no "/ulix-auth/v1/authorization" endpoint yet';
if (!apiReady) console.log(`# skipping the sign-on scenarios: ${skipReason}`);

// ---- The host itself --------------------------------------------------------------------------

describe('development host', { timeout: TEST_TIMEOUT }, () => {
  let host;
  before(async () => { host = await startDevhost(); });
  after(async () => { if (host && !host.exited()) await host.stop(); });

  test('answers 401 without the secret, on every route', async () => {
    for (const route of ['/openapi.json', '/events', '/ulix-auth/v1/authorization']) {
      const response = await fetch(`${host.url}${route}`);
      assert.equal(response.status, 401, route);
      const wrong = await fetch(`${host.url}${route}`, { headers: { authorization: 'Bearer nope' } });
      assert.equal(wrong.status, 401, route);
    }
  });

  test('writes port and secret to a lock file only its owner can read', () => {
    const lock = path.join(host.state, 'devhost.lock');
    assert.equal(fs.statSync(lock).mode & 0o777, 0o600);
    const content = JSON.parse(fs.readFileSync(lock, 'utf8'));
    assert.equal(content.secret, host.secret);
    assert.equal(`http://127.0.0.1:${content.port}`, host.url);
    assert.equal(content.pid, host.pid);
  });

  test('serves an OpenAPI 3.1 document of the loaded catalogue', async () => {
    const { status, json } = await host.call('GET', '/openapi.json');
    assert.equal(status, 200);
    assert.equal(json.openapi, '3.1.0');
    assert.equal(json.servers[0].url, host.url);
    assert.ok(json.paths['/events']);
    const unsummarised = Object.entries(json.paths).flatMap(([route, operations]) =>
      Object.entries(operations).filter(([, operation]) => !operation.summary)
        .map(([method]) => `${method} ${route}`));
    assert.deepEqual(unsummarised, []);
  });

  test('answers unknown paths with a JSON error', async () => {
    const { status, json } = await host.call('GET', '/no/such/path');
    assert.equal(status, 404);
    assert.deepEqual(json, { httpStatus: 404, message: 'No endpoint serves /no/such/path.' });
  });

  test('keeps its state folder to itself: one host, no links followed, files for its user alone', async () => {
    const lock = path.join(host.state, 'devhost.lock');
    const content = fs.readFileSync(lock, 'utf8');
    await assert.rejects(startDevhost({ state: host.state }), /another host is running/);
    assert.equal(fs.readFileSync(lock, 'utf8'), content);

    for (const file of fs.readdirSync(host.state)) {
      assert.equal(fs.statSync(path.join(host.state, file)).mode & 0o777, 0o600, file);
    }
    // Core files would hold the secret and tokens.
    assert.match(fs.readFileSync(`/proc/${host.pid}/limits`, 'utf8'), /Max core file size\s+0\s+0/);

    // A link planted where the lock file is first written is replaced, not written through.
    const planted = newStateFolder();
    const target = path.join(planted, 'precious');
    fs.writeFileSync(target, 'keep');
    fs.symlinkSync(target, path.join(planted, 'devhost.lock.new'));
    // Files already there become the user's alone, whatever their mode was.
    fs.writeFileSync(path.join(planted, 'telemetry.jsonl'), '', { mode: 0o644 });
    fs.chmodSync(path.join(planted, 'telemetry.jsonl'), 0o644);
    const second = await startDevhost({ state: planted });
    await second.stop();
    assert.equal(fs.readFileSync(target, 'utf8'), 'keep');
    assert.equal(fs.statSync(path.join(planted, 'telemetry.jsonl')).mode & 0o777, 0o600);

    const open = newStateFolder();
    fs.chmodSync(open, 0o777);
    await assert.rejects(startDevhost({ state: open }), /writable by others/);
  });

  test('refuses a password file other users can read', async () => {
    const file = path.join(newStateFolder(), 'password');
    fs.writeFileSync(file, 'secret\n');
    fs.chmodSync(file, 0o644);
    await assert.rejects(startDevhost({ pluginArgs: [`--ulix-auth.password-file=${file}`] }),
      /permissions 0644 for the password file .* are too open/);
  });

  test('stops on SIGTERM with status 0 and removes its lock file', async () => {
    assert.equal(await host.stop(), 0);
    assert.ok(!fs.existsSync(path.join(host.state, 'devhost.lock')));
    assert.match(host.log, /stopping on SIGTERM/);
  });
});

// ---- Sign-on scenarios --------------------------------------------------------------------

// The password goes through a file, never the command line, which other users can read.
function passwordFile() {
  const file = path.join(newStateFolder(), 'password');
  fs.writeFileSync(file, `${PASSWORD}\n`, { mode: 0o600 });
  return file;
}
const signOnArgs = (idp, extra = []) => [
  `--ulix-auth.url=${idp.url}`, '--ulix-auth.client=devhost',
  '--ulix-auth.username=demo', `--ulix-auth.password-file=${passwordFile()}`, '--ulix-auth.platform=EU',
  ...extra,
];
const hasChange = (type, uri) => (e) => e.name === 'OnJsonApiEvent' && e.data.eventType === type
  && e.data.uri === uri;

describe('sign-on through the development host', { skip: skipReason, timeout: TEST_TIMEOUT }, () => {
  let idp;
  let host;
  let events;
  // The configuration token the plug-in sends as its client assertion, once a test installed it.
  const assertions = [];
  const issuedRefreshTokens = async () => (await idp.requests())
    .map((r) => r.issuedRefreshToken).filter(Boolean);

  before(async () => {
    idp = await startIdp(['--gas', '--did-uri', 'https://did.example.invalid/frame']);
    host = await startDevhost({ pluginArgs: signOnArgs(idp) });
    events = new EventReader(host);
    await events.opened;
  });
  after(async () => {
    events?.close();
    if (host && !host.exited()) await host.stop();
    await idp?.stop();
  });

  test('signs the player on from the command line and announces it in order', async () => {
    await events.waitFor(hasChange('Create', '/ulix-auth/v1/authorization/entitlements-token'));
    assert.deepEqual(events.changes().slice(0, 4), [
      ['Create', '/ulix-auth/v1/authorization'],
      ['Create', '/ulix-auth/v1/authorization/access-token'],
      ['Create', '/ulix-auth/v1/authorization/id-token'],
      ['Create', '/ulix-auth/v1/authorization/entitlements-token'],
    ]);
    // Each change also goes out under its path's own event name.
    assert.ok(events.events.some((e) => e.name === 'OnJsonApiEvent_ulix-auth_v1_authorization'));
    assert.ok(!fs.readFileSync(`/proc/${host.pid}/cmdline`, 'utf8').includes(PASSWORD));
  });

  test('serves every token resource of the authorization', async () => {
    const authorization = await host.call('GET', '/ulix-auth/v1/authorization');
    assert.equal(authorization.status, 200);
    assert.equal(authorization.json.currentPlatformId, 'EU');
    assert.equal(authorization.json.currentAccountId, 1000001);
    assert.match(authorization.json.subject, /^[0-9a-f]{32}$/);

    const access = await host.call('GET', '/ulix-auth/v1/authorization/access-token');
    assert.equal(access.status, 200);
    assert.deepEqual(access.json.scopes, ['openid', 'offline_access', 'kiv', 'ban', 'profile', 'email', 'phone']);
    assert.equal(typeof access.json.expiry, 'number');
    assert.equal(access.json.token.split('.').length, 3);

    const id = await host.call('GET', '/ulix-auth/v1/authorization/id-token');
    assert.equal(id.status, 200);
    assert.ok(id.json.expiry > 0);
    const entitlements = await host.call('GET', '/ulix-auth/v1/authorization/entitlements-token');
    assert.deepEqual(entitlements.json.entitlements, ['game_access', 'beta']);
    assert.equal(entitlements.json.token, id.json.token);
    const gas = await host.call('GET', '/ulix-auth/v1/authorization/gas-token');
    assert.equal(gas.status, 200);
    assert.equal(gas.json.platform, 'EU');

    const error = await host.call('GET', '/ulix-auth/v1/authorization/error');
    assert.deepEqual([error.status, error.json.message], [404, 'No error from last authentication.']);

    const before = await host.call('GET', '/ulix-auth/v1/authorization/userinfo');
    assert.equal(before.status, 404);
    const fetched = await host.call('POST', '/ulix-auth/v1/authorization/userinfo');
    assert.equal(fetched.status, 200);
    assert.equal(JSON.parse(fetched.json.userInfo).preferred_username, 'demo');
    const status = await host.call('GET', '/ulix-auth/v1/status/EU');
    assert.deepEqual(status.json, {
      platformId: 'EU', enabled: true, isLQFallbackAllowed: true, isUserInfoEnabled: true,
    });
  });

  test('serves many clients at once on a busy machine', async () => {
    const routes = ['/ulix-auth/v1/authorization', '/ulix-auth/v1/authorization/access-token',
      '/ulix-auth/v1/authorization/id-token', '/ulix-auth/v1/status/EU', '/openapi.json'];
    // Four loops on the cores, so that the host's accepting thread is not scheduled at once
    // and connections pile up in the kernel's queue.
    const stopLoops = busyLoops(4);
    let answers;
    try {
      answers = await Promise.all(Array.from({ length: 300 },
        (_, i) => host.call('GET', routes[i % routes.length])));
    } finally {
      await stopLoops();
    }
    assert.deepEqual([...new Set(answers.map((a) => a.status))], [200]);
    const subjects = new Set(answers.filter((a, i) => i % routes.length === 0).map((a) => a.json.subject));
    assert.equal(subjects.size, 1);
  });

  test('refreshes on request and announces the new access token', async () => {
    const from = events.events.length;
    const before = (await host.call('GET', '/ulix-auth/v1/authorization/access-token')).json.token;
    const refreshed = await host.call('POST', '/ulix-auth/v1/authorization/refresh');
    assert.equal(refreshed.status, 200);
    assert.equal(refreshed.json.currentPlatformId, 'EU');
    await events.waitFor(hasChange('Update', '/ulix-auth/v1/authorization/access-token'), from);
    const after = (await host.call('GET', '/ulix-auth/v1/authorization/access-token')).json.token;
    assert.notEqual(after, before);
    const seen = await idp.requests();
    assert.ok(seen.some((r) => r.path === '/token' && r.grantType === 'refresh_token'));
  });

  test('keeps the authorization when a refresh meets 503, retries and succeeds later', async () => {
    const from = events.events.length;
    await idp.fault({ match: '/token', status: 503, body: { error: 'temporarily_unavailable', error_description: 'maintenance' } });
    const failed = await host.call('POST', '/ulix-auth/v1/authorization/refresh');
    assert.equal(failed.status, 503);
    assert.equal((await host.call('GET', '/ulix-auth/v1/authorization')).status, 200);
    await host.waitForLog(/Retrying authorization refresh in/);
    // The retry, at most two seconds later, finds the service back.
    await events.waitFor(hasChange('Update', '/ulix-auth/v1/authorization/access-token'), from);
    assert.equal((await host.call('GET', '/ulix-auth/v1/authorization')).status, 200);
  });

  test('refreshes by itself when the access token is short-lived', async () => {
    await host.call('DELETE', '/ulix-auth/v1/authorization');
    await idp.settings({ accessTokenTtl: 35 });
    const signedOn = await host.call('POST', '/ulix-auth/v1/authorization/gas',
      { username: 'demo', password: PASSWORD, platformId: 'EU' });
    assert.equal(signedOn.status, 200);
    const from = events.events.length;
    // Later tokens live long again, so the schedule calms down after one refresh.
    await idp.settings({ accessTokenTtl: 3600 });
    await events.waitFor(hasChange('Update', '/ulix-auth/v1/authorization/access-token'), from);
    await host.waitForLog(/Refreshing tokens in/);
  });

  test('signs off: revokes at the service and announces the deletion', async () => {
    const issued = await issuedRefreshTokens();
    const latest = issued[issued.length - 1];
    const from = events.events.length;
    const deleted = await host.call('DELETE', '/ulix-auth/v1/authorization');
    assert.equal(deleted.status, 204);
    assert.equal((await host.call('GET', '/ulix-auth/v1/authorization')).status, 404);
    await events.waitFor(hasChange('Delete', '/ulix-auth/v1/authorization/id-token'), from);
    // Refreshes of the short-lived tokens above may still be announced in between.
    const deletions = events.changes(from).filter(([type]) => type === 'Delete');
    assert.deepEqual(deletions, [
      ['Delete', '/ulix-auth/v1/authorization/userinfo'],
      ['Delete', '/ulix-auth/v1/authorization'],
      ['Delete', '/ulix-auth/v1/authorization/access-token'],
      ['Delete', '/ulix-auth/v1/authorization/id-token'],
    ]);
    const seen = await idp.requests();
    assert.ok(seen.some((r) => r.path === '/token/revoke' && r.status === 200));
    const reused = await fetch(`${idp.url}/token`, {
      method: 'POST',
      headers: { 'content-type': 'application/x-www-form-urlencoded' },
      body: new URLSearchParams({ grant_type: 'refresh_token', client_id: 'devhost', refresh_token: latest }),
    });
    assert.equal((await reused.json()).error, 'invalid_grant');
  });

  test('signs on through POST gas, once, and reports refused credentials', async () => {
    const wrong = await host.call('POST', '/ulix-auth/v1/authorization/gas',
      { username: 'demo', password: 'wrong', platformId: 'EU' });
    assert.deepEqual([wrong.status, wrong.json.message], [400, 'invalid_request: auth_failure']);
    const error = await host.call('GET', '/ulix-auth/v1/authorization/error');
    assert.deepEqual(error.json, { error: 'invalid_request', errorDescription: 'auth_failure' });
    // The host says it in plain words, beside the plug-in's own text.
    await host.waitForLog(/devhost: sign-on failed: the service refused the user name or password \(invalid_request: auth_failure\)/);
    const refused = await host.call('GET', '/ready');
    assert.equal(refused.json.signedOn, false);
    assert.equal(refused.json.lastError.explanation, 'the service refused the user name or password');

    const good = await host.call('POST', '/ulix-auth/v1/authorization/gas',
      { username: 'demo', password: PASSWORD, platformId: 'EU' });
    assert.equal(good.status, 200);
    await host.waitForLog(/devhost: signed on as demo on EU \(account \d+\)/);
    const ready = await host.call('GET', '/ready');
    assert.deepEqual([ready.json.signedOn, ready.json.platformId, ready.json.lastError],
      [true, 'EU', null]);
    const twice = await host.call('POST', '/ulix-auth/v1/authorization/gas',
      { username: 'demo', password: PASSWORD, platformId: 'EU' });
    assert.deepEqual([twice.status, twice.json.message],
      [400, 'Tried to create an authorization when one already exists.']);
  });

  test('drops the authorization when the service refuses the refresh with 400', async () => {
    const from = events.events.length;
    await idp.fault({ match: '/token', status: 400, body: { error: 'invalid_grant', error_description: 'revoked' } });
    const refused = await host.call('POST', '/ulix-auth/v1/authorization/refresh');
    assert.equal(refused.status, 400);
    assert.equal((await host.call('GET', '/ulix-auth/v1/authorization')).status, 404);
    await events.waitFor(hasChange('Delete', '/ulix-auth/v1/authorization/entitlements-token'), from);
    assert.deepEqual(events.changes(from).filter(([type]) => type === 'Delete'), [
      ['Delete', '/ulix-auth/v1/authorization/userinfo'],
      ['Delete', '/ulix-auth/v1/authorization'],
      ['Delete', '/ulix-auth/v1/authorization/access-token'],
      ['Delete', '/ulix-auth/v1/authorization/id-token'],
      ['Delete', '/ulix-auth/v1/authorization/gas-token'],
      ['Delete', '/ulix-auth/v1/authorization/entitlements-token'],
    ]);
  });

  test('answers 512 when the service cannot be reached', async () => {
    // Twice: an HTTP client tries a request once more when a kept-alive connection dies.
    await idp.fault({ match: '/token', drop: true, times: 2 });
    const unreachable = await host.call('POST', '/ulix-auth/v1/authorization/gas',
      { username: 'demo', password: PASSWORD, platformId: 'EU' });
    await idp.clearFaults();
    assert.equal(unreachable.status, 512);
    assert.equal(unreachable.json.message, 'temporarily_unavailable: Unable to connect to server');
    assert.equal((await host.call('GET', '/ulix-auth/v1/authorization')).status, 404);
  });

  test('takes configuration overrides through v2 and v1', async () => {
    const v2 = await host.call('POST', '/ulix-auth/v2/config', { url: idp.url, clientId: 'devhost' });
    assert.equal(v2.status, 204);
    const status = await host.call('GET', '/ulix-auth/v1/status/EU');
    assert.equal(status.json.isLQFallbackAllowed, false);
    assert.equal((await host.call('DELETE', '/ulix-auth/v2/config')).status, 204);
    const gone = await host.call('GET', '/ulix-auth/v1/status/EU');
    assert.deepEqual([gone.status, gone.json.message], [404, 'ULIX not configured.']);
    assert.deepEqual((await host.call('DELETE', '/ulix-auth/v1/config')).json?.message, 'No config to delete.');

    const { token } = await idp.configToken();
    assertions.push(token);
    assert.equal((await host.call('POST', '/ulix-auth/v1/config', { token })).status, 204);
    const config = await host.call('GET', '/ulix-auth/v1/config/EU');
    assert.deepEqual(config.json, { token });
    const before = (await idp.requests()).length;
    const signedOn = await host.call('POST', '/ulix-auth/v1/authorization/gas',
      { username: 'demo', password: PASSWORD, platformId: 'EU' });
    assert.equal(signedOn.status, 200);
    const seen = (await idp.requests()).slice(before);
    assert.ok(seen.some((r) => r.path === '/token' && r.clientAssertion === true));
  });

  test('never writes the password, a refresh token or a client assertion to its log, telemetry or events', async () => {
    const secrets = [PASSWORD, ...await issuedRefreshTokens()];
    const telemetryFile = path.join(host.state, 'telemetry.jsonl');
    const telemetry = fs.existsSync(telemetryFile) ? fs.readFileSync(telemetryFile, 'utf8') : '';
    assert.ok(telemetry.length > 0);
    // The outgoing traffic the host keeps: every token and sign-on step is there, masked.
    const { text: exchanges, json: kept } = await host.call('GET', '/exchanges');
    const urls = kept.map((exchange) => new URL(exchange.url).pathname);
    for (const step of ['/.well-known/openid-configuration', '/token']) {
      assert.ok(urls.includes(step), step);
    }
    assert.match(exchanges, /refresh_token=\(masked, \d+ bytes\)/);
    for (const secret of secrets) {
      assert.ok(!host.log.includes(secret), 'log line');
      assert.ok(!telemetry.includes(secret), 'telemetry line');
      assert.ok(!events.raw.includes(secret), 'event');
      assert.ok(!exchanges.includes(secret), 'exchange');
    }
    assert.ok(!/eyJ[\w-]+\.[\w-]+\.[\w-]+/.test(exchanges), 'a signed token in an exchange');
    // The plug-in names the configuration token it applies in one log line of its own; the
    // assertion it sends appears nowhere else.
    assert.ok(assertions.length > 0);
    const otherLines = host.log.split('\n').filter((line) => !line.includes('Using ULIX config from token'));
    for (const assertion of assertions) {
      assert.ok(!otherLines.some((line) => line.includes(assertion)), 'log line');
      assert.ok(!telemetry.includes(assertion), 'telemetry line');
      assert.ok(!events.raw.includes(assertion), 'event');
      assert.ok(!exchanges.includes(assertion), 'exchange');
    }
  });
});

// ---- What a newcomer reads -----------------------------------------------------------------

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');

// Runs a program to its end: {code, output} with standard output and error together.
async function runToEnd(command, args, env = {}) {
  const child = spawn(command, args, { cwd: root, env: { ...process.env, ...env },
                                       stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  child.stdout.on('data', (chunk) => { output += chunk; });
  child.stderr.on('data', (chunk) => { output += chunk; });
  const [code] = await once(child, 'close');
  return { code, output };
}

// A port held by another program for the length of `work`.
async function withTakenPort(work) {
  const server = net.createServer();
  await new Promise((resolve) => { server.listen(0, '127.0.0.1', resolve); });
  try {
    return await work(server.address().port);
  } finally {
    await new Promise((resolve) => { server.close(resolve); });
  }
}

describe('messages in plain words', { skip: skipReason, timeout: TEST_TIMEOUT }, () => {
  let idp;
  before(async () => { idp = await startIdp(['--gas']); });
  after(async () => { await idp?.stop(); });

  test('a wrong password at start is said in plain words and /ready reports it', async () => {
    const wrong = path.join(newStateFolder(), 'password');
    fs.writeFileSync(wrong, 'not-the-password\n', { mode: 0o600 });
    const host = await startDevhost({ pluginArgs: [
      `--ulix-auth.url=${idp.url}`, '--ulix-auth.client=devhost', '--ulix-auth.username=demo',
      `--ulix-auth.password-file=${wrong}`, '--ulix-auth.platform=EU', '--ulix-auth.usr=demo'] });
    try {
      await host.waitForLog(/devhost: sign-on failed: the service refused the user name or password \(invalid_request: auth_failure\)/);
      const { status, json } = await host.call('GET', '/ready');
      assert.equal(status, 200);
      assert.deepEqual(json, { ready: true, signedOn: false, lastError: {
        error: 'invalid_request', errorDescription: 'auth_failure',
        explanation: 'the service refused the user name or password' } });
      assert.match(host.log, /warning: the plug-in has no option --ulix-auth\.usr; it is ignored \(did you mean --ulix-auth\.username\?\)/);
    } finally {
      assert.equal(await host.stop(), 0);
    }
  });

  test('a port in use or out of range is named with what to do', async () => {
    await withTakenPort(async (port) => {
      await assert.rejects(startDevhost({ args: ['--port', String(port)] }),
        new RegExp(`cannot listen on 127\\.0\\.0\\.1:${port}: the port is in use by another program; leave out --port`));
    });
    const { code, output } = await runToEnd(devhostBinary, ['--port', '70000']);
    assert.equal(code, 2);
    assert.match(output, /--port 70000 is out of range: ports go from 1 to 65535/);
  });

  test('scripts/run exits non-zero when the host cannot start', async () => {
    await withTakenPort(async (port) => {
      const { code, output } = await runToEnd(path.join(root, 'scripts', 'run'),
        ['--port', String(port)], { STATE: newStateFolder() });
      assert.notEqual(code, 0, output);
      assert.match(output, /the port is in use by another program/);
    });
  });
});

describe('stopping while the sign-on service trickles', { skip: skipReason, timeout: TEST_TIMEOUT }, () => {
  test('exits within 2 s, sending no password once the stop has begun', async () => {
    const idp = await startIdp(['--gas']);
    const host = await startDevhost({ pluginArgs: [`--ulix-auth.url=${idp.url}`, '--ulix-auth.client=devhost'] });
    try {
      // Every sign-on is answered a byte a second; the plug-in sends all six at once.
      await idp.fault({ match: '/token', status: 400, body: { error: 'x'.repeat(100) }, trickleMs: 1000, times: 10 });
      for (let i = 0; i < 6; i += 1) {
        host.call('POST', '/ulix-auth/v1/authorization/gas',
          { username: 'demo', password: PASSWORD, platformId: 'EU' }).catch(() => {});
      }
      const tokenRequests = async () => (await idp.requests()).filter((r) => r.path.endsWith('/token')).length;
      while (await tokenRequests() < 6) await new Promise((resolve) => { setTimeout(resolve, 50); });
      const started = process.hrtime.bigint();
      assert.equal(await host.stop(), 0);
      const ms = Number(process.hrtime.bigint() - started) / 1e6;
      assert.ok(ms < 2000, `the stop took ${ms} ms`);
      assert.equal(await tokenRequests(), 6);
    } finally {
      if (!host.exited()) await host.stop();
      await idp.stop();
    }
  });
});

describe('state across restarts', { skip: skipReason, timeout: TEST_TIMEOUT }, () => {
  let idp;
  before(async () => { idp = await startIdp(['--did-uri', 'https://did.example.invalid/frame']); });
  after(async () => { await idp?.stop(); });

  test('keeps the install identifier when the host restarts', async () => {
    const regionSettings = JSON.stringify({ url: idp.url, client: 'devhost', kount: { merchant: 'm-100' } });
    const args = ['--region', 'EU', '--store', `/data-store/v1/system-settings/region_data/EU/ulix=${regionSettings}`];
    const first = await startDevhost({ args });
    const device = await first.call('POST', '/ulix-auth/v1/device-id');
    assert.equal(await first.stop(), 0);
    assert.equal(device.status, 200);
    assert.equal(device.json.merchantId, 'm-100');
    assert.match(device.json.installId, /^[0-9a-f]{32}$/);
    assert.equal(device.json.frameUrl, 'https://did.example.invalid/frame');

    const second = await startDevhost({ state: first.state, args });
    const again = await second.call('POST', '/ulix-auth/v1/device-id');
    assert.equal(await second.stop(), 0);
    assert.equal(again.json.installId, device.json.installId);
    assert.notEqual(again.json.sessionId, device.json.sessionId);
  });
});

// A port nobody listens on, for completeness of the unreachable case without the fault route.
export async function closedPort() {
  const server = net.createServer();
  await new Promise((resolve) => { server.listen(0, '127.0.0.1', resolve); });
  const { port } = server.address();
  await new Promise((resolve) => { server.close(resolve); });
  return port;
}
