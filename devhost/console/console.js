// The sign-on console: talks only to the development host's own API, with the access secret the
// host printed. The secret arrives in this page's address fragment (never sent to a server),
// leaves the address at once and is kept in this tab's session storage, so that a reload keeps
// working and closing the tab forgets it. State changes arrive as events on /events; the page
// never polls.
'use strict';

const kBase = '/ulix-auth/v1';
const kPaths = {
  authorization: `${kBase}/authorization`,
  accessToken: `${kBase}/authorization/access-token`,
  idToken: `${kBase}/authorization/id-token`,
  entitlementsToken: `${kBase}/authorization/entitlements-token`,
  userInfo: `${kBase}/authorization/userinfo`,
};
const kCards = { access: '#access-token', id: '#id-token', entitlements: '#entitlements-token' };
const kEventTypes = ['Create', 'Update', 'Delete'];
// Members whose values are secrets or raw tokens: the page shows their length only. The host
// masks its exchanges by the same rule.
const kHiddenMembers = /(password|secret|assertion|refresh|cookie|token$|^authorization$|^code$)/i;
const kSignedToken = /^eyJ[\w-]*\.[\w-]*\.[\w-]*$/;
const kTimeClaims = new Set(['exp', 'iat', 'nbf', 'auth_time']);
const kTimelineLimit = 300;
const kSecretKey = 'ulix-devhost-secret';

const $ = (selector) => document.querySelector(selector);

function takeSecret() {
  const fromAddress = new URLSearchParams(location.hash.slice(1)).get('secret');
  // Out of the address bar, the history and screenshots.
  if (location.hash) history.replaceState(null, '', location.pathname + location.search);
  if (fromAddress) {
    sessionStorage.setItem(kSecretKey, fromAddress);
    return fromAddress;
  }
  return sessionStorage.getItem(kSecretKey) || '';
}
const secret = takeSecret();
// Kept in memory for the copy buttons, never in the DOM.
const rawTokens = { access: '', id: '', entitlements: '' };
const state = { signedOn: false, exchanges: new Map() };

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
  if (typeof value === 'string' && kSignedToken.test(value)) {
    return `(hidden, ${value.length} characters)`;
  }
  return value;
}

function pad(number) { return String(number).padStart(2, '0'); }

function clockText(date) {
  return `${pad(date.getHours())}:${pad(date.getMinutes())}:${pad(date.getSeconds())}.` +
      String(date.getMilliseconds()).padStart(3, '0');
}

