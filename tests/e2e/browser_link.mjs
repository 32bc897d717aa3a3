#!/usr/bin/env node
// Plays the person at the browser during a ZaPum browser sign-in: opens the link page the app
// produced in headless Chromium, presses "Link this desktop", and prints the zapum:// URL the page
// sends the browser to (a headless browser cannot hand it to the app itself).
//
//   node tests/e2e/browser_link.mjs LINK_URL [--timeout SECONDS] [--chromium PATH] [--deliver COMMAND...]
//
// With --deliver, the captured URL is also passed as the last argument to COMMAND (for example
// `--deliver build/src/zapum`, which forwards it to the running app), and the script exits with
// that command's status. Exit status 0 when a zapum:// URL was captured (and delivered), 1
// otherwise, with the reason on stderr. Chromium talks to us over --remote-debugging-pipe, so no
// port is opened and nothing beyond Node itself is needed.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const BUTTON_TEXT = 'Link this desktop';

function usage(message) {
  if (message) console.error(`browser_link: ${message}`);
  console.error('usage: browser_link.mjs LINK_URL [--timeout SECONDS] [--chromium PATH] [--deliver COMMAND...]');
  process.exit(2);
}

function parseArguments(argv) {
  const options = { timeoutMs: 30000, chromium: process.env.CHROMIUM || '/usr/bin/chromium', deliver: null };
  const rest = [...argv];
  while (rest.length) {
    const argument = rest.shift();
    if (argument === '--timeout') {
      const seconds = Number(rest.shift());
      if (!(seconds > 0)) usage('--timeout needs a number of seconds');
      options.timeoutMs = seconds * 1000;
    } else if (argument === '--chromium') {
      options.chromium = rest.shift() || usage('--chromium needs a path');
    } else if (argument === '--deliver') {
      if (!rest.length) usage('--deliver needs a command');
      options.deliver = rest.splice(0);
    } else if (!options.url && !argument.startsWith('--')) {
      options.url = argument;
    } else {
      usage(`unexpected argument ${argument}`);
    }
  }
  if (!options.url) usage('no link URL given');
  return options;
}

// A DevTools session over the pipe: NUL-separated JSON messages on fds 3 (to Chromium) and 4 (from it).
class DevTools {
  constructor(input, output) {
    this.input = input;
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = [];
    let buffer = '';
    output.setEncoding('utf8');
    output.on('data', (chunk) => {
      buffer += chunk;
      let end;
      while ((end = buffer.indexOf('\0')) >= 0) {
        const message = JSON.parse(buffer.slice(0, end));
        buffer = buffer.slice(end + 1);
        this.dispatch(message);
      }
    });
  }

  dispatch(message) {
    if (message.id !== undefined && this.pending.has(message.id)) {
      const { resolve, reject } = this.pending.get(message.id);
      this.pending.delete(message.id);
      if (message.error) reject(new Error(`${message.error.message} (${message.error.code})`));
      else resolve(message.result);
      return;
    }
    for (const listener of this.listeners) listener(message);
  }

  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      this.input.write(JSON.stringify(message) + '\0');
    });
  }

  // Resolves with the first event of that name (in that session) for which `test` holds.
  waitFor(method, sessionId, test = () => true) {
    return new Promise((resolve) => {
      const listener = (message) => {
        if (message.method === method && message.sessionId === sessionId && test(message.params)) {
          this.listeners.splice(this.listeners.indexOf(listener), 1);
          resolve(message.params);
        }
      };
      this.listeners.push(listener);
    });
  }

  on(listener) {
    this.listeners.push(listener);
  }
}

