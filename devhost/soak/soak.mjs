// Soak under faults: the development host with the built plug-in against the local sign-on
// service, cycle after cycle of sign-on, reads of every token resource, user info, a manual
// refresh and sign-off, with one fault injected at random into the sign-on or the refresh of
// each cycle. Each cycle's outcome is checked against the rule for its fault; the host's
// resident memory is sampled; at the end every log line, telemetry record, event, error text
// and file of the state folder is searched for secrets.
//
// Usage: node devhost/soak/soak.mjs [cycles, default 1000]
//   SOAK_SEED=<n> fixes the random choices; SOAK_SLOW_MS sets the slow answer's delay (2000);
//   SOAK_TOKEN_TTL sets the access tokens' lifetime in seconds (120);
//   ULIX_PLUGIN=<library> loads that plug-in instead of the host's default; ULIX_DEVHOST (read
//   by the harness) names the host program.
// Prints one summary as JSON on standard output and exits 1 on any failed check.
import * as fs from 'node:fs';
import * as path from 'node:path';

import { EventReader, startDevhost, startIdp } from '../e2e/harness.mjs';

const cycles = Number(process.argv[2] ?? 1000);
const slowMs = Number(process.env.SOAK_SLOW_MS ?? 2000);
const PASSWORD = 'demo-password';
const CREDENTIALS = { username: 'demo', password: PASSWORD, platformId: 'EU' };

// A small seeded generator, so that a failing run can be repeated.
let seed = Number(process.env.SOAK_SEED ?? Date.now() % 2147483647) || 1;
const firstSeed = seed;
function random() {
  seed = (seed * 48271) % 2147483647;
  return seed / 2147483647;
}
const pick = (items) => items[Math.floor(random() * items.length)];

// The faults, as control-route bodies (times 2 for a dropped connection: the host's HTTP client
// tries once more when a kept-alive connection dies), and what each must give. `kept`: whether
// the authorization survives a failed refresh; `status`: the answer's status, or a predicate.
const FAULTS = {
  none: { body: null, status: 200, kept: true },
  503: {
    body: { status: 503, body: { error: 'temporarily_unavailable', error_description: 'soak' } },
    status: 503,
    kept: true,
  },
  invalid_grant: {
    body: { status: 400, body: { error: 'invalid_grant', error_description: 'soak' } },
    status: 400,
    kept: false,
  },
  401: {
    body: { status: 401, body: { error: 'invalid_client', error_description: 'soak' } },
    status: 401,
    kept: false,
  },
  drop: { body: { drop: true, times: 2 }, status: 512, kept: true },
  slow: { body: { delayMs: slowMs }, status: 200, kept: true },
  empty: { body: { empty: true }, status: 513, kept: true },
  non_json: { body: { nonJson: true }, status: 513, kept: true },
  // A JSON answer with neither "error" nor "access_token": an error with the answer's own
  // status, 200, which lies below 500 and so drops the authorization.
  wrong_shape: { body: { body: { unexpected: true } }, status: 200, kept: false, failed: true },
};

const TOKEN_READS = [
  '/ulix-auth/v1/authorization',
  '/ulix-auth/v1/authorization/access-token',
  '/ulix-auth/v1/authorization/id-token',
  '/ulix-auth/v1/authorization/entitlements-token',
  '/ulix-auth/v1/authorization/gas-token',
];

function residentKb(pid) {
  const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
  return Number(/VmRSS:\s+(\d+)/.exec(status)[1]);
}

function readTree(folder) {
  let text = '';
  for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
    const full = path.join(folder, entry.name);
    if (entry.isDirectory()) text += readTree(full);
    else if (entry.isFile()) text += `\n${fs.readFileSync(full, 'latin1')}`;
  }
  return text;
}

const failures = [];
const counts = { faults: {}, outcomes: {} };
const rss = {};
// The plug-in's own heap in use (its memory statistics), sampled with the resident memory.
const pluginKb = {};
// The whole process's malloc heap in use (host and plug-in together).
const heapKb = {};
const errorTexts = [];
const refreshTokens = new Set();
const accessTokens = new Set();

