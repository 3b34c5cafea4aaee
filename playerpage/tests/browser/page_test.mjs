// The player's page in a real browser: Debian's chromium, headless, driven
// through the DevTools protocol by playwright-core (installed by
// tools/prepare.sh, never by this test). It starts real blinkwerk-players
// on register files and walks the page as a user would, by the controls'
// accessible names; it saves screenshots at 360 px and 1280 px.
//
// Environment: BLINKWERK_PLAYER (the program), BLINKWERK_SCREENSHOTS (where
// the pictures go), BLINKWERK_NODE_DEPS (the npm packages; the default is
// prepare.sh's), BLINKWERK_CHROMIUM (/usr/bin/chromium by default).

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

const playerProgram = process.env.BLINKWERK_PLAYER || '';
const chromiumProgram = process.env.BLINKWERK_CHROMIUM || '/usr/bin/chromium';
const deps = process.env.BLINKWERK_NODE_DEPS
  || path.join(process.env.XDG_CACHE_HOME || path.join(os.homedir(), '.cache'), 'blinkwerk', 'browser-test');
const shots = process.env.BLINKWERK_SCREENSHOTS || path.join(os.tmpdir(), 'blinkwerk-page-screenshots');
const Wait = 20000;

// --- what the test needs, said at once when it is not there -------------
const missing = [];
if (!playerProgram || !fs.existsSync(playerProgram))
  missing.push(`blinkwerk-player (BLINKWERK_PLAYER="${playerProgram}"): build it first`);
if (!fs.existsSync(chromiumProgram))
  missing.push(`${chromiumProgram}: the Debian package chromium (tools/prepare.sh installs it)`);
if (!fs.existsSync(path.join(deps, 'node_modules', 'playwright-core')))
  missing.push(`playwright-core in ${deps}/node_modules: tools/prepare.sh installs it with npm ci`);
if (missing.length > 0) {
  for (const what of missing)
    console.error(`missing: ${what}`);
  process.exit(1);
}
const { chromium } = createRequire(path.join(deps, 'package.json'))('playwright-core');

// --- helpers ---------------------------------------------------------------
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

function check(condition, what) {
  if (!condition)
    throw new Error(what);
}

async function until(what, test, timeout = Wait) {
  const end = Date.now() + timeout;
  for (;;) {
    const value = await test();
    if (value)
      return value;
    if (Date.now() > end)
      throw new Error(`not within ${timeout / 1000} s: ${what}`);
    await sleep(25);
  }
}

function freePort() {
  return new Promise((done, failed) => {
    const server = net.createServer();
    server.on('error', failed);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => done(port));
    });
  });
}

// Channel k + 1 on in step k + 1 (and k + 9): a running light, 100 ms a step.
function runningLight() {
  const cells = Array(160).fill('0');
  for (let step = 0; step < 20; ++step)
    cells[(step % 8) * 20 + step] = '1';
  return `${cells.join('')}|20|1|2\r\n`;
}

const players = [];
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'blinkwerk-page-'));

// A real player on a register file of its own; resolves once its page is up.
async function startPlayer(name, extraConfig = '') {
  const dir = path.join(scratch, name);
  fs.mkdirSync(path.join(dir, 'pat'), { recursive: true });
  fs.writeFileSync(path.join(dir, 'pat', 'lauf.bw2'), runningLight());
  const port = await freePort();
  const config = path.join(dir, 'player.conf');
  fs.writeFileSync(config, [
    `output = register:${path.join(dir, 'reg')}`,
    `patterns = ${path.join(dir, 'pat')}`,
    'pattern = lauf.bw2',
    `listen = 127.0.0.1:${port}`,
    extraConfig,
  ].join('\n'));
  const child = spawn(playerProgram, ['--config', config], { stdio: ['ignore', 'ignore', 'pipe'] });
  const player = { dir, port, url: `http://127.0.0.1:${port}/`, child, err: '', exited: false };
  child.stderr.on('data', (data) => { player.err += data; });
  child.on('exit', () => { player.exited = true; });
  players.push(player);
  await until(`${name} says where its page is (${player.err})`, () => player.exited || player.err.includes('Player: page at'));
  check(!player.exited, `${name} ended: ${player.err}`);
  return player;
}

function register(player) {
  const byte = fs.readFileSync(path.join(player.dir, 'reg'));
  return byte.length === 1 ? byte[0] : -1;
}

async function lampNames(page) {
  return page.locator('#lamps [role="img"]').evaluateAll((lamps) => lamps.map((lamp) => lamp.getAttribute('aria-label')));
}

async function gridOf(page) {
  return page.locator('#grid input').evaluateAll((boxes) => boxes.map((box) => (box.indeterminate ? 2 : box.checked ? 1 : 0)));
}

async function stateOf(page, player) {
  const answer = await page.request.get(`${player.url}api/state`);
  check(answer.ok(), `GET /api/state: ${answer.status()}`);
  return answer.json();
}

