// The sign-on console: talks only to the development host's own API, with the access secret the
// host printed (carried in this page's address fragment, so it never reaches a server log). State
// changes arrive as events on /events; the page never polls.
'use strict';

const kBase = '/ulix-auth/v1';
const kPaths = {
  authorization: `${kBase}/authorization`,
  accessToken: `${kBase}/authorization/access-token`,
  idToken: `${kBase}/authorization/id-token`,
  error: `${kBase}/authorization/error`,
};
const kEventTypes = ['Create', 'Update', 'Delete'];
// Members whose values are secrets or raw tokens: the timeline shows their length only.
const kHiddenMembers = /(password|secret|assertion|refresh|^token$|_token$|^authorization$)/i;
const kTimelineLimit = 200;

const secret = new URLSearchParams(location.hash.slice(1)).get('secret') || '';
// Read once and kept in memory only: out of the address bar, the history and screenshots.
if (location.hash) history.replaceState(null, '', location.pathname + location.search);
const rawTokens = { access: '', id: '' };  // kept in memory for the copy buttons, never in the DOM

const $ = (selector) => document.querySelector(selector);

function authHeaders(extra) {
  return Object.assign({ Authorization: `Bearer ${secret}` }, extra || {});
}

// Copies `value` with every secret-looking member replaced by a note of its length.
function redact(value) {
  if (Array.isArray(value)) return value.map(redact);
  if (value && typeof value === 'object') {
    const copy = {};
    for (const [key, member] of Object.entries(value)) {
      copy[key] = kHiddenMembers.test(key) && typeof member === 'string' && member !== ''
          ? `(hidden, ${member.length} characters)` : redact(member);
    }
    return copy;
  }
  return value;
}

function clockText(date) {
  return date.toLocaleTimeString([], { hour12: false }) + '.' +
      String(date.getMilliseconds()).padStart(3, '0');
}

function addTimeline(kind, title, detail, statusClass) {
  const item = document.createElement('li');
  const details = document.createElement('details');
  const summary = document.createElement('summary');
  for (const [cls, text] of [['kind', kind], ['time', clockText(new Date())], ['title', title]]) {
    const span = document.createElement('span');
    span.className = cls;
    span.textContent = text;
    summary.append(span);
  }
  if (statusClass) summary.lastChild.classList.add(statusClass);
  const body = document.createElement('pre');
  body.textContent = detail === undefined ? '' : JSON.stringify(redact(detail), null, 2);
  details.append(summary, body);
  item.append(details);
  const list = $('#timeline');
  list.prepend(item);
  while (list.children.length > kTimelineLimit) list.lastChild.remove();
}

// One request to the host's API; every request lands in the timeline with its status.
async function api(method, path, body) {
  const init = { method, headers: authHeaders() };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let status = 0;
  let answer;
  try {
    const response = await fetch(path, init);
    status = response.status;
    const text = await response.text();
    try { answer = text ? JSON.parse(text) : undefined; } catch { answer = text; }
  } catch (error) {
    answer = { message: String(error) };
  }
  const ok = status >= 200 && status < 300;
  addTimeline('request', `${method} ${path} → ${status || 'failed'}`,
              { request: body, answer }, ok ? 'status-ok' : 'status-bad');
  return { status, ok, answer };
}

function decodeJwt(token) {
  const payload = (token || '').split('.')[1];
  if (!payload) return null;
  try {
    const base64 = payload.replace(/-/g, '+').replace(/_/g, '/');
    const bytes = Uint8Array.from(atob(base64 + '='.repeat((4 - base64.length % 4) % 4)),
                                  (c) => c.charCodeAt(0));
    return JSON.parse(new TextDecoder().decode(bytes));
  } catch {
    return null;
  }
}

function showAuthorization(record) {
  const signedOn = !!record;
  $('#signed-on').textContent = signedOn ? 'yes' : 'no';
  $('#signed-on').dataset.state = signedOn ? 'yes' : 'no';
  $('#platform').textContent = signedOn ? record.currentPlatformId || '–' : '–';
  $('#account').textContent = signedOn ? String(record.currentAccountId ?? '–') : '–';
  $('#subject').textContent = signedOn ? record.subject || '–' : '–';
}