function dateText(date) {
  return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())} ` +
      `${pad(date.getHours())}:${pad(date.getMinutes())}:${pad(date.getSeconds())}`;
}

// "1 h 5 min", "9 min 12 s", "42 s".
function durationText(seconds) {
  const s = Math.max(0, Math.round(seconds));
  if (s >= 3600) return `${Math.floor(s / 3600)} h ${Math.floor((s % 3600) / 60)} min`;
  if (s >= 60) return `${Math.floor(s / 60)} min ${s % 60} s`;
  return `${s} s`;
}

function sizeText(bytes) {
  return bytes >= 1024 ? `${(bytes / 1024).toFixed(1)} KiB` : `${bytes} B`;
}

function prettyText(text) {
  if (!text) return '';
  try { return JSON.stringify(JSON.parse(text), null, 2); } catch { return text; }
}

// ---- Timeline ------------------------------------------------------------------------------------

// Rows from the event stream carry data-source="stream": a new stream replays them.
function addTimeline(kind, title, detail, options = {}) {
  const item = document.createElement('li');
  item.dataset.kind = kind;
  if (options.stream) item.dataset.source = 'stream';
  const details = document.createElement('details');
  const summary = document.createElement('summary');
  const time = options.earlier ? 'earlier' : clockText(new Date());
  for (const [cls, text] of [['kind', kind], ['time', time], ['title', title]]) {
    const span = document.createElement('span');
    span.className = cls;
    span.textContent = text;
    summary.append(span);
  }
  if (options.statusClass) summary.lastChild.classList.add(options.statusClass);
  const body = document.createElement('pre');
  body.textContent = detail === undefined ? '' : JSON.stringify(redact(detail), null, 2);
  details.append(summary, body);
  item.append(details);
  const list = $('#timeline');
  list.prepend(item);
  while (list.children.length > kTimelineLimit) list.lastChild.remove();
  return item;
}

// One request to the host's API. Requests a person asked for land in the timeline with their
// status; the page's own reads (`quiet`) do not, so that an expected 404 paints nothing red.
async function api(method, path, body, { quiet = false } = {}) {
  const init = { method, headers: authHeaders() };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = typeof body === 'string' ? body : JSON.stringify(body);
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
  if (!quiet) {
    let request = body;
    if (typeof body === 'string') { try { request = JSON.parse(body); } catch { request = body; } }
    addTimeline('request', `${method} ${path} → ${status || 'failed'}`, { request, answer },
                { statusClass: ok ? 'status-ok' : 'status-bad' });
  }
  return { status, ok, answer };
}

// ---- Tokens and state ----------------------------------------------------------------------------

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
  state.signedOn = signedOn;
  $('#signed-on').textContent = signedOn ? 'yes' : 'no';
  $('#signed-on').dataset.state = signedOn ? 'yes' : 'no';
  $('#platform').textContent = signedOn ? record.currentPlatformId || '–' : '–';
  $('#account').textContent = signedOn ? String(record.currentAccountId ?? '–') : '–';
  $('#subject').textContent = signedOn ? record.subject || '–' : '–';
  // The forms default to the player's platform.
  if (signedOn && record.currentPlatformId) {
    for (const input of document.querySelectorAll('input[name=platformId]')) {
      if (!input.value) input.value = record.currentPlatformId;
    }
  }
  showRefreshToken();
}

// Claims as a list: times as dates beside their numbers, objects as JSON. Nothing is cut.
function showClaims(list, claims) {
  list.replaceChildren();
  for (const [name, value] of Object.entries(claims || {})) {
    const term = document.createElement('dt');
    term.textContent = name;
    const text = document.createElement('dd');
    if (kTimeClaims.has(name) && typeof value === 'number') {
      text.textContent = `${dateText(new Date(value * 1000))} (${value})`;
    } else {
      text.textContent = typeof value === 'string' ? value : JSON.stringify(value);
    }
    list.append(term, text);
  }
}

function showToken(which, record) {
  const card = $(kCards[which]);
  const token = record && record.token ? record.token : '';
  rawTokens[which] = token;
  const claims = token ? decodeJwt(token) : null;
  showClaims(card.querySelector('.claims'), claims);
  card.dataset.exp = claims && claims.exp ? String(claims.exp) : '';
  const expiry = token ? Number(record.expiry || (claims && claims.exp) || 0) : 0;
  card.querySelector('.countdown').dataset.expiry = expiry ? String(expiry) : '';
  let extra = '';
  if (token && record.scopes) extra = `scopes: ${record.scopes.join(' ')}`;
  if (token && record.entitlements) {
    extra = `entitlements: ${record.entitlements.length ? record.entitlements.join(' ') : 'none'}`;
  }
  card.querySelector('.extra').textContent = extra;
  card.querySelector('.copy').disabled = !token;
  tick();
}

function showError(record) {
  $('#last-error').textContent = record
      ? `${record.explanation} (${record.error}: ${record.errorDescription})` : '';
}

function showNextRefresh(dueAtMs) {
  $('#next-refresh').dataset.due = dueAtMs ? String(dueAtMs) : '';
  tick();
}

function showUserInfo(record) {
  let text = '';
  if (record && typeof record.userInfo === 'string') {
    text = JSON.stringify(redact((() => {
      try { return JSON.parse(record.userInfo); } catch { return record.userInfo; }
    })()), null, 2);
  }
  $('#userinfo-panel').textContent = text;
}

// Whether the plug-in holds a refresh token, read from its traffic: the last successful token
// answer carried one, and the player is still signed on. The token itself never reaches the page.
function showRefreshToken() {
  const cell = $('#refresh-token');
  let last = null;
  for (const exchange of state.exchanges.values()) {
    if (exchange.method === 'POST' && /\/token$/.test(exchange.url.split('?')[0]) &&
        exchange.status === 200 && (!last || exchange.id > last.id)) {
      last = exchange;
    }
  }
  let held = false;
  let note = '–';
  if (state.signedOn) {
    let answer = null;
    try { answer = last ? JSON.parse(last.responseBody) : null; } catch { answer = null; }
    held = !!(answer && answer.refresh_token);
    const size = held ? (/(\d+) bytes/.exec(answer.refresh_token) || [])[1] : '';
    note = held ? `held (issued ${clockText(new Date(last.startedAt))}, ${size || '?'} bytes; ` +
        'never shown)'
        : (last ? 'none: the last token answer carried none' : 'unknown (no token answer seen)');
  }
  cell.textContent = note;
  cell.dataset.state = held ? 'yes' : 'no';
}

function tick() {
  const now = Date.now();
  for (const countdown of document.querySelectorAll('.countdown')) {
    const expiry = Number(countdown.dataset.expiry || 0);
    if (!expiry) { countdown.textContent = '–'; continue; }
    const left = expiry - now / 1000;
    countdown.textContent = dateText(new Date(expiry * 1000)) +
        (left > 0 ? ` (in ${durationText(left)})` : ' (expired)');
  }
  const due = Number($('#next-refresh').dataset.due || 0);
  $('#next-refresh').textContent = due
      ? `${clockText(new Date(due))} (in ${durationText((due - now) / 1000)})` : '–';
}

// The host explains the last error in plain words on /ready.
async function loadError() {
  const { ok, answer } = await api('GET', '/ready', undefined, { quiet: true });
  showError(ok && answer ? answer.lastError : null);
}

async function loadState() {
  const read = (path) => api('GET', path, undefined, { quiet: true });
  const [authorization, access, id, entitlements, userInfo] = await Promise.all([
    read(kPaths.authorization), read(kPaths.accessToken), read(kPaths.idToken),
    read(kPaths.entitlementsToken), read(kPaths.userInfo)]);
  showAuthorization(authorization.ok ? authorization.answer : null);
  showToken('access', access.ok ? access.answer : null);
  showToken('id', id.ok ? id.answer : null);
  showToken('entitlements', entitlements.ok ? entitlements.answer : null);
  showUserInfo(userInfo.ok ? userInfo.answer : null);
  await loadError();
  document.body.dataset.loaded = 'yes';
}

// ---- Outgoing traffic ----------------------------------------------------------------------------

// What step of a sign-on an exchange is, by its address.
function stepName(exchange) {
  const path = exchange.url.split('?')[0];
  if (/\.well-known\//.test(path)) return 'discovery';
  if (/\/token$/.test(path)) {
    const grant = /grant_type=([\w-]+)/.exec(exchange.requestBody || '');
    return grant ? `token request (${grant[1].replace(/_/g, ' ')})` : 'token request';
  }
  if (/userinfo/.test(path)) return 'user info';
  if (/revo/.test(path)) return 'revocation';
  return 'request';
}

function headerText(headers) {
  return (headers || []).map(([name, value]) => `${name}: ${value}`).join('\n');
}

function onExchange(exchange) {
  if (state.exchanges.has(exchange.id)) return;
  state.exchanges.set(exchange.id, exchange);
  const item = document.createElement('li');
  item.dataset.id = String(exchange.id);
  item.dataset.step = stepName(exchange);
  const details = document.createElement('details');
  const summary = document.createElement('summary');
  const ok = exchange.status >= 200 && exchange.status < 400;
  const pieces = [
    ['step', item.dataset.step],
    ['time', clockText(new Date(exchange.startedAt))],
    ['title', `${exchange.method} ${exchange.url} → ${exchange.status || exchange.error || 'failed'}`],
    ['figures', `${exchange.durationMs.toFixed(1)} ms · ${sizeText(exchange.requestBytes)} out · ` +
        `${sizeText(exchange.responseBytes)} in`],
  ];
  for (const [cls, text] of pieces) {
    const span = document.createElement('span');
    span.className = cls;
    span.textContent = text;
    summary.append(span);
  }
  summary.querySelector('.title').classList.add(ok ? 'status-ok' : 'status-bad');
  details.append(summary);
  for (const [label, text] of [
    ['Request headers', headerText(exchange.requestHeaders)],
    ['Request body', prettyText(exchange.requestBody)],
    ['Response headers', headerText(exchange.responseHeaders)],
    ['Response body', prettyText(exchange.responseBody)]]) {
    if (!text) continue;
    const heading = document.createElement('h4');
    heading.textContent = label;
    const body = document.createElement('pre');
    body.className = 'wire';
    body.textContent = text;
    details.append(heading, body);
  }
  item.append(details);
  // Newest first, by id: the live stream and the list read at load may overlap.
  const list = $('#traffic');
  const before = [...list.children].find((row) => Number(row.dataset.id) < exchange.id);
  list.insertBefore(item, before || null);
  showRefreshToken();
}

async function loadExchanges() {
  const { ok, answer } = await api('GET', '/exchanges', undefined, { quiet: true });
  if (ok && Array.isArray(answer)) answer.forEach(onExchange);
}

// ---- Events --------------------------------------------------------------------------------------

// The plug-in publishes each change twice, under the resource's own event name and under
// "OnJsonApiEvent"; the two arrive back to back and make one row.
let lastEventRow = null;

function onPluginEvent(name, data, earlier) {
  const type = typeof data.eventType === 'number' ? kEventTypes[data.eventType] : data.eventType;
  // The two copies may differ in how they spell the type: matched by type and resource.
  const key = `${type} ${data.uri}`;
  if (lastEventRow && lastEventRow.key === key && !lastEventRow.names.includes(name) &&
      lastEventRow.item.isConnected) {
    lastEventRow.names.push(name);
    lastEventRow.item.querySelector('.names').textContent = lastEventRow.names.join(' + ');
  } else {
    const item = addTimeline('event', `${type || ''} ${data.uri || name}`, data,
                             { stream: true, earlier });
    const names = document.createElement('span');
    names.className = 'names';
    names.textContent = name;
    item.querySelector('summary').append(names);
    lastEventRow = { key, names: [name], item };
  }
  if (name !== 'OnJsonApiEvent') return;  // act on one of the two
  const gone = type === 'Delete';
  switch (data.uri) {
    case kPaths.authorization:
      showAuthorization(gone ? null : data.data);
      if (gone) {
        // Every token goes with the authorization, also those without a Delete event of their own.
        showNextRefresh(0);
        for (const which of Object.keys(kCards)) showToken(which, null);
      }
      if (!earlier) loadError();
      break;
    case kPaths.accessToken: showToken('access', gone ? null : data.data); break;
    case kPaths.idToken: showToken('id', gone ? null : data.data); break;
    case kPaths.entitlementsToken: showToken('entitlements', gone ? null : data.data); break;
    case kPaths.userInfo: showUserInfo(gone ? null : data.data); break;
    default: break;
  }
}

function onHostEvent(name, data, earlier) {
  if (name === 'DevhostExchange') {
    onExchange(data);
    return;
  }
  if (name === 'DevhostTimer') {
    lastEventRow = null;
    addTimeline('timer', `${data.label} in ${durationText(Number(data.delaySeconds))}`, data,
                { stream: true, earlier });
    if (data.label === 'ulix-auth.refresh') showNextRefresh(data.dueAt);
    return;
  }
  onPluginEvent(name, data, earlier);
}

// A stream first replays what happened before the page came, then says so in a comment.
let replaying = true;

function dispatchBlock(block) {
  if (block.startsWith(':')) {
    if (/history end/.test(block)) {
      replaying = false;
      // What changed while the stream was down or before the page came is read once; from
      // here on events tell.
      loadState();
    }
    return;
  }
  let name = 'message';
  const data = [];
  for (const line of block.split('\n')) {
    if (line.startsWith('event:')) name = line.slice(6).trim();
    else if (line.startsWith('data:')) data.push(line.slice(5).replace(/^ /, ''));
  }
  if (data.length === 0) return;
  let parsed;
  try { parsed = JSON.parse(data.join('\n')); } catch { parsed = { raw: data.join('\n') }; }
  onHostEvent(name, parsed, replaying);
}

// EventSource cannot send the bearer header, so the stream is read through fetch.
async function followEvents() {
  let delay = 500;
  for (;;) {
    try {
      const response = await fetch('/events?replay=1',
                                   { headers: authHeaders({ Accept: 'text/event-stream' }) });
      if (response.status === 401) {
        throw new Error('the secret is out of date: open the Console address the host printed');
      }
      if (!response.ok) throw new Error(`status ${response.status}`);
      // The replay starts the timeline's stream rows over.
      for (const row of document.querySelectorAll('#timeline [data-source=stream]')) row.remove();
      lastEventRow = null;
      replaying = true;
      setStream(true);
      delay = 500;
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

// ---- Actions -------------------------------------------------------------------------------------

function showAnswer({ status, answer }, target = '#answer') {
  $(target).textContent = `${status || 'failed'}\n` +
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

function wire(selector, method, path, after) {
  $(selector).addEventListener('click', async () => {
    const result = await api(method, path);
    showAnswer(result);
    if (after) after(result);
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

async function fetchUserInfo() {
  const posted = await api('POST', kPaths.userInfo);
  if (!posted.ok) {
    showAnswer(posted, '#userinfo-panel');
    return;
  }
  const read = await api('GET', kPaths.userInfo);
  if (read.ok) showUserInfo(read.answer);
  else showAnswer(read, '#userinfo-panel');
}

function wireCopy(which) {
  const card = $(kCards[which]);
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

// ---- API explorer --------------------------------------------------------------------------------

// An example value for a schema of the document: every member of an object, a plausible value
// for each scalar.
function exampleOf(schema, spec, depth = 0) {
  if (!schema || depth > 6) return null;
  if (schema.$ref) {
    const name = schema.$ref.split('/').pop();
    return exampleOf(spec.components?.schemas?.[name], spec, depth + 1);
  }
  if (schema.enum) return schema.enum[0];
  switch (schema.type) {
    case 'object': {
      const example = {};
      for (const [name, member] of Object.entries(schema.properties || {})) {
        example[name] = exampleFor(name, member, spec, depth);
      }
      return example;
    }
    case 'array': return [];
    case 'integer': case 'number': return 0;
    case 'boolean': return false;
    case 'string': return '';
    default: return null;
  }
}

function exampleFor(name, schema, spec, depth) {
  const known = { username: 'demo', platformId: $('#platform').textContent.replace('–', '') || 'EU' };
  return name in known ? known[name] : exampleOf(schema, spec, depth + 1);
}

function explorerItem(path, method, operation, spec) {
  const item = document.createElement('li');
  item.dataset.operation = `${method.toUpperCase()} ${path}`;
  const details = document.createElement('details');
  const summary = document.createElement('summary');
  const verb = document.createElement('span');
  verb.className = `verb verb-${method}`;
  verb.textContent = method.toUpperCase();
  const where = document.createElement('code');
  where.textContent = path;
  const what = document.createElement('span');
  what.className = 'what';
  what.textContent = operation.summary || '';
  summary.append(verb, where, what);
  const form = document.createElement('form');
  form.className = 'explorer-form';
  const parameters = (operation.parameters || []).filter((p) => p.in === 'path' || p.in === 'query');
  for (const parameter of parameters) {
    const label = document.createElement('label');
    label.textContent = `${parameter.name} (${parameter.in})`;
    const input = document.createElement('input');
    input.name = parameter.name;
    input.dataset.in = parameter.in;
    if (parameter.name === 'platformId') input.placeholder = 'e.g. EU';
    input.required = parameter.in === 'path';
    label.append(input);
    form.append(label);
  }
  const schema = operation.requestBody?.content?.['application/json']?.schema;
  if (schema) {
    const label = document.createElement('label');
    label.textContent = 'Body (JSON)';
    const body = document.createElement('textarea');
    body.name = 'body';
    body.rows = 4;
    body.value = JSON.stringify(exampleOf(schema, spec), null, 2);
    label.append(body);
    form.append(label);
  }
  const send = document.createElement('button');
  send.type = 'submit';
  send.textContent = 'Send';
  form.append(send);
  const answer = document.createElement('pre');
  answer.className = 'answer';
  answer.setAttribute('aria-live', 'polite');
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    let target = path;
    const query = new URLSearchParams();
    for (const input of form.querySelectorAll('input')) {
      if (input.dataset.in === 'path') {
        target = target.replace(`{${input.name}}`, encodeURIComponent(input.value));
      } else if (input.value) {
        query.set(input.name, input.value);
      }
    }
    if ([...query].length) target += `?${query}`;
    const text = form.body ? form.body.value.trim() : '';
    const result = await api(method.toUpperCase(), target, text ? text : undefined);
    answer.textContent = `${method.toUpperCase()} ${target} → ${result.status || 'failed'}\n` +
        (result.answer === undefined ? '' : JSON.stringify(redact(result.answer), null, 2));
  });
  details.append(summary, form, answer);
  item.append(details);
  return item;
}

async function loadExplorer() {
  const { ok, answer } = await api('GET', '/openapi.json', undefined, { quiet: true });
  if (!ok || !answer || !answer.paths) return;
  const list = $('#explorer');
  for (const [path, operations] of Object.entries(answer.paths)) {
    for (const [method, operation] of Object.entries(operations)) {
      if (path === '/events') continue;  // a stream: the page follows it already
      list.append(explorerItem(path, method, operation, answer));
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
    $('#stream').textContent = 'no access secret: open the Console address the host printed';
    $('#stream').dataset.live = 'no';
    return;
  }
  $('#sign-on').addEventListener('submit', signOn);
  wire('#refresh', 'POST', `${kBase}/authorization/refresh`);
  wire('#sign-off', 'DELETE', kPaths.authorization);
  wire('#device-id', 'POST', `${kBase}/device-id`);
  wire('#config-v1-delete', 'DELETE', `${kBase}/config`);
  wire('#config-v2-delete', 'DELETE', '/ulix-auth/v2/config');
  $('#userinfo').addEventListener('click', fetchUserInfo);
  $('#config-read').addEventListener('submit', readConfig);
  $('#config-v1').addEventListener('submit', overrideV1);
  $('#config-v2').addEventListener('submit', overrideV2);
  for (const which of Object.keys(kCards)) wireCopy(which);
  setInterval(tick, 1000);
  loadExchanges();
  followEvents();
  loadExplorer();
}

document.addEventListener('DOMContentLoaded', start);