// --- the walk ----------------------------------------------------------------
const results = [];
async function step(name, run) {
  try {
    await run();
    results.push(true);
    console.log(`ok ${results.length} - ${name}`);
  } catch (failure) {
    results.push(false);
    console.log(`not ok ${results.length} - ${name}\n  ${String(failure.stack || failure).split('\n').join('\n  ')}`);
    throw failure;
  }
}

let browser = null;
// Ends the browser and the players, also when the walk hangs: well before
// CTest's timeout, which would leave them running.
async function cleanUp() {
  if (browser)
    await browser.close().catch(() => {});
  for (const player of players) {
    if (!player.exited) {
      player.child.kill('SIGTERM');
      await until('the player ends', () => player.exited, 10000).catch(() => player.child.kill('SIGKILL'));
    }
  }
  fs.rmSync(scratch, { recursive: true, force: true });
}
const watchdog = setTimeout(async () => {
  console.log('not ok - the walk did not end within 300 s');
  await cleanUp();
  process.exit(1);
}, 300000);

try {
  const box = await startPlayer('open');
  browser = await chromium.launch({
    executablePath: chromiumProgram,
    headless: true,
    // A fresh profile comes with every launch; nothing leaves this machine.
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const first = await browser.newContext({ viewport: { width: 1280, height: 900 }, locale: 'de-DE' });
  const page = await first.newPage();
  page.setDefaultTimeout(Wait);

  await step('open the page: it connects and shows the pattern', async () => {
    await page.goto(box.url);
    await page.locator('#link', { hasText: 'Verbunden.' }).waitFor();
    await page.getByText('Muster: lauf.bw2').waitFor();
    check(await page.getByRole('button', { name: 'Start', exact: true }).isDisabled(), 'Start is disabled while playing');
  });

  await step('the lamps follow the steps: each one\'s name turns to "an" and back to "aus"', async () => {
    for (let k = 1; k <= 8; ++k) {
      await page.getByRole('img', { name: `Lampe ${k}: an`, exact: true }).waitFor();
      await page.getByRole('img', { name: `Lampe ${k}: aus`, exact: true }).waitFor();
    }
  });

  await step('toggle a cell: the box, the state and the register\'s bytes show it', async () => {
    const cell = page.getByRole('checkbox', { name: 'Kanal 1, Schritt 2', exact: true });
    check(!(await cell.isChecked()), 'the cell starts off');
    await cell.click();
    await until('the box is checked', () => cell.isChecked());
    const state = await stateOf(page, box);
    check(state.cells[0][1] === 1, 'the state has channel 1, step 2 on');
    // Step 2 now switches channels 1 and 2.
    await until('the register holds 3 at step 2', () => register(box) === 3);
  });

  await step('save under a new name: it appears in the list and in the folder', async () => {
    await page.getByLabel('Dateiname:').fill('neu');
    await page.getByRole('button', { name: 'Speichern', exact: true }).click();
    await page.getByRole('radio', { name: 'neu.bw2', exact: true }).waitFor();
    check(fs.existsSync(path.join(box.dir, 'pat', 'neu.bw2')), 'neu.bw2 is in the folder');
    check((await page.getByLabel('Dateiname:').inputValue()) === '', 'the name field is cleared');
  });

  await step('stop: the lamps stay as the player says', async () => {
    await page.getByRole('button', { name: 'Stop', exact: true }).click();
    await page.getByText('Angehalten').waitFor();
    const state = await stateOf(page, box);
    check(!state.running, 'the player stopped');
    const said = Array.from({ length: 8 }, (_, i) => `Lampe ${i + 1}: ${state.lamps >> i & 1 ? 'an' : 'aus'}`);
    await until('the lamps show the state\'s byte', async () => JSON.stringify(await lampNames(page)) === JSON.stringify(said));
    await sleep(500); // steps would have come by now
    check(JSON.stringify(await lampNames(page)) === JSON.stringify(said), 'the lamps stayed');
    check(register(box) === state.lamps, `the register holds ${state.lamps}`);
  });

  await step('start: the lamps follow the steps again', async () => {
    await page.getByRole('button', { name: 'Start', exact: true }).click();
    await page.getByRole('img', { name: 'Lampe 5: an', exact: true }).waitFor();
    check((await stateOf(page, box)).running, 'the player plays');
  });

  await step('two browsers change cells at once and both end in the player\'s state', async () => {
    const second = await browser.newContext({ viewport: { width: 1280, height: 900 } });
    const other = await second.newPage();
    other.setDefaultTimeout(Wait);
    await other.goto(box.url);
    await other.locator('#link', { hasText: 'Verbunden.' }).waitFor();
    // One click at a time in each page (a page has one mouse), both pages at once.
    await Promise.all([
      page.getByRole('checkbox', { name: 'Kanal 3, Schritt 1', exact: true }).click(),
      (async () => {
        await other.getByRole('checkbox', { name: 'Kanal 4, Schritt 1', exact: true }).click();
        await other.getByRole('checkbox', { name: 'Kanal 1, Schritt 2', exact: true }).click();
      })(),
    ]);
    // A click answers once it is sent; the player has it a moment later.
    const wanted = await until('both browsers\' clicks reached the player', async () => {
      const cells = (await stateOf(page, box)).cells.flat();
      return cells[2 * 20] === 1 && cells[3 * 20] === 1 && cells[1] === 0 ? cells : null;
    });
    await until('both pages show the player\'s grid', async () =>
      JSON.stringify(await gridOf(page)) === JSON.stringify(wanted)
      && JSON.stringify(await gridOf(other)) === JSON.stringify(wanted));
    await second.close();
  });

  await step('at 360 x 740 nothing is cut off and the controls are thumb-sized', async () => {
    await page.setViewportSize({ width: 360, height: 740 });
    await sleep(200);
    const layout = await page.evaluate(() => {
      const width = window.innerWidth;
      const box = document.getElementById('gridBox').getBoundingClientRect();
      const out = [];
      for (const control of document.querySelectorAll('button, select, input, [role="img"], h1, h2, label, p')) {
        if (control.closest('[hidden]'))
          continue;
        const rect = control.getBoundingClientRect();
        const inGrid = control.closest('#gridBox') !== null;
        // Inside the grid's box: within what the box scrolls through.
        const left = inGrid ? box.left - document.getElementById('gridBox').scrollLeft : 0;
        const right = inGrid ? left + document.getElementById('gridBox').scrollWidth : width;
        if (rect.left < left - 0.5 || rect.right > right + 0.5)
          out.push(`${control.tagName} ${control.getAttribute('aria-label') || control.textContent.trim().slice(0, 30)}`);
      }
      const small = [...document.querySelectorAll('button, select, input[type="text"]')]
        .filter((control) => control.getBoundingClientRect().height < 44)
        .map((control) => control.id);
      return {
        scrollWidth: document.documentElement.scrollWidth, width, out, small,
        boxInside: box.left >= 0 && box.right <= width,
      };
    });
    check(layout.scrollWidth <= layout.width, `the page is ${layout.scrollWidth} px wide at ${layout.width} px`);
    check(layout.boxInside, 'the grid\'s box fits the screen');
    check(layout.out.length === 0, `cut off: ${layout.out.join(', ')}`);
    check(layout.small.length === 0, `under 44 px high: ${layout.small.join(', ')}`);
    fs.mkdirSync(shots, { recursive: true });
    const narrow = path.join(shots, 'page-360.png');
    await page.screenshot({ path: narrow, fullPage: true });
    await page.setViewportSize({ width: 1280, height: 900 });
    await sleep(200);
    const wide = path.join(shots, 'page-1280.png');
    await page.screenshot({ path: wide, fullPage: true });
    console.log(`  screenshots: ${narrow}\n               ${wide}`);
  });

  await step('a wrong password is refused, the right one opens the page', async () => {
    const guarded = await startPlayer('guarded', 'password = geheim-42');
    const third = await browser.newContext({ viewport: { width: 360, height: 740 } });
    const login = await third.newPage();
    login.setDefaultTimeout(Wait);
    await login.goto(guarded.url);
    await login.getByText('Die Verbindung ist nicht verschlüsselt').waitFor();
    const shot = path.join(shots, 'login-360.png');
    await login.screenshot({ path: shot, fullPage: true });
    console.log(`  screenshot:  ${shot}`);
    await login.getByLabel('Passwort:').fill('falsch');
    await login.getByRole('button', { name: 'Anmelden', exact: true }).click();
    await login.getByText('Falsches Passwort.').waitFor();
    check((await login.request.get(`${guarded.url}api/state`)).status() === 401, 'the state stays locked');
    check(await login.getByRole('button', { name: 'Start', exact: true }).count() === 0, 'no controls without the password');
    // The right one, once the wrong one's delay is over.
    await until('the right password opens the page', async () => {
      await login.getByLabel('Passwort:').fill('geheim-42');
      await login.getByRole('button', { name: 'Anmelden', exact: true }).click();
      try {
        await login.locator('#link', { hasText: 'Verbunden.' }).waitFor({ timeout: 3000 });
        return true;
      } catch (notYet) {
        return false;
      }
    });
    await login.getByRole('img', { name: /^Lampe 1: (an|aus)$/ }).waitFor();
    await third.close();
  });
} catch (failure) {
  if (results.length === 0 || results[results.length - 1])
    console.log(`not ok - ${String(failure.stack || failure)}`);
} finally {
  clearTimeout(watchdog);
  await cleanUp();
}

const passed = results.filter(Boolean).length;
const failed = results.length - passed;
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 && passed === 9 ? 0 : 1);