function showToken(which, record) {
  const card = $(which === 'access' ? '#access-token' : '#id-token');
  const token = record && record.token ? record.token : '';
  rawTokens[which] = token;
  const claims = token ? decodeJwt(token) : null;
  card.querySelector('.claims').textContent = claims ? JSON.stringify(claims, null, 2) : '';
  const expiry = token ? Number(record.expiry || (claims && claims.exp) || 0) : 0;
  const countdown = card.querySelector('.countdown');
  countdown.dataset.expiry = expiry ? String(expiry) : '';
  const scopes = card.querySelector('.scopes');
  if (scopes) scopes.textContent = token && record.scopes ? `scopes: ${record.scopes.join(' ')}` : '';
  card.querySelector('.copy').disabled = !token;
  tick();
}

function showError(record) {
  $('#last-error').textContent = record ? `${record.error}: ${record.errorDescription}` : '';
}

function showNextRefresh(dueAtMs) {
  const cell = $('#next-refresh');
  cell.dataset.due = dueAtMs ? String(dueAtMs) : '';
  tick();
}

function tick() {
  const now = Date.now();
  for (const countdown of document.querySelectorAll('.countdown')) {
    const expiry = Number(countdown.dataset.expiry || 0);
    if (!expiry) { countdown.textContent = '–'; continue; }
    const left = Math.round(expiry - now / 1000);
    countdown.textContent = `${new Date(expiry * 1000).toLocaleTimeString([], { hour12: false })}` +
        (left > 0 ? ` (in ${left} s)` : ' (expired)');
  }
  const due = Number($('#next-refresh').dataset.due || 0);
  $('#next-refresh').textContent = due
      ? `${clockText(new Date(due))} (in ${Math.max(0, Math.round((due - now) / 1000))} s)` : '–';
}

async function loadError() {
  const { ok, answer } = await api('GET', kPaths.error);
  showError(ok ? answer : null);
}

async function loadState() {
  const [authorization, access, id] = await Promise.all([
    api('GET', kPaths.authorization), api('GET', kPaths.accessToken), api('GET', kPaths.idToken)]);
  showAuthorization(authorization.ok ? authorization.answer : null);
  showToken('access', access.ok ? access.answer : null);
  showToken('id', id.ok ? id.answer : null);
  await loadError();
}

// ---- Events ------------------------------------------------------------------------------------

function onPluginEvent(name, data) {
  const type = typeof data.eventType === 'number' ? kEventTypes[data.eventType] : data.eventType;
  addTimeline('event', `${name} ${type || ''} ${data.uri || ''}`, data);
  if (name !== 'OnJsonApiEvent') return;  // every change arrives twice: act on one of them
  const gone = type === 'Delete';
  switch (data.uri) {
    case kPaths.authorization:
      showAuthorization(gone ? null : data.data);
      if (gone) showNextRefresh(0);
      loadError();
      break;
    case kPaths.accessToken: showToken('access', gone ? null : data.data); break;
    case kPaths.idToken: showToken('id', gone ? null : data.data); break;
    default: break;
  }
}

function onHostEvent(name, data) {
  if (name === 'DevhostTimer') {
    addTimeline('timer', `${data.label} in ${Number(data.delaySeconds).toFixed(1)} s`, data);
    if (data.label === 'ulix-auth.refresh') showNextRefresh(data.dueAt);
    return;
  }
  onPluginEvent(name, data);
}

function dispatchBlock(block) {
  let name = 'message';
  const data = [];
  for (const line of block.split('\n')) {
    if (line.startsWith('event:')) name = line.slice(6).trim();
    else if (line.startsWith('data:')) data.push(line.slice(5).replace(/^ /, ''));
  }
  if (data.length === 0) return;
  let parsed;
  try { parsed = JSON.parse(data.join('\n')); } catch { parsed = { raw: data.join('\n') }; }
  onHostEvent(name, parsed);
}

// EventSource cannot send the bearer header, so the stream is read through fetch.
async function followEvents() {
  let delay = 500;
  for (;;) {
    try {
      const response = await fetch('/events', { headers: authHeaders({ Accept: 'text/event-stream' }) });
      if (!response.ok) throw new Error(`status ${response.status}`);
      setStream(true);
      delay = 500;
      // Whatever changed while the stream was down is read once; from here on events tell.
      loadState();
      const reader = response.body.getReader();
      const decoder = new TextDecoder();
      let buffer = '';
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        buffer += decoder.decode(value, { stream: true }).replace(/\r\n?/g, '\n');
        let end;
        while ((end = buffer.indexOf('\n\n')) >= 0) {
          dispatchBlock(buffer.slice(0, end));
          buffer = buffer.slice(end + 2);
        }
      }
    } catch (error) {
      addTimeline('stream', `events: ${error.message}`);
    }
    setStream(false);
    await new Promise((resolve) => setTimeout(resolve, delay));
    delay = Math.min(delay * 2, 10000);
  }
}

