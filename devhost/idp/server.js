// The local sign-on service of the development host: an OpenID provider on 127.0.0.1 that
// speaks what the sign-on plug-in expects (discovery with the region members, the password
// grant with "platform|user" names, refresh with rotation, revocation at the token URL +
// "/revoke", user info for JWT access tokens), plus a control route for tests that injects
// faults and reports the requests it received.
//
// Usage: node server.js [--port N] [--client ID] [--user NAME] [--password TEXT]
//          [--access-token-ttl SECONDS] [--regions A,B] [--regions-disabled C]
//          [--userinfo-regions A] [--did-uri URL] [--gas] [--single-use-assertions]
// Prints "IDP: http://127.0.0.1:<port>" once it listens.
//
// Two departures from a standard provider, both deliberate: the plug-in sends its
// configuration token as the client assertion on every request, so assertions may be reused
// (--single-use-assertions restores the refusal); and the provider's own userinfo route refuses
// JWT access tokens, so /userinfo here verifies them itself and discovery names it. A usable
// configuration token (HS256 with the confidential client's secret, carrying the "iss", "jti"
// and "exp" the provider requires) comes from POST /control/config-token.
//
// Control route (tests; loopback only like the rest):
//   POST   /control/faults    {match, status, body, contentType, empty, nonJson, delayMs, drop,
//                             trickleMs, times}: the next `times` requests whose path starts
//                             with `match` get this answer instead (a delay alone lets the
//                             request go on; trickleMs sends the body a byte at a time)
//   DELETE /control/faults    drops the faults not yet used
//   GET    /control/requests  what the service received (no passwords), oldest first
//   DELETE /control/requests  forgets them
//   POST   /control/settings  {accessTokenTtl, gas}
//   POST   /control/config-token {clientId}
import * as crypto from 'node:crypto';
import * as http from 'node:http';
import { parseArgs } from 'node:util';

import Provider, { errors } from 'oidc-provider';

const options = parseArgs({
  options: {
    port: { type: 'string', default: '0' },
    client: { type: 'string', default: 'devhost' },
    'assertion-client': { type: 'string', default: 'devhost-confidential' },
    user: { type: 'string', default: 'demo' },
    password: { type: 'string', default: 'demo-password' },
    'access-token-ttl': { type: 'string', default: '3600' },
    regions: { type: 'string', default: 'EU,NA,DEV' },
    'regions-disabled': { type: 'string', default: '' },
    'userinfo-regions': { type: 'string', default: 'EU,NA,DEV' },
    'did-uri': { type: 'string', default: '' },
    gas: { type: 'boolean', default: false },
    // A standard provider remembers the "jti" of every client assertion and refuses it a second
    // time; the plug-in sends its configuration token as the assertion on every request. This
    // service lets assertions be reused unless this option asks for the standard behaviour.
    'single-use-assertions': { type: 'boolean', default: false },
    help: { type: 'boolean', default: false },
  },
  strict: true,
}).values;

if (options.help) {
  console.log('See the comment at the top of devhost/idp/server.js for the options.');
  process.exit(0);
}

const list = (text) => text.split(',').map((s) => s.trim()).filter(Boolean);

// ---- State the control route changes --------------------------------------------------------

const state = {
  accessTokenTtl: Number(options['access-token-ttl']),
  gas: options.gas,
  faults: [], // {match, status, body, contentType, empty, nonJson, delayMs, drop, times}
  requests: [], // what the service received, newest last
};
const platformByGrant = new Map(); // grant id -> platform the player signed on to

// ---- Accounts ---------------------------------------------------------------------------------

const accounts = new Map();
function addAccount(username, password, accountNumber) {
  const sub = crypto.createHash('sha256').update(`player:${username}`).digest('hex').slice(0, 32);
  accounts.set(sub, {
    sub,
    username,
    password,
    accountNumber,
    entitlements: ['game_access', 'beta'],
  });
}
addAccount(options.user, options.password, 1000001);

function findByName(username) {
  for (const account of accounts.values()) if (account.username === username) return account;
  return undefined;
}