// Every sign-on schedules a refresh that nothing cancels: it stays pending at the host and in
// the plug-in, holding its access token, until it falls due and finds the authorization gone.
// Short-lived tokens make those callbacks fall due within the run, so that resident memory
// shows what is kept for good rather than what the schedule holds for the next hour.
const tokenTtl = process.env.SOAK_TOKEN_TTL ?? '120';
const idp = await startIdp(['--gas', '--access-token-ttl', tokenTtl]);
const host = await startDevhost({
  args: process.env.ULIX_PLUGIN ? ['--plugin', process.env.ULIX_PLUGIN] : [],
  pluginArgs: [`--ulix-auth.url=${idp.url}`, '--ulix-auth.client=devhost',
    '--ulix-auth.platform=EU'],
});
const events = new EventReader(host);
await events.opened;

function check(cycle, what, condition, detail) {
  if (condition) return;
  failures.push(`cycle ${cycle}: ${what}${detail !== undefined ? `: ${detail}` : ''}`);
}

function count(table, key) {
  table[key] = (table[key] ?? 0) + 1;
}

async function call(method, route, body) {
  const answer = await host.call(method, route, body);
  if (answer.json?.message) errorTexts.push(answer.json.message);
  return answer;
}

async function collectIssuedTokens() {
  const seen = await idp.requests();
  for (const record of seen) if (record.issuedRefreshToken) refreshTokens.add(record.issuedRefreshToken);
  await fetch(`${idp.url}/control/requests`, { method: 'DELETE' });
}

// One cycle: sign-on, reads, user info, refresh, sign-off, with the fault of this cycle.
async function runCycle(cycle) {
  const faultName = pick(Object.keys(FAULTS));
  const fault = FAULTS[faultName];
  // Most faults meet the refresh; some meet the sign-on itself.
  const stage = faultName !== 'none' && random() < 0.25 ? 'sign-on' : 'refresh';
  count(counts.faults, `${faultName}@${stage}`);
  let outcome;

  if (stage === 'sign-on') {
    await idp.fault({ match: '/token', times: 1, ...fault.body });
  }
  const signedOn = await call('POST', '/ulix-auth/v1/authorization/gas', CREDENTIALS);
  await idp.clearFaults();
  if (stage === 'sign-on') {
    // A failed password sign-on leaves no authorization, whatever the failure.
    const succeeds = fault.status === 200 && !fault.failed;
    check(cycle, `sign-on with ${faultName}`, signedOn.status === (succeeds ? 200 : fault.status),
      `${signedOn.status} ${signedOn.text}`);
    const after = await call('GET', '/ulix-auth/v1/authorization');
    check(cycle, `authorization after sign-on with ${faultName}`,
      after.status === (succeeds ? 200 : 404), after.status);
    outcome = succeeds ? 'signed-on' : `sign-on-${signedOn.status}`;
    if (!succeeds) {
      count(counts.outcomes, outcome);
      return;
    }
  } else {
    check(cycle, 'sign-on', signedOn.status === 200, `${signedOn.status} ${signedOn.text}`);
    if (signedOn.status !== 200) return;
  }

  for (const route of TOKEN_READS) {
    const read = await call('GET', route);
    check(cycle, `GET ${route}`, read.status === 200, `${read.status} ${read.text}`);
    if (read.json?.token) accessTokens.add(read.json.token);
  }
  const info = await call('POST', '/ulix-auth/v1/authorization/userinfo');
  check(cycle, 'POST userinfo', info.status === 200, `${info.status} ${info.text}`);
  check(cycle, 'GET userinfo', (await call('GET', '/ulix-auth/v1/authorization/userinfo')).status === 200);

  if (stage === 'refresh') {
    if (fault.body) await idp.fault({ match: '/token', times: 1, ...fault.body });
    const refreshed = await call('POST', '/ulix-auth/v1/authorization/refresh');
    await idp.clearFaults();
    check(cycle, `refresh with ${faultName}`, refreshed.status === fault.status,
      `${refreshed.status} ${refreshed.text}`);
    if (fault.failed) {
      check(cycle, `refresh with ${faultName} fails`, refreshed.json?.message !== undefined,
        refreshed.text);
    }
    const after = await call('GET', '/ulix-auth/v1/authorization');
    check(cycle, `authorization kept after ${faultName}`, (after.status === 200) === fault.kept,
      after.status);
    outcome = fault.kept ? `kept-${refreshed.status}` : `dropped-${refreshed.status}`;
  }
  count(counts.outcomes, outcome);

  // Sign-off, when the authorization is still there.
  const current = await call('GET', '/ulix-auth/v1/authorization');
  if (current.status === 200) {
    const off = await call('DELETE', '/ulix-auth/v1/authorization');
    check(cycle, 'sign-off', off.status === 200 || off.status === 204, `${off.status} ${off.text}`);
  }
  check(cycle, 'no authorization after sign-off',
    (await call('GET', '/ulix-auth/v1/authorization')).status === 404);
}

