// A stress run of the development host (not a test): many clients connect at once, each on a
// connection of its own making several GETs over the plug-in's read routes, while busy loops
// hold the cores. Reports answered and failed requests, latency percentiles and the host's
// resident memory before and after. With a number of stalled connections, as many connections
// beside the clients send half a request without the secret and open anew whenever the host
// closes one: the clients must still be answered.
// Usage: node devhost/load/stress.mjs [connections, default 1000] [requests each, default 5]
//        [busy loops, default 4] [stalled connections, default 0]
// e.g.   node devhost/load/stress.mjs 100 1 2 4000
// ULIX_DEVHOST picks the host binary (a Release build gives the figures worth reporting).
// Each stalled connection is a descriptor here and one in the host: the run needs `ulimit -n`
// above the stalled connections and the clients together (the host raises its own limit).
import * as fs from 'node:fs';
import * as http from 'node:http';
import * as net from 'node:net';

import { busyLoops, startDevhost, startIdp } from '../e2e/harness.mjs';

const connections = Number(process.argv[2] || 1000);
const perConnection = Number(process.argv[3] || 5);
const loops = Number(process.argv[4] ?? 4);
const stalledCount = Number(process.argv[5] ?? 0);
const routes = ['/ulix-auth/v1/authorization', '/ulix-auth/v1/authorization/access-token',
  '/ulix-auth/v1/authorization/id-token', '/ulix-auth/v1/status/EU', '/openapi.json'];

const procStatus = (pid, field) => Number(new RegExp(`^${field}:\\s+(\\d+)`, 'm')
  .exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);
const residentKiB = (pid) => procStatus(pid, 'VmRSS');

const idp = await startIdp(['--gas']);
const host = await startDevhost({
  pluginArgs: [`--ulix-auth.url=${idp.url}`, '--ulix-auth.client=devhost', '--ulix-auth.username=demo',
    '--ulix-auth.platform=EU'],
  env: { ULIX_AUTH_PASSWORD: 'demo-password' },
});
const { hostname, port } = new URL(host.url);

// One GET on `agent`'s connection: the time it took, or the error that ended it.
function get(agent, route) {
  const started = process.hrtime.bigint();
  return new Promise((resolve) => {
    const request = http.get({ host: hostname, port, path: route, agent,
      headers: { authorization: `Bearer ${host.secret}` } }, (response) => {
      response.resume();
      response.on('end', () => resolve({
        ok: response.statusCode === 200,
        error: response.statusCode === 200 ? undefined : `status ${response.statusCode}`,
        ms: Number(process.hrtime.bigint() - started) / 1e6,
      }));
    });
    request.on('error', (error) => resolve({ ok: false, error: error.code || error.message,
      ms: Number(process.hrtime.bigint() - started) / 1e6 }));
  });
}

async function client(index) {
  // An agent of its own with one socket: a connection per client, kept for its requests.
  const agent = new http.Agent({ keepAlive: true, maxSockets: 1 });
  const results = [];
  for (let i = 0; i < perConnection; i += 1) {
    results.push(await get(agent, routes[(index + i) % routes.length]));
  }
  agent.destroy();
  return results;
}

// The host's resident memory once its connection threads have ended (none of them outlives its
// connection, so the thread count falls back to where it started).
async function settledResident(threadsBefore) {
  for (let tries = 0; tries < 600; tries += 1) {
    if (procStatus(host.pid, 'Threads') <= threadsBefore) break;
    await new Promise((resolve) => { setTimeout(resolve, 50); });
  }
  // The host hands memory back a second after a burst has ended.
  await new Promise((resolve) => { setTimeout(resolve, 2000); });
  return residentKiB(host.pid);
}

// Connections that send half a request and open anew when the host closes them. Resolves once
// `count` are open; stop() ends them for good.
async function holdStalled(count) {
  const sockets = new Set();
  const held = { renewed: 0, refused: 0, stopping: false };
  let opened = 0;
  let allOpen;
  const ready = new Promise((resolve) => { allOpen = resolve; });
  const open = (first) => {
    if (held.stopping) return;
    const socket = net.connect({ host: hostname, port: Number(port) });
    let connected = false;
    sockets.add(socket);
    socket.on('connect', () => {
      connected = true;
      socket.write(`GET /ulix-auth/v1/authorization HTTP/1.1\r\nHost: ${hostname}:${port}\r\nX-Stalled: `);
      if (first && (opened += 1) === count) allOpen();
    });
    socket.on('error', () => { held.refused += 1; });
    socket.on('close', () => {
      sockets.delete(socket);
      if (held.stopping) return;
      held.renewed += 1;
      setImmediate(() => open(first && !connected));
    });
  };
  for (let i = 0; i < count; i += 1) open(true);
  if (count === 0) allOpen();
  await ready;
  held.stop = () => {
    held.stopping = true;
    for (const socket of sockets) socket.destroy();
  };
  return held;
}

// A first, smaller burst touches the code and the data the host keeps for good; the figures
// compare the host after it with the host after the whole run.
const threadsBefore = procStatus(host.pid, 'Threads');
await Promise.all(Array.from({ length: 100 }, (_, i) => client(i)));
const rssBefore = await settledResident(threadsBefore);
const stalled = await holdStalled(stalledCount);
const stopLoops = busyLoops(loops);
let results;
const started = process.hrtime.bigint();
try {
  results = (await Promise.all(Array.from({ length: connections }, (_, i) => client(i)))).flat();
} finally {
  await stopLoops();
  stalled.stop();
}
const wallMs = Number(process.hrtime.bigint() - started) / 1e6;
const rssAfter = await settledResident(threadsBefore);
await host.stop();
await idp.stop();

const times = results.map((r) => r.ms).sort((a, b) => a - b);
const at = (q) => times[Math.min(times.length - 1, Math.floor(q * times.length))];
const failures = {};
for (const r of results.filter((x) => !x.ok)) failures[r.error] = (failures[r.error] || 0) + 1;
console.log(JSON.stringify({
  connections, requestsEach: perConnection, busyLoops: loops,
  stalled: stalledCount, stalledRenewed: stalled.renewed, stalledErrors: stalled.refused,
  answered: results.filter((r) => r.ok).length, failed: results.length - results.filter((r) => r.ok).length,
  failures,
  p50Ms: Number(at(0.5).toFixed(1)), p99Ms: Number(at(0.99).toFixed(1)),
  maxMs: Number(times[times.length - 1].toFixed(1)), wallMs: Math.round(wallMs),
  rssBeforeKiB: rssBefore, rssAfterKiB: rssAfter, rssGrowthKiB: rssAfter - rssBefore,
}, null, 2));
