// Load figures of the development host with the plug-in (not a test): the time of a sign-on
// through the host split into the sign-on service's own time and the host's with the
// plug-in's, then wrk against GET /ulix-auth/v1/authorization.
// Usage: node devhost/load/measure.mjs [sign-on rounds, default 50]
// ULIX_DEVHOST picks the host binary (a Release build gives the figures worth reporting).
import { execFile } from 'node:child_process';
import { promisify } from 'node:util';

import { startDevhost, startIdp } from '../e2e/harness.mjs';

const rounds = Number(process.argv[2] || 50);
const credentials = { username: 'demo', password: 'demo-password', platformId: 'EU' };

const idp = await startIdp();
const host = await startDevhost({
  args: ['--log-requests'],
  pluginArgs: [`--ulix-auth.url=${idp.url}`, '--ulix-auth.client=devhost'],
});
// The host's own account of the last sign-on: its whole time and the outgoing HTTP part.
const timing = () => {
  const lines = [...host.log.matchAll(/POST \/ulix-auth\/v1\/authorization\/gas 200 in ([\d.]+) ms \(outgoing HTTP ([\d.]+) ms\)/g)];
  const last = lines[lines.length - 1];
  return { inside: Number(last[1]), http: Number(last[2]) };
};
try {
  // Warm up connections and code paths once.
  await host.call('POST', '/ulix-auth/v1/authorization/gas', credentials);
  await host.call('DELETE', '/ulix-auth/v1/authorization');

  const totals = [];
  const services = [];
  const insides = [];
  const https = [];
  for (let round = 0; round < rounds; round += 1) {
    const before = (await idp.requests()).length;
    const started = process.hrtime.bigint();
    const answer = await host.call('POST', '/ulix-auth/v1/authorization/gas', credentials);
    const total = Number(process.hrtime.bigint() - started) / 1e6;
    if (answer.status !== 200) throw new Error(`sign-on answered ${answer.status}: ${answer.text}`);
    const seen = (await idp.requests()).slice(before).filter((r) => r.path === '/token');
    totals.push(total);
    services.push(seen.reduce((sum, r) => sum + (r.durationMs || 0), 0));
    const { inside, http } = timing();
    insides.push(inside);
    https.push(http);
    await host.call('DELETE', '/ulix-auth/v1/authorization');
  }
  const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
  const total = median(totals);
  const service = median(services);
  const own = median(insides.map((inside, i) => inside - https[i]));
  const http = median(https);
  console.log(`sign-on, median of ${rounds}: ${total.toFixed(2)} ms at the client`);
  console.log(`  inside the host ${median(insides).toFixed(2)} ms: host + plug-in ${own.toFixed(3)} ms`
    + ` (${((own / median(insides)) * 100).toFixed(1)} %), outgoing HTTP ${http.toFixed(2)} ms;`
    + ` the service's own time ${service.toFixed(2)} ms (medians taken one by one)`);

} finally {
  await host.stop();
}

// A host without the request log for the load run: one log line per request would measure
// the log. wrk runs asynchronously so that this process keeps draining the host's output.
const loaded = await startDevhost({
  pluginArgs: [`--ulix-auth.url=${idp.url}`, '--ulix-auth.client=devhost'],
});
try {
  await loaded.call('POST', '/ulix-auth/v1/authorization/gas', credentials);
  const { stdout } = await promisify(execFile)('wrk', ['-t2', '-c16', '-d10s', '--latency',
    '-H', `Authorization: Bearer ${loaded.secret}`, `${loaded.url}/ulix-auth/v1/authorization`]);
  console.log(stdout);
} finally {
  await loaded.stop();
  await idp.stop();
}