function setStream(live) {
  $('#stream').textContent = live ? 'events: live' : 'events: reconnecting';
  $('#stream').dataset.live = live ? 'yes' : 'no';
}

// ---- Actions -----------------------------------------------------------------------------------

function showAnswer({ status, answer }) {
  $('#answer').textContent = `${status || 'failed'}\n` +
      (answer === undefined ? '' : JSON.stringify(redact(answer), null, 2));
}

async function signOn(event) {
  event.preventDefault();
  const form = event.target;
  const creds = {
    username: form.username.value, password: form.password.value, platformId: form.platformId.value,
  };
  form.password.value = '';  // the password lives no longer than the request needs it
  const result = await api('POST', `${kBase}/authorization/gas`, creds);
  showAnswer(result);
  if (!result.ok) loadError();
}

function wire(selector, method, path, body) {
  $(selector).addEventListener('click', async () => {
    const result = await api(method, path, typeof body === 'function' ? body() : body);
    showAnswer(result);
  });
}

async function readConfig(event) {
  event.preventDefault();
  const platform = encodeURIComponent(event.target.platformId.value);
  const what = event.submitter && event.submitter.value === 'status' ? 'status' : 'config';
  showAnswer(await api('GET', `${kBase}/${what}/${platform}`));
}

async function overrideV1(event) {
  event.preventDefault();
  const token = event.target.token.value.trim();
  showAnswer(await api('POST', `${kBase}/config`, token ? { token } : {}));
}

async function overrideV2(event) {
  event.preventDefault();
  showAnswer(await api('POST', '/ulix-auth/v2/config',
                       { url: event.target.url.value, clientId: event.target.clientId.value }));
}

function wireCopy(which) {
  const card = $(which === 'access' ? '#access-token' : '#id-token');
  card.querySelector('.copy').addEventListener('click', async (event) => {
    try {
      await navigator.clipboard.writeText(rawTokens[which]);
      event.target.textContent = 'Copied';
    } catch {
      event.target.textContent = 'Copy refused';
    }
    setTimeout(() => { event.target.textContent = 'Copy token'; }, 1500);
  });
}

async function loadEndpoints() {
  const { ok, answer } = await api('GET', '/openapi.json');
  if (!ok || !answer || !answer.paths) return;
  const list = $('#endpoints');
  for (const [path, operations] of Object.entries(answer.paths)) {
    for (const method of Object.keys(operations)) {
      const item = document.createElement('li');
      item.textContent = `${method.toUpperCase()} ${path}`;
      list.append(item);
    }
  }
  // The document needs the bearer header too: open it from memory instead of by address.
  const url = URL.createObjectURL(new Blob([JSON.stringify(answer, null, 2)],
                                           { type: 'application/json' }));
  $('#openapi-link').href = url;
  $('#openapi-link').target = '_blank';
}

function start() {
  if (!secret) {
    $('#stream').textContent = 'no access secret: open the address the host printed';
    $('#stream').dataset.live = 'no';
    return;
  }
  $('#sign-on').addEventListener('submit', signOn);
  wire('#refresh', 'POST', `${kBase}/authorization/refresh`);
  wire('#sign-off', 'DELETE', kPaths.authorization);
  wire('#userinfo', 'POST', `${kBase}/authorization/userinfo`);
  wire('#device-id', 'POST', `${kBase}/device-id`);
  wire('#config-v1-delete', 'DELETE', `${kBase}/config`);
  wire('#config-v2-delete', 'DELETE', '/ulix-auth/v2/config');
  $('#config-read').addEventListener('submit', readConfig);
  $('#config-v1').addEventListener('submit', overrideV1);
  $('#config-v2').addEventListener('submit', overrideV2);
  wireCopy('access');
  wireCopy('id');
  setInterval(tick, 1000);
  followEvents();
  loadEndpoints();
}

document.addEventListener('DOMContentLoaded', start);
