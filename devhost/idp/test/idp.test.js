// The local sign-on service answers what the plug-in sends: discovery, the password grant,
// refresh with rotation, revocation, user info, client assertions, and the control route.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';

import { claims, post, startIdp } from './start.js';

const SCOPE = 'openid offline_access kiv ban profile email phone';

describe('sign-on service', () => {
  let idp;
  const control = (route, init) => fetch(`${idp.url}/control/${route}`, init);
  const json = (value) => ({
    method: 'POST', headers: { 'content-type': 'application/json' }, body: JSON.stringify(value),
  });
  const signOn = (extra = {}) => post(`${idp.url}/token`, {
    grant_type: 'password', client_id: 'devhost', username: 'EU|demo', password: 'demo-password',
    scope: SCOPE, ...extra,
  });

  before(async () => { idp = await startIdp(['--did-uri', 'https://did.example.invalid/frame', '--gas']); });
  after(async () => { await idp.stop(); });

  test('discovery names the userinfo route and the region members', async () => {
    const document = await (await fetch(`${idp.url}/.well-known/openid-configuration`)).json();
    assert.equal(document.userinfo_endpoint, `${idp.url}/userinfo`);
    assert.deepEqual(document.vorn_kiv_regions_supported, ['EU', 'NA', 'DEV']);
    assert.deepEqual(document.vorn_kiv_regions_disabled, []);
    assert.deepEqual(document.vorn_kiv_userinfo_regions_enabled, ['EU', 'NA', 'DEV']);
    assert.equal(document.vorn_did_uri, 'https://did.example.invalid/frame');
  });

  test('the password grant gives JWT tokens with the claims the plug-in reads', async () => {
    const { status, json: body } = await signOn();
    assert.equal(status, 200);
    const access = claims(body.access_token);
    assert.deepEqual(access.scp, SCOPE.split(' '));
    assert.deepEqual(access.dat, { r: 'EU', u: 1000001 });
    assert.equal(typeof access.exp, 'number');
    assert.match(access.sub, /^[0-9a-f]{32}$/);
    const id = claims(body.id_token);
    assert.deepEqual(id.tag, ['game_access', 'beta']);
    assert.equal(typeof id.exp, 'number');
    assert.ok(body.refresh_token);
    assert.equal(JSON.parse(Buffer.from(body.gas_token, 'base64url')).platform, 'EU');
  });

  test('wrong credentials and missing platforms are refused as auth_failure', async () => {
    for (const username of ['EU|demo', 'demo', 'EU|nobody']) {
      const password = username === 'EU|demo' ? 'wrong' : 'demo-password';
      const { status, json: body } = await signOn({ username, password });
      assert.equal(status, 400, username);
      assert.deepEqual(body, { error: 'invalid_request', error_description: 'auth_failure' });
    }
  });

  test('refresh rotates the refresh token and the old one stops working', async () => {
    const first = (await signOn()).json;
    const refreshed = await post(`${idp.url}/token`, {
      grant_type: 'refresh_token', client_id: 'devhost', refresh_token: first.refresh_token,
    });
    assert.equal(refreshed.status, 200);
    assert.notEqual(refreshed.json.refresh_token, first.refresh_token);
    assert.equal(claims(refreshed.json.access_token).dat.r, 'EU');
    const again = await post(`${idp.url}/token`, {
      grant_type: 'refresh_token', client_id: 'devhost', refresh_token: first.refresh_token,
    });
    assert.equal(again.status, 400);
    assert.equal(again.json.error, 'invalid_grant');
  });

  test('a revoked refresh token no longer refreshes', async () => {
    const tokens = (await signOn()).json;
    const revoked = await post(`${idp.url}/token/revoke`, {
      client_id: 'devhost', token: tokens.refresh_token, token_type_hint: 'refresh_token',
    });
    assert.equal(revoked.status, 200);
    const refreshed = await post(`${idp.url}/token`, {
      grant_type: 'refresh_token', client_id: 'devhost', refresh_token: tokens.refresh_token,
    });
    assert.equal(refreshed.json.error, 'invalid_grant');
  });

  test('user info accepts the JWT access token and nothing else', async () => {
    const tokens = (await signOn()).json;
    const good = await fetch(`${idp.url}/userinfo`, {
      headers: { authorization: `Bearer ${tokens.access_token}` },
    });
    assert.equal(good.status, 200);
    assert.equal((await good.json()).preferred_username, 'demo');
    const tampered = `${tokens.access_token.slice(0, -4)}AAAA`;
    for (const header of [undefined, `Bearer ${tampered}`]) {
      const bad = await fetch(`${idp.url}/userinfo`, { headers: header ? { authorization: header } : {} });
      assert.equal(bad.status, 401);
    }
  });

  test('a configuration token serves as a reusable client assertion', async () => {
    const { token } = await (await control('config-token', json({}))).json();
    const assertion = {
      client_assertion_type: 'urn:ietf:params:oauth:client-assertion-type:jwt-bearer',
      client_assertion: token,
    };
    const body = claims(token);
    assert.equal(body.aud, `${idp.url}/token`);
    assert.equal(body.sub, 'devhost-confidential');
    for (let round = 0; round < 2; round += 1) {
      const { status } = await post(`${idp.url}/token`, {
        ...assertion, grant_type: 'password', username: 'EU|demo', password: 'demo-password', scope: SCOPE,
      });
      assert.equal(status, 200, `round ${round}`);
    }
  });

  test('faults answer in place of the service, once each, and requests are reported', async () => {
    await control('requests', { method: 'DELETE' });
    const faults = [
      [{ match: '/token', status: 503, body: { error: 'temporarily_unavailable' } }, 503, '{"error":"temporarily_unavailable"}'],
      [{ match: '/token', status: 502, empty: true }, 502, ''],
      [{ match: '/token', status: 200, nonJson: true }, 200, '<html><body>Service unavailable</body></html>'],
    ];
    for (const [fault, status, text] of faults) {
      await control('faults', json(fault));
      const answer = await signOn();
      assert.equal(answer.status, status, JSON.stringify(fault));
      assert.equal(answer.text, text);
    }
    assert.equal((await signOn()).status, 200);

    await control('faults', json({ match: '/token', drop: true }));
    await assert.rejects(signOn());

    const seen = await (await control('requests')).json();
    assert.deepEqual(seen.map((r) => r.path), Array(5).fill('/token'));
    assert.deepEqual(seen.map((r) => Boolean(r.fault)), [true, true, true, false, true]);
    assert.equal(seen[3].grantType, 'password');
    assert.equal(seen[3].username, 'EU|demo');
    assert.ok(!JSON.stringify(seen).includes('demo-password'));
  });

  test('a short access-token lifetime set through the control route applies to new tokens', async () => {
    await control('settings', json({ accessTokenTtl: 40 }));
    const { json: body } = await signOn();
    assert.equal(body.expires_in, 40);
    await control('settings', json({ accessTokenTtl: 3600 }));
  });
});
