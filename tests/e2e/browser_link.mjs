#!/usr/bin/env node
// Plays the person at the browser during a ZaPum browser sign-in: opens the link page the app
// produced in headless Chromium, presses "Link this desktop" with the mouse, and prints the
// zapum:// URL the page sends the browser to (a headless browser cannot hand it to the app).
//
//   node tests/e2e/browser_link.mjs LINK_URL
//
// Exit status 0 when a zapum:// URL was printed, 1 otherwise with the reason on stderr. Chromium
// ($CHROMIUM, else /usr/bin/chromium) is driven over --remote-debugging-pipe: no port is opened.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const BUTTON_TEXT = 'Link this desktop';
const TIMEOUT_MS = 45000;

// A DevTools session over the pipe: NUL-separated JSON messages on fds 3 (to Chromium) and 4 (from it).
function devTools(input, output) {
  let nextId = 1;
  let buffer = '';
  const pending = new Map();
  const listeners = new Set();
  output.setEncoding('utf8');
  output.on('data', (chunk) => {
    buffer += chunk;
    for (let end; (end = buffer.indexOf('\0')) >= 0; buffer = buffer.slice(end + 1)) {
      const message = JSON.parse(buffer.slice(0, end));
      const waiting = pending.get(message.id);
      pending.delete(message.id);
      if (waiting) waiting(message);
      else for (const listener of [...listeners]) listener(message);
    }
  });
  return {
    send(method, params = {}, sessionId = undefined) {
      const id = nextId++;
      input.write(JSON.stringify({ id, method, params, sessionId }) + '\0');
      return new Promise((resolve, reject) => pending.set(id, (message) => (message.error
        ? reject(new Error(`${method}: ${message.error.message}`)) : resolve(message.result))));
    },
    // Resolves with the first message for which `test` gives a value.
    when(test) {
      return new Promise((resolve) => {
        const listener = (message) => {
          const value = test(message);
          if (value !== undefined) { listeners.delete(listener); resolve(value); }
        };
        listeners.add(listener);
      });
    },
  };
}

async function linkDesktop(devtools, url) {
  const { targetId } = await devtools.send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await devtools.send('Target.attachToTarget', { targetId, flatten: true });
  const ours = (message) => message.sessionId === sessionId;
  // The zapum: URL, however Chromium reports it: as a redirect's target, a request or a navigation.
  const captured = devtools.when((message) => {
    const params = message.params || {};
    return ours(message) ? [params.request?.url, params.url, params.frame?.url]
      .find((candidate) => typeof candidate === 'string' && /^zapum:/i.test(candidate)) : undefined;
  });
  await devtools.send('Page.enable', {}, sessionId);
  await devtools.send('Network.enable', {}, sessionId);
  const loaded = devtools.when((message) => (ours(message) && message.method === 'Page.loadEventFired') || undefined);
  const navigation = await devtools.send('Page.navigate', { url }, sessionId);
  if (navigation.errorText) throw new Error(`cannot open ${url}: ${navigation.errorText}`);
  await loaded;

  const text = async () => (await devtools.send('Runtime.evaluate',
    { expression: 'document.body ? document.body.innerText : ""', returnByValue: true }, sessionId)).result.value;
  const { result } = await devtools.send('Runtime.evaluate', {
    expression: `(() => {
      const button = [...document.querySelectorAll('button')].find((b) => b.textContent.trim() === ${JSON.stringify(BUTTON_TEXT)});
      if (!button) return null;
      button.scrollIntoView();
      const r = button.getBoundingClientRect();
      return { x: r.left + r.width / 2, y: r.top + r.height / 2 };
    })()`,
    returnByValue: true,
  }, sessionId);
  const where = result.value;
  if (!where) throw new Error(`the page has no "${BUTTON_TEXT}" button; it says: ${(await text()).slice(0, 300)}`);
  // A refusal from the server ends in an error page rather than a zapum: URL: report its words.
  const refused = devtools.when((message) => (ours(message) && message.method === 'Network.responseReceived'
    && message.params.type === 'Document' && message.params.response.status >= 400) ? message.params.response.status : undefined)
    .then(async (status) => {
      await devtools.when((message) => (ours(message) && message.method === 'Page.loadEventFired') || undefined);
      throw new Error(`the server answered HTTP ${status}: ${(await text()).trim()}`);
    });
  for (const type of ['mouseMoved', 'mousePressed', 'mouseReleased']) {
    await devtools.send('Input.dispatchMouseEvent',
      { type, x: where.x, y: where.y, button: 'left', buttons: type === 'mousePressed' ? 1 : 0, clickCount: 1 }, sessionId);
  }
  return Promise.race([captured, refused]);
}

async function main() {
  const url = process.argv[2];
  const program = process.env.CHROMIUM || '/usr/bin/chromium';
  const profile = mkdtempSync(join(tmpdir(), 'zapum-browser-'));
  const chromium = spawn(program, [
    '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--disable-default-apps', '--no-default-browser-check', `--user-data-dir=${profile}`,
    '--remote-debugging-pipe', 'about:blank',
  ], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
  let chromiumLog = '';
  chromium.stderr.on('data', (chunk) => { chromiumLog = (chromiumLog + chunk).slice(-4000); });
  const failed = new Promise((_, reject) => {
    chromium.on('error', (error) => reject(new Error(`cannot start ${program}: ${error.message}`)));
    chromium.on('exit', (code) => reject(new Error(`chromium exited (${code}) early:\n${chromiumLog}`)));
    setTimeout(() => reject(new Error(`no zapum: URL within ${TIMEOUT_MS / 1000} s`)), TIMEOUT_MS).unref();
  });

  let status = 1;
  try {
    console.log(await Promise.race([linkDesktop(devTools(chromium.stdio[3], chromium.stdio[4]), url), failed]));
    status = 0;
  } catch (error) {
    console.error(`browser_link: ${error.message}`);
  } finally {
    chromium.removeAllListeners('exit');
    chromium.kill('SIGTERM');
    if (chromium.exitCode === null && chromium.signalCode === null) await new Promise((resolve) => chromium.once('exit', resolve));
    // Chromium's helper processes may still be writing the profile for a moment after the main
    // process has gone; a leftover scratch folder must not turn a good run into a failure.
    try {
      rmSync(profile, { recursive: true, force: true, maxRetries: 20, retryDelay: 100 });
    } catch (error) {
      console.error(`browser_link: could not remove ${profile}: ${error.message}`);
    }
  }
  process.exit(status);
}

main();
