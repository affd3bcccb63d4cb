// Processes for the end-to-end tests: the local sign-on service and the development host, each
// on a free loopback port, each stopped by its process id; an event-stream reader for /events.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import * as fs from 'node:fs';
import * as os from 'node:os';
import * as path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..', '..');

export const devhostBinary = process.env.ULIX_DEVHOST
  || path.join(root, 'build', 'default', 'devhost', 'ulix-devhost');

// Resolves with the first match of `pattern` in what `stream` prints; rejects when the process
// ends first.
function waitForLine(child, stream, pattern, name) {
  let buffered = '';
  return new Promise((resolve, reject) => {
    const onData = (chunk) => {
      buffered += chunk;
      const match = pattern.exec(buffered);
      if (match) {
        stream.off('data', onData);
        resolve(match);
      }
    };
    stream.on('data', onData);
    child.once('exit', (code) => reject(new Error(`${name} exited with ${code} before it was ready:\n${buffered}`)));
  });
}

// Resolves with the exit code once the process has ended and its output has all been read.
async function stopChild(child) {
  const closed = child.stdout.closed && child.stderr.closed
    ? Promise.resolve() : once(child, 'close');
  if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
  await closed;
  return child.exitCode;
}

// Processes that keep the machine's cores busy, as other work on a shared machine does; stopped
// by the function returned.
export function busyLoops(count) {
  const loops = Array.from({ length: count },
    () => spawn('sh', ['-c', 'while :; do :; done'], { stdio: 'ignore' }));
  return async () => {
    await Promise.all(loops.map(async (loop) => {
      if (loop.exitCode === null && loop.signalCode === null) {
        loop.kill('SIGKILL');
        await once(loop, 'exit');
      }
    }));
  };
}

export async function startIdp(args = []) {
  const child = spawn(process.execPath, [path.join(root, 'devhost', 'idp', 'server.js'), '--port', '0', ...args], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  child.stderr.on('data', () => {});
  const [, url] = await waitForLine(child, child.stdout, /IDP: (\S+)\n/, 'sign-on service');
  const controlCall = async (route, method = 'GET', body = undefined) => {
    const response = await fetch(`${url}/control/${route}`, {
      method,
      headers: body ? { 'content-type': 'application/json' } : {},
      body: body ? JSON.stringify(body) : undefined,
    });
    return response.json();
  };
  return {
    url,
    pid: child.pid,
    fault: (fault) => controlCall('faults', 'POST', fault),
    clearFaults: () => controlCall('faults', 'DELETE'),
    requests: () => controlCall('requests'),
    settings: (values) => controlCall('settings', 'POST', values),
    configToken: () => controlCall('config-token', 'POST', {}),
    stop: () => stopChild(child),
  };
}

export function newStateFolder() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'devhost-e2e-'));
}

// Starts the development host and waits until the plug-in's start-up work is done (its
// configuration applied, the sign-on from its command line finished or failed). `log` collects
// everything it writes to standard error.
export async function startDevhost({ state = newStateFolder(), args = [], pluginArgs = [], env = {} } = {}) {
  const child = spawn(devhostBinary, ['--state', state, '--port', '0', ...args, '--', ...pluginArgs], {
    stdio: ['ignore', 'pipe', 'pipe'],
    env: { ...process.env, ...env },
  });
  const host = { state, pid: child.pid, log: '', stdout: '' };
  child.stderr.on('data', (chunk) => { host.log += chunk; });
  child.stdout.on('data', (chunk) => { host.stdout += chunk; });
  let url;
  let secret;
  try {
    [, url, secret] = await waitForLine(child, child.stdout, /API: +(\S+)\nSecret: +(\S+)\n/, 'development host');
  } catch (error) {
    // What it said on its way out tells why.
    await stopChild(child);
    throw new Error(`${error.message}\n${host.log}`);
  }
  Object.assign(host, {
    url,
    secret,
    // One API call with the secret: {status, json, text}.
    async call(method, route, body = undefined, headers = {}) {
      const response = await fetch(`${url}${route}`, {
        method,
        headers: {
          authorization: `Bearer ${secret}`,
          ...(body !== undefined ? { 'content-type': 'application/json' } : {}),
          ...headers,
        },
        body: body !== undefined ? JSON.stringify(body) : undefined,
      });
      const text = await response.text();
      let json;
      try { json = JSON.parse(text); } catch { json = undefined; }
      return { status: response.status, json, text };
    },
    // Resolves once the host has written a log line matching `pattern`.
    waitForLog(pattern) {
      if (pattern.test(host.log)) return Promise.resolve();
      return new Promise((resolve) => {
        const onData = () => {
          if (pattern.test(host.log)) {
            child.stderr.off('data', onData);
            resolve();
          }
        };
        child.stderr.on('data', onData);
      });
    },
    stop: () => stopChild(child),
    exited: () => child.exitCode !== null || child.signalCode !== null,
  });
  const ready = await host.call('GET', '/ready?wait=60');
  if (ready.status !== 200) {
    await host.stop();
    throw new Error(`the development host was not ready within a minute:\n${host.log}`);
  }
  return host;
}

// Reads /events of `host` into `events` ({name, data}) until closed.
export class EventReader {
  constructor(host) {
    this.events = [];
    this.raw = '';
    this.waiters = [];
    this.controller = new AbortController();
    this.opened = this.#read(host);
  }

  async #read(host) {
    const response = await fetch(`${host.url}/events?replay=1`, {
      headers: { authorization: `Bearer ${host.secret}` },
      signal: this.controller.signal,
    });
    const reader = response.body.getReader();
    const decoder = new TextDecoder();
    let buffered = '';
    let resolveOpen;
    const open = new Promise((resolve) => { resolveOpen = resolve; });
    (async () => {
      try {
        for (;;) {
          const { value, done } = await reader.read();
          if (done) break;
          const text = decoder.decode(value, { stream: true });
          this.raw += text;
          buffered += text;
          let end;
          while ((end = buffered.indexOf('\n\n')) >= 0) {
            const frame = buffered.slice(0, end);
            buffered = buffered.slice(end + 2);
            if (frame.startsWith(':')) { resolveOpen(); continue; }
            const name = /^event: (.*)$/m.exec(frame)?.[1];
            const data = frame.split('\n').filter((l) => l.startsWith('data: ')).map((l) => l.slice(6)).join('\n');
            this.events.push({ name, data: JSON.parse(data) });
            this.#wake();
          }
        }
      } catch {
        // aborted by close()
      }
    })();
    await open;
  }

  #wake() {
    this.waiters = this.waiters.filter(({ predicate, from, resolve }) => {
      const found = this.events.slice(from).find(predicate);
      if (found) resolve(found);
      return !found;
    });
  }

  // Resolves with the first event from index `from` on that satisfies `predicate`.
  waitFor(predicate, from = 0) {
    const found = this.events.slice(from).find(predicate);
    if (found) return Promise.resolve(found);
    return new Promise((resolve) => { this.waiters.push({ predicate, from, resolve }); });
  }

  // Resource change events under the plain "OnJsonApiEvent" name: [eventType, uri] pairs.
  changes(from = 0) {
    return this.events.slice(from).filter((e) => e.name === 'OnJsonApiEvent'
      && e.data.uri.startsWith('/ulix-auth/')).map((e) => [e.data.eventType, e.data.uri]);
  }

  close() { this.controller.abort(); }
}