// ---- Storage ----------------------------------------------------------------------------------

const stores = new Map();
class MemoryAdapter {
  constructor(name) {
    this.name = name;
    if (!stores.has(name)) stores.set(name, new Map());
    this.store = stores.get(name);
  }

  async upsert(id, payload, expiresIn) {
    const expiresAt = expiresIn ? Date.now() + expiresIn * 1000 : undefined;
    this.store.set(id, { payload: { ...payload }, expiresAt });
  }

  async find(id) {
    if (this.name === 'ReplayDetection' && !options['single-use-assertions']) return undefined;
    const entry = this.store.get(id);
    if (!entry) return undefined;
    if (entry.expiresAt && entry.expiresAt < Date.now()) {
      this.store.delete(id);
      return undefined;
    }
    return entry.payload;
  }

  async findByUid(uid) {
    for (const [id, entry] of this.store) if (entry.payload.uid === uid) return this.find(id);
    return undefined;
  }

  async findByUserCode(userCode) {
    for (const [id, entry] of this.store) {
      if (entry.payload.userCode === userCode) return this.find(id);
    }
    return undefined;
  }

  async consume(id) {
    const entry = this.store.get(id);
    if (entry) entry.payload.consumed = Math.floor(Date.now() / 1000);
  }

  async destroy(id) {
    this.store.delete(id);
  }

  async revokeByGrantId(grantId) {
    for (const [, store] of stores) {
      for (const [id, entry] of store) if (entry.payload.grantId === grantId) store.delete(id);
    }
  }
}

// ---- The provider -----------------------------------------------------------------------------

const SCOPES = ['openid', 'offline_access', 'kiv', 'ban', 'profile', 'email', 'phone'];
const { privateKey } = crypto.generateKeyPairSync('rsa', { modulusLength: 2048 });
const signingJwk = { ...privateKey.export({ format: 'jwk' }), kid: 'devhost-1', use: 'sig', alg: 'RS256' };
const clientSecret = crypto.randomBytes(32).toString('base64url');