function withTimeout(promise, ms, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out after ${ms / 1000} s ${what}`)), ms);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// The zapum: URL the page sent the browser to, however Chromium reports it: as the target of a
// redirect, as a request, or as a navigation the renderer asked for.
function appUrlOf(message) {
  const params = message.params || {};
  const candidates = [params.request?.url, params.url, params.frame?.url];
  return candidates.find((url) => typeof url === 'string' && /^zapum:/i.test(url));
}

async function linkDesktop(devtools, url) {
  const { targetId } = await devtools.send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await devtools.send('Target.attachToTarget', { targetId, flatten: true });
  const captured = new Promise((resolve) => {
    devtools.on((message) => {
      const appUrl = message.sessionId === sessionId ? appUrlOf(message) : undefined;
      if (appUrl) resolve(appUrl);
    });
  });
  await devtools.send('Page.enable', {}, sessionId);
  await devtools.send('Network.enable', {}, sessionId);

  const loaded = devtools.waitFor('Page.loadEventFired', sessionId);
  const navigation = await devtools.send('Page.navigate', { url }, sessionId);
  if (navigation.errorText) throw new Error(`cannot open ${url}: ${navigation.errorText}`);
  await loaded;

  // Where the button is, so it can be pressed with the mouse like a person would.
  const { result } = await devtools.send('Runtime.evaluate', {
    expression: `(() => {
      const button = [...document.querySelectorAll('button')]
        .find((b) => b.textContent.trim() === ${JSON.stringify(BUTTON_TEXT)});
      if (!button) return { missing: document.body ? document.body.innerText.slice(0, 300) : '' };
      button.scrollIntoView();
      const r = button.getBoundingClientRect();
      return { x: r.left + r.width / 2, y: r.top + r.height / 2 };
    })()`,
    returnByValue: true,
  }, sessionId);
  const where = result.value;
  if (!where || where.missing !== undefined)
    throw new Error(`the page has no "${BUTTON_TEXT}" button; it says: ${where?.missing ?? '(nothing)'}`);
  // A refusal from the server ends in an error page rather than a zapum: URL: report its words.
  const refused = devtools.waitFor('Network.responseReceived', sessionId,
    (params) => params.type === 'Document' && params.response.status >= 400)
    .then(async (params) => {
      await devtools.waitFor('Page.loadEventFired', sessionId);
      const page = await devtools.send('Runtime.evaluate',
        { expression: 'document.body ? document.body.innerText : ""', returnByValue: true }, sessionId);
      throw new Error(`the server answered HTTP ${params.response.status}: ${String(page.result.value).trim()}`);
    });
  for (const type of ['mouseMoved', 'mousePressed', 'mouseReleased']) {
    await devtools.send('Input.dispatchMouseEvent',
      { type, x: where.x, y: where.y, button: 'left', buttons: type === 'mousePressed' ? 1 : 0, clickCount: 1 },
      sessionId);
  }
  return Promise.race([captured, refused]);
}

function deliver(command, appUrl) {
  return new Promise((resolve) => {
    const child = spawn(command[0], [...command.slice(1), appUrl], { stdio: 'inherit' });
    child.on('error', (error) => {
      console.error(`browser_link: cannot run ${command[0]}: ${error.message}`);
      resolve(1);
    });
    child.on('exit', (code) => resolve(code ?? 1));
  });
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  const profile = mkdtempSync(join(tmpdir(), 'zapum-browser-'));
  const chromium = spawn(options.chromium, [
    '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--disable-default-apps', '--no-default-browser-check', `--user-data-dir=${profile}`,
    '--remote-debugging-pipe', 'about:blank',
  ], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
  let chromiumLog = '';
  chromium.stderr.on('data', (chunk) => { chromiumLog = (chromiumLog + chunk).slice(-4000); });
  const started = new Promise((_, reject) => {
    chromium.on('error', (error) => reject(new Error(`cannot start ${options.chromium}: ${error.message}`)));
    chromium.on('exit', (code) => reject(new Error(`chromium exited (${code}) early:\n${chromiumLog}`)));
  });

  let status = 1;
  try {
    const devtools = new DevTools(chromium.stdio[3], chromium.stdio[4]);
    const appUrl = await withTimeout(Promise.race([linkDesktop(devtools, options.url), started]),
      options.timeoutMs, 'waiting for the page to send the browser to a zapum: URL');
    console.log(appUrl);
    status = options.deliver ? await deliver(options.deliver, appUrl) : 0;
  } catch (error) {
    console.error(`browser_link: ${error.message}`);
  } finally {
    chromium.removeAllListeners('exit');
    chromium.kill('SIGTERM');
    await new Promise((resolve) => {
      if (chromium.exitCode !== null || chromium.signalCode !== null) resolve();
      else chromium.once('exit', resolve);
    });
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