let exchanges = '';
try {
  for (let cycle = 1; cycle <= cycles; ++cycle) {
    await runCycle(cycle);
    if (cycle % 50 === 0 || cycle === cycles) await collectIssuedTokens();
    if (cycle === 1 || cycle % 50 === 0 || cycle === cycles) {
      rss[cycle] = residentKb(host.pid);
      const memory = await host.call('GET', '/memory');
      pluginKb[cycle] = Math.round(memory.json.bytesInUse / 1024);
      if (memory.json.processHeapInUse !== undefined) {
        heapKb[cycle] = Math.round(memory.json.processHeapInUse / 1024);
      }
    }
    check(cycle, 'host still running', !host.exited());
    if (host.exited()) break;
  }
} finally {
  await collectIssuedTokens().catch(() => {});
  // The host's list of outgoing exchanges, read before it stops: audited with the rest.
  exchanges = await host.call('GET', '/exchanges').then((answer) => answer.text, () => '');
  events.close();
  const stopped = await host.stop();
  check('end', 'host stops with status 0', stopped === 0, stopped);
  await idp.stop();
}

// ---- Secrets audit -------------------------------------------------------------------------
// The password, every refresh token the service issued and every Authorization header value
// that could have been sent with an access token must appear nowhere the host writes down.
const places = {
  'host log': host.log,
  'host output': host.stdout,
  'state folder': readTree(host.state),
  events: events.raw,
  'error texts': errorTexts.join('\n'),
  exchanges,
};
const secrets = [
  ['password', PASSWORD],
  ...[...refreshTokens].map((token) => ['refresh token', token]),
  ...[...accessTokens].map((token) => ['Authorization header', `Bearer ${token}`]),
];
const findings = [];
for (const [place, text] of Object.entries(places)) {
  for (const [kind, secret] of secrets) {
    if (secret && text.includes(secret)) findings.push(`${kind} in ${place}`);
  }
}
const telemetryFile = path.join(host.state, 'telemetry.jsonl');

// The host logs the plug-in's memory statistics once the plug-in has stopped: every block it
// allocated must have been freed by then.
const memoryLine =
  /plug-in memory after stop: allocated (\d+) bytes in (\d+) blocks, freed (\d+) bytes in (\d+) blocks/
    .exec(host.log);
const memoryAfterStop = memoryLine === null ? null : {
  bytesAllocated: Number(memoryLine[1]),
  allocations: Number(memoryLine[2]),
  bytesFreed: Number(memoryLine[3]),
  frees: Number(memoryLine[4]),
};
check('end', 'the host logs the plug-in memory after stop', memoryAfterStop !== null);
if (memoryAfterStop !== null) {
  check('end', 'every byte the plug-in allocated is freed after stop',
    memoryAfterStop.bytesAllocated === memoryAfterStop.bytesFreed &&
      memoryAfterStop.allocations === memoryAfterStop.frees,
    memoryLine[0]);
}

const samples = Object.keys(rss).map(Number).sort((a, b) => a - b);
const summary = {
  cycles,
  seed: firstSeed,
  faults: counts.faults,
  outcomes: counts.outcomes,
  residentKb: rss,
  pluginInUseKb: pluginKb,
  processHeapInUseKb: heapKb,
  pluginMemoryAfterStop: memoryAfterStop,
  residentGrowthKbFrom100: rss[100] !== undefined
    ? rss[samples[samples.length - 1]] - rss[100] : null,
  audit: {
    secretsChecked: secrets.length,
    placesChecked: Object.keys(places),
    telemetryBytes: fs.existsSync(telemetryFile) ? fs.statSync(telemetryFile).size : 0,
    findings: [...new Set(findings)],
  },
  failures: failures.slice(0, 50),
  failureCount: failures.length,
};
console.log(JSON.stringify(summary, null, 2));
if (summary.residentGrowthKbFrom100 !== null && cycles >= 1000 && summary.residentGrowthKbFrom100 > 1024) {
  console.error('resident memory grew by more than 1 MB from cycle 100');
  process.exitCode = 1;
}
if (failures.length > 0 || findings.length > 0) process.exitCode = 1;