function buildProvider(issuer) {
  const resource = `${issuer}/api`;
  const configuration = {
    adapter: MemoryAdapter,
    // No interactive flows run here; the keys only quiet the provider's start-up warning.
    cookies: { keys: [crypto.randomBytes(32).toString('base64url')] },
    jwks: { keys: [signingJwk] },
    clients: [
      {
        client_id: options.client,
        token_endpoint_auth_method: 'none',
        grant_types: ['password', 'refresh_token'],
        response_types: [],
        redirect_uris: [],
      },
      {
        client_id: options['assertion-client'],
        client_secret: clientSecret,
        token_endpoint_auth_method: 'client_secret_jwt',
        grant_types: ['password', 'refresh_token'],
        response_types: [],
        redirect_uris: [],
      },
    ],
    scopes: SCOPES,
    claims: {
      openid: ['sub'],
      kiv: ['tag'],
      profile: ['preferred_username'],
      email: ['email', 'email_verified'],
      phone: ['phone_number'],
    },
    conformIdTokenClaims: false,
    routes: { token: '/token', revocation: '/token/revoke', jwks: '/jwks' },
    features: {
      devInteractions: { enabled: false },
      revocation: { enabled: true },
      // The provider's own userinfo route refuses JWT access tokens; /userinfo below serves
      // them instead and discovery names it.
      userinfo: { enabled: false },
      resourceIndicators: {
        enabled: true,
        defaultResource: () => resource,
        useGrantedResource: () => true,
        getResourceServerInfo: () => ({
          scope: SCOPES.join(' '),
          audience: resource,
          accessTokenTTL: state.accessTokenTtl,
          accessTokenFormat: 'jwt',
          jwt: { sign: { alg: 'RS256' } },
        }),
      },
    },
    extraTokenClaims: async (ctx, token) => {
      const account = accounts.get(token.accountId);
      if (!account) return undefined;
      return {
        scp: (token.scope || '').split(' ').filter(Boolean),
        dat: { r: platformByGrant.get(token.grantId) || '', u: account.accountNumber },
      };
    },
    findAccount: async (ctx, sub) => {
      const account = accounts.get(sub);
      if (!account) return undefined;
      return {
        accountId: sub,
        claims: async () => ({
          sub,
          tag: account.entitlements,
          preferred_username: account.username,
          email: `${account.username}@example.invalid`,
          email_verified: true,
          phone_number: '+10000000000',
        }),
      };
    },
    rotateRefreshToken: true,
    issueRefreshToken: async () => true,
    ttl: {
      RefreshToken: 30 * 24 * 3600,
      IdToken: 3600,
      Grant: 30 * 24 * 3600,
      AccessToken: () => state.accessTokenTtl,
    },
    discovery: {
      userinfo_endpoint: `${issuer}/userinfo`,
      vorn_kiv_regions_supported: list(options.regions),
      vorn_kiv_regions_disabled: list(options['regions-disabled']),
      vorn_kiv_userinfo_regions_enabled: list(options['userinfo-regions']),
      ...(options['did-uri'] ? { vorn_did_uri: options['did-uri'] } : {}),
    },
    clientBasedCORS: () => false,
    renderError: async (ctx, out) => {
      ctx.type = 'json';
      ctx.body = out;
    },
  };

  const provider = new Provider(issuer, configuration);

  // The password grant: the user name arrives as "platform|user".
  provider.registerGrantType('password', async (ctx, next) => {
    const { username = '', password = '' } = ctx.oidc.params;
    const bar = username.indexOf('|');
    const platform = bar >= 0 ? username.slice(0, bar) : '';
    const account = findByName(bar >= 0 ? username.slice(bar + 1) : username);
    if (!account || account.password !== password || !platform) {
      throw new errors.InvalidRequest('auth_failure');
    }
    const requested = (ctx.oidc.params.scope || 'openid').split(' ').filter(Boolean);
    const scope = requested.filter((s) => SCOPES.includes(s)).join(' ');
    const { client } = ctx.oidc;
    const {
      Grant, AccessToken, RefreshToken, IdToken, ResourceServer,
    } = ctx.oidc.provider;

    const grant = new Grant({ accountId: account.sub, clientId: client.clientId });
    grant.addOIDCScope(scope);
    grant.addOIDCClaims(['tag', 'preferred_username']);
    grant.addResourceScope(resource, scope);
    const grantId = await grant.save();
    platformByGrant.set(grantId, platform);

    const at = new AccessToken({
      accountId: account.sub, client, grantId, gty: 'password',
    });
    at.resourceServer = new ResourceServer(resource, configuration.features.resourceIndicators
      .getResourceServerInfo());
    at.scope = scope;
    const accessToken = await at.save();

    const rt = new RefreshToken({
      accountId: account.sub,
      client,
      grantId,
      gty: 'password',
      resource,
      rotations: 0,
      scope,
    });
    const refreshToken = await rt.save();

    const found = await configuration.findAccount(ctx, account.sub);
    const idToken = new IdToken({ ...(await found.claims()) }, { ctx });
    idToken.scope = scope;
    idToken.set('at_hash', accessToken);
    const idTokenValue = await idToken.issue({ use: 'idtoken' });

    ctx.body = {
      access_token: accessToken,
      expires_in: at.expiration,
      id_token: idTokenValue,
      refresh_token: refreshToken,
      scope,
      token_type: 'Bearer',
      ...(state.gas ? {
        gas_token: Buffer.from(JSON.stringify({
          sub: account.sub, platform, issued: Math.floor(Date.now() / 1000),
        })).toString('base64url'),
      } : {}),
    };
    await next();
  }, ['username', 'password', 'scope']);

  // Notes what the token routes saw once the provider has read the form.
  provider.use(async (ctx, next) => {
    await next();
    const record = ctx.req.devRecord;
    if (record && ctx.oidc?.params) {
      const p = ctx.oidc.params;
      record.grantType = p.grant_type;
      record.clientId = p.client_id || ctx.oidc.client?.clientId;
      record.clientAssertion = Boolean(p.client_assertion);
      record.username = p.username;
      record.tokenTypeHint = p.token_type_hint;
      // Tests check that the refresh tokens issued here never show up in the host's output.
      if (ctx.body && typeof ctx.body === 'object' && ctx.body.refresh_token) {
        record.issuedRefreshToken = ctx.body.refresh_token;
      }
    }
  });

  return { provider, resource };
}

