// Starts a sign-on service on a free loopback port for a test and stops it by its process id.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { fileURLToPath } from 'node:url';
import * as path from 'node:path';

const here = path.dirname(fileURLToPath(import.meta.url));

export async function startIdp(args = []) {
  const child = spawn(process.execPath, [path.join(here, '..', 'server.js'), '--port', '0', ...args], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  let buffered = '';
  const url = await new Promise((resolve, reject) => {
    child.stdout.on('data', (chunk) => {
      buffered += chunk;
      const match = /IDP: (\S+)/.exec(buffered);
      if (match) resolve(match[1]);
    });
    child.once('exit', (code) => reject(new Error(`sign-on service exited with ${code}`)));
  });
  return {
    url,
    async stop() {
      if (child.exitCode !== null) return;
      child.kill('SIGTERM');
      await once(child, 'exit');
    },
  };
}

export function form(values) {
  return new URLSearchParams(values).toString();
}

export async function post(url, values) {
  const response = await fetch(url, {
    method: 'POST',
    headers: { 'content-type': 'application/x-www-form-urlencoded' },
    body: form(values),
  });
  const text = await response.text();
  let json;
  try { json = JSON.parse(text); } catch { json = undefined; }
  return { status: response.status, text, json };
}

export function claims(jwt) {
  return JSON.parse(Buffer.from(jwt.split('.')[1], 'base64url').toString());
}