// ---- User info for JWT access tokens ------------------------------------------------------

function verifyAccessToken(authorization) {
  const match = /^Bearer (.+)$/i.exec(authorization || '');
  if (!match) return undefined;
  const [header, payload, signature] = match[1].split('.');
  if (!signature) return undefined;
  const verifier = crypto.createVerify('RSA-SHA256');
  verifier.update(`${header}.${payload}`);
  if (!verifier.verify(privateKey, Buffer.from(signature, 'base64url'))) return undefined;
  const claims = JSON.parse(Buffer.from(payload, 'base64url').toString());
  if (typeof claims.exp !== 'number' || claims.exp * 1000 < Date.now()) return undefined;
  return claims;
}

async function userinfo(req, res) {
  const claims = verifyAccessToken(req.headers.authorization);
  const account = claims && accounts.get(claims.sub);
  if (!account) {
    res.writeHead(401, { 'content-type': 'application/json', 'www-authenticate': 'Bearer' });
    res.end(JSON.stringify({ error: 'invalid_token', error_description: 'invalid access token' }));
    return;
  }
  res.writeHead(200, { 'content-type': 'application/json' });
  res.end(JSON.stringify({
    sub: account.sub,
    preferred_username: account.username,
    email: `${account.username}@example.invalid`,
    email_verified: true,
    dat: { r: claims.dat?.r, u: account.accountNumber },
  }));
}

// ---- Control route (tests) ----------------------------------------------------------------

function readBody(req) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    req.on('data', (chunk) => chunks.push(chunk));
    req.on('end', () => resolve(Buffer.concat(chunks).toString()));
    req.on('error', reject);
  });
}

// The HS256 configuration token the plug-in takes as --ulix-auth.token: it names the client and
// the token URL and serves as the client assertion.
function configToken(issuer, clientId) {
  const header = Buffer.from(JSON.stringify({ alg: 'HS256', typ: 'JWT' })).toString('base64url');
  const now = Math.floor(Date.now() / 1000);
  const payload = Buffer.from(JSON.stringify({
    iss: clientId,
    sub: clientId,
    aud: `${issuer}/token`,
    jti: crypto.randomUUID(),
    iat: now,
    exp: now + 30 * 24 * 3600,
  })).toString('base64url');
  const signature = crypto.createHmac('sha256', clientSecret).update(`${header}.${payload}`)
    .digest('base64url');
  return `${header}.${payload}.${signature}`;
}

async function control(req, res, issuer) {
  const send = (status, value) => {
    res.writeHead(status, { 'content-type': 'application/json' });
    res.end(JSON.stringify(value));
  };
  const path = req.url.split('?')[0];
  let body = {};
  if (req.method === 'POST') {
    const text = await readBody(req);
    try {
      body = text ? JSON.parse(text) : {};
    } catch {
      send(400, { error: 'control bodies are JSON' });
      return;
    }
  }
  if (path === '/control/faults' && req.method === 'POST') {
    // {match: "/token", status, body, contentType, empty, nonJson, delayMs, drop, times}
    state.faults.push({ times: 1, ...body });
    send(200, { faults: state.faults.length });
  } else if (path === '/control/faults' && req.method === 'DELETE') {
    state.faults = [];
    send(200, { faults: 0 });
  } else if (path === '/control/requests' && req.method === 'GET') {
    send(200, state.requests);
  } else if (path === '/control/requests' && req.method === 'DELETE') {
    state.requests = [];
    send(200, {});
  } else if (path === '/control/settings' && req.method === 'POST') {
    if (body.accessTokenTtl !== undefined) state.accessTokenTtl = Number(body.accessTokenTtl);
    if (body.gas !== undefined) state.gas = Boolean(body.gas);
    send(200, { accessTokenTtl: state.accessTokenTtl, gas: state.gas });
  } else if (path === '/control/config-token' && req.method === 'POST') {
    send(200, { token: configToken(issuer, body.clientId || options['assertion-client']) });
  } else {
    send(404, { error: 'unknown control route' });
  }
}

// The first fault whose "match" is a prefix of the path, counted down by each use.
function takeFault(path) {
  const index = state.faults.findIndex((fault) => path.startsWith(fault.match || ''));
  if (index < 0) return undefined;
  const fault = state.faults[index];
  fault.times -= 1;
  if (fault.times <= 0) state.faults.splice(index, 1);
  return fault;
}

async function applyFault(fault, req, res) {
  if (fault.delayMs) await new Promise((resolve) => { setTimeout(resolve, fault.delayMs); });
  if (fault.drop) {
    req.socket.destroy();
    return true;
  }
  if (fault.status === undefined && !fault.empty && !fault.nonJson && fault.body === undefined) {
    return false; // a delay alone: the request goes on
  }
  const status = fault.status ?? 200;
  if (fault.empty) {
    res.writeHead(status, { 'content-length': '0' });
    res.end();
  } else if (fault.nonJson) {
    res.writeHead(status, { 'content-type': 'text/html' });
    res.end('<html><body>Service unavailable</body></html>');
  } else {
    const text = typeof fault.body === 'string' ? fault.body : JSON.stringify(fault.body ?? {});
    res.writeHead(status, { 'content-type': fault.contentType || 'application/json' });
    if (fault.trickleMs) {
      // A byte at a time, until the body is out or the client has gone.
      for (const byte of Buffer.from(text)) {
        if (res.destroyed) return true;
        res.write(Buffer.from([byte]));
        await new Promise((resolve) => { setTimeout(resolve, fault.trickleMs); });
      }
    }
    res.end(fault.trickleMs ? undefined : text);
  }
  return true;
}

// ---- Server ---------------------------------------------------------------------------------

const server = http.createServer();
server.listen(Number(options.port), '127.0.0.1', () => {
  const { port } = server.address();
  const issuer = `http://127.0.0.1:${port}`;
  const { provider } = buildProvider(issuer);
  const callback = provider.callback();

  server.on('request', async (req, res) => {
    try {
      const path = req.url.split('?')[0];
      if (path.startsWith('/control/')) {
        await control(req, res, issuer);
        return;
      }
      const record = {
        time: Date.now(),
        method: req.method,
        path,
        userAgent: req.headers['user-agent'],
        dsid: req.headers['x-vorn-dsid'],
      };
      state.requests.push(record);
      if (state.requests.length > 1000) state.requests.shift();
      req.devRecord = record;
      const started = process.hrtime.bigint();
      res.on('finish', () => {
        record.status = res.statusCode;
        // Time spent inside this service, for splitting a sign-on's time between the parts.
        record.durationMs = Number(process.hrtime.bigint() - started) / 1e6;
      });
      const fault = takeFault(path);
      if (fault) {
        record.fault = true;
        if (await applyFault(fault, req, res)) return;
      }
      if (path === '/userinfo' && req.method === 'GET') {
        await userinfo(req, res);
        return;
      }
      callback(req, res);
    } catch (error) {
      if (!res.headersSent) {
        res.writeHead(500, { 'content-type': 'application/json' });
        res.end(JSON.stringify({ error: 'server_error', error_description: String(error) }));
      }
    }
  });
  console.log(`IDP: ${issuer}`);
  console.log(`Token URL: ${issuer}/token  client: ${options.client}  player: ${options.user}`);
});

function stop() {
  server.close();
  server.closeAllConnections();
  process.exit(0);
}
process.on('SIGINT', stop);
process.on('SIGTERM', stop);
