// larksim report after the demo's roads, in headless Chromium: every road,
// lane, showing, poll, box and job that the machine recorded is in it (the
// machine's own listings say what was recorded), nothing leaves the file,
// no script fails, axe-core finds nothing, it reads at 200% zoom and its
// hover texts are on paper. Screenshots go to LARK_PAGE_ARTIFACTS.
'use strict';

const support = require('../page/support');

support.requireInstalled({ modules: ['playwright-core', 'axe-core'], browser: true });

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { pathToFileURL } = require('url');
const host = require('../../winsim/browser/dialog_host');

const kBuild = process.env.LARK_BUILD_DIR || '';
const kLarksim = path.join(kBuild, 'larksim');
const kAxe = path.join(support.kRepository, 'node_modules', 'axe-core', 'axe.min.js');

let temporary;
let root;
let reportUrl;
let demoOutput;
let browser;

function larksim(...args) {
  return execFileSync(kLarksim, args, { env: { ...process.env, WINSIM_ROOT: root }, encoding: 'utf8' });
}

// What the machine recorded, from larksim's own listings and the demo's
// timelines, which the report does not share any code with.
function recorded() {
  const roads = [...demoOutput.matchAll(/^\$ larksim (properties|print) "?(.*?)"? (.*)$/gm)].map((m) => ({
    kind: m[1] === 'properties' ? 'settings' : 'print',
    title: m[1] === 'print' ? 'Printing a document on \u201cLark Photo\u201d'
      : 'Printing Preferences of \u201cLark Photo\u201d' +
        (m[3].includes('--printers-folder') ? ' from the printers folder' : ''),
  }));
  const timeline = demoOutput.slice(demoOutput.indexOf('$ larksim properties'),
                                    demoOutput.indexOf('$ larksim jobs'));
  const threads = [...new Set([...timeline.matchAll(/\[thread (\d+)\]/g)].map((m) => m[1]))];
  // The closing thread's sends go to the sheet's thread.
  const closing = (timeline.match(/\[thread (\d+)\] looked/) || [])[1];
  const sends = [...timeline.matchAll(/\[thread (\d+)\] (sent WM_\w+)/g)]
    .filter((m) => m[1] === closing).map((m) => ({ text: m[2] }));
  const showings = [];
  for (const line of larksim('dialog', 'list').split('\n')) {
    let m;
    if ((m = line.match(/^showing (\d+)/))) showings.push({ seq: m[1] });
    else if ((m = line.match(/^ {2}argument "(.*)" {2}options/))) showings.at(-1).argument = m[1];
    else if ((m = line.match(/^ {2}outcome {2}(\w+)(?: "(.*)")?/))) {
      showings.at(-1).outcome = m[1];
      showings.at(-1).answer = m[2] || (m[1] === 'sample' ? 'PrintSamplePage' : '');
    } else if ((m = line.match(/^ {2}screenshot (.*)/))) showings.at(-1).screenshot = m[1];
  }
  const polls = [...demoOutput.matchAll(/^ {2}poll +(\d+) {2}(S:\w+)/gm)].map((m) => ({ number: m[1], field: m[2] }));
  const boxes = [...larksim('box', 'list').matchAll(/caption "(.*?)", style (0x\w+), text "(.*?)", answered/g)]
    .map((m) => ({ caption: m[1], style: m[2], text: m[3].replace(/\\r\\n/g, '\n') }));
  const jobs = [];
  for (const line of larksim('jobs', '--hex').split('\n')) {
    let m;
    if ((m = line.match(/^job (\d+) {2}.*? {2}"(.*)" (\w+) {2}\d+ page\(s\) {2}(\d+) bytes/))) {
      jobs.push({ id: m[1], document: m[2], bytes: m[4], hex: [] });
    } else if ((m = line.match(/^ {4}[0-9a-f]{4} {2}((?:[0-9a-f]{2} ?)+)/))) {
      jobs.at(-1).hex.push(m[1].trim());
    }
  }
  return { roads, threads, sends, showings, polls, boxes, jobs };
}

before(async () => {
  assert.ok(fs.existsSync(kLarksim), `no larksim in LARK_BUILD_DIR ('${kBuild}')`);
  temporary = fs.mkdtempSync(path.join(os.tmpdir(), 'lark-report-test-'));
  demoOutput = execFileSync('bash', [path.join(support.kRepository, 'tools', 'demo'), kBuild], {
    env: { ...process.env, TMPDIR: temporary }, encoding: 'utf8', maxBuffer: 64 << 20,
  });
  const report = (demoOutput.match(/^Report of every road: (.*)$/m) || [])[1];
  assert.ok(report && fs.existsSync(report), 'the demo names the report it wrote');
  root = path.dirname(report);
  reportUrl = pathToFileURL(report).href;
  const kept = support.artifactPath('report.html');
  if (kept) fs.copyFileSync(report, kept);
  browser = await host.launch();
});

after(async () => {
  if (browser) await browser.close();
  if (temporary) fs.rmSync(temporary, { recursive: true, force: true });
});

// The report in a page of its own. Every request that is not for the file
// itself or a data: URL is refused and kept; so are script errors.
async function open({ zoom = 1, media = 'screen', url = reportUrl } = {}) {
  const context = await browser.newContext({
    viewport: { width: Math.round(1280 / zoom), height: Math.round(900 / zoom) },
    deviceScaleFactor: zoom,
    bypassCSP: true, // for axe-core's script; the report's own policy is tested by what it loads
  });
  const page = await context.newPage();
  const left = [];
  const errors = [];
  page.on('request', (r) => {
    if (r.url() !== url && !r.url().startsWith('data:')) left.push(r.url());
  });
  await page.route('**', (route) => (route.request().url() === url ? route.continue() : route.abort()));
  page.on('pageerror', (e) => errors.push(String(e)));
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  await page.emulateMedia({ media });
  await page.goto(url, { waitUntil: 'load' });
  return { page, context, left, errors };
}

test('every road, lane, showing, poll, box and job of the machine is in the report', async () => {
  const machine = recorded();
  const { page, context, left, errors } = await open();
  // What must appear: one row per kind of record, each checked for every
  // record of that kind, in the report's order where order means something.
  const rows = [
    ['roads, oldest first', machine.roads, (roads) => {
      const shown = [...document.querySelectorAll('section.road')].map((s) => ({
        kind: s.classList[1], title: s.querySelector('h2').textContent.replace(/^Road \d+: /, ''),
      }));
      return JSON.stringify(shown) === JSON.stringify(roads);
    }],
    ['lanes of the settings road', [...machine.threads.map((t) => `thread ${t}`), 'dialog'], (lanes) => {
      // The first settings road is the demo's own, with its closing thread.
      const first = document.querySelector('section.settings');
      const titles = [...first.querySelectorAll('svg .lane-title')].map((t) => t.textContent);
      return lanes.every((l) => titles.includes(l)) && titles.length === lanes.length;
    }],
    ['cross-thread sends as arrows', machine.sends, (sends) => {
      const arrows = [...document.querySelectorAll('section.settings svg g.row.send')]
        .filter((g) => g.querySelector('line.arrow')).map((g) => g.querySelector('title').textContent);
      return sends.length > 0 && sends.every((s, i) => (arrows[i] || '').startsWith(s.text));
    }],
    ['dialog showings with argument, answer and screenshot', machine.showings, (showings) => {
      const figures = [...document.querySelectorAll('figure.showing')];
      return figures.length === showings.length && showings.every((s, i) => {
        const text = figures[i].innerText;
        const img = figures[i].querySelector('img');
        const answered = s.outcome === 'none' ? text.includes('closed without an answer')
                                              : text.includes(`"${s.answer}"`);
        return text.includes(`"${s.argument}"`) && answered &&
          (!s.screenshot || (img && img.src.startsWith('data:image/png;base64,') && img.naturalWidth > 0));
      });
    }],
    ['monitor polls with their status field, a run of identical ones as one card', machine.polls,
      (polls) => {
        // Each card stands for its poll or its run of polls ("Polls 6\u201322").
        const shown = [];
        for (const card of document.querySelectorAll('li.poll')) {
          const m = card.querySelector('.n').textContent.match(/^Polls? (\d+)(?:\u2013(\d+))?$/);
          if (!m) return false;
          for (let n = Number(m[1]); n <= Number(m[2] || m[1]); ++n) {
            shown.push({ number: String(n), field: card.querySelector('code').textContent });
          }
        }
        return shown.length === polls.length && polls.every((p, i) =>
          shown[i].number === p.number && shown[i].field === p.field);
      }],
    ['boxes with caption, style and text, in the strip and in the list', machine.boxes, (boxes) => {
      const listed = [...document.querySelectorAll('li.box')];
      const tips = [...document.querySelectorAll('li.poll .tip-text')].map((t) => t.textContent);
      return listed.length === boxes.length && boxes.every((b, i) =>
        listed[i].innerText.includes(`\u201c${b.caption}\u201d`) && listed[i].innerText.includes(b.style) &&
        listed[i].querySelector('.box-text').innerText === b.text && tips[i] === b.text);
    }],
    ['raw jobs with their bytes as hex', machine.jobs, (jobs) => {
      const shown = [...document.querySelectorAll('div.job')];
      return shown.length === jobs.length && jobs.every((j, i) => {
        const hex = shown[i].querySelector('pre.hex').textContent.replace(/\s+/g, ' ');
        return shown[i].querySelector('h4').textContent.startsWith(`Job ${j.id}: \u201c${j.document}\u201d`) &&
          shown[i].querySelector('h4').textContent.includes(`${j.bytes} bytes`) &&
          j.hex.every((row) => hex.includes(row));
      });
    }],
  ];
  for (const [what, records, check] of rows) {
    assert.ok(records.length > 0, `the demo recorded ${what}`);
    assert.ok(await page.evaluate(check, records), what);
  }
  // The settings road's end: the devmode the application got and the stored settings.
  const settings = await page.locator('section.settings').first().innerText();
  assert.match(settings, /settings\s+"1000=1;9900=257;"/);
  assert.match(settings, /PrinterSettings at the end: "1000=1;9900=257;"/);
  const shot = support.artifactPath('report.png');
  if (shot) await page.screenshot({ path: shot, fullPage: true });
  assert.deepEqual(left, [], 'no request leaves the file');
  assert.deepEqual(errors, [], 'no script error');
  await context.close();
});

test('axe-core finds nothing', async () => {
  const { page, context } = await open();
  await page.addScriptTag({ path: kAxe });
  const violations = await page.evaluate(async () => (await axe.run(document, {
    runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'best-practice'] },
  })).violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).slice(0, 3).join(', ')}`));
  assert.deepEqual(violations, []);
  await context.close();
});

test('readable at 200% zoom', async () => {
  const { page, context } = await open({ zoom: 2 });
  // Text reflows within the window; only the diagrams and the byte dumps
  // scroll, inside their own focusable regions.
  const layout = await page.evaluate(() => {
    const width = document.documentElement.clientWidth;
    const outside = [...document.querySelectorAll('h1, h2, h3, h4, p, li, td, th, dd, dt, figcaption, summary')]
      .filter((e) => !e.closest('.scroll') && e.getBoundingClientRect().right > width + 1)
      .map((e) => e.textContent.slice(0, 40));
    return { sideways: document.documentElement.scrollWidth > width, outside };
  });
  assert.deepEqual(layout, { sideways: false, outside: [] });
  const shot = support.artifactPath('report-200.png');
  if (shot) await page.screenshot({ path: shot, fullPage: true });
  await context.close();
});

test('on paper every box text shows and nothing is cut off', async () => {
  const { page, context } = await open({ media: 'print' });
  const paper = await page.evaluate(() => ({
    hiddenTips: [...document.querySelectorAll('.tip-text')].filter((t) => getComputedStyle(t).display === 'none').length,
    tips: document.querySelectorAll('.tip-text').length,
    clipped: [...document.querySelectorAll('.scroll')].filter((s) => getComputedStyle(s).overflowX !== 'visible').length,
    wideSequences: [...document.querySelectorAll('svg.sequence')]
      .filter((s) => s.getBoundingClientRect().right > document.documentElement.clientWidth + 1).length,
  }));
  assert.ok(paper.tips > 0);
  assert.deepEqual({ ...paper, tips: 0 }, { hiddenTips: 0, tips: 0, clipped: 0, wideSequences: 0 });
  const print = support.artifactPath('report.pdf');
  if (print) await page.pdf({ path: print, format: 'A4' });
  await context.close();
});

test('what the page answers and the printer reports stays text', async () => {
  const answer = '1000=1;<img src=x onerror="document.title=1">;';
  const deviceId = 'MFG:<b>Lark</b>;CMD:JPEG;S:0304000000000000000000;';
  larksim('properties', 'Lark Photo', '--answer', answer);
  larksim('usb', 'script', 'USB001', deviceId);
  larksim('monitor', 'Lark Photo');
  const report = path.join(root, 'hostile.html');
  larksim('report', '--out', report);
  const { page, context, left, errors } = await open({ url: pathToFileURL(report).href });
  const seen = await page.evaluate(() => ({
    injected: document.querySelectorAll('main img:not([src^="data:"]), main b').length,
    text: document.body.textContent,
  }));
  assert.equal(seen.injected, 0);
  assert.ok(seen.text.includes(`"${answer}"`), 'the answer as it came');
  assert.ok(seen.text.includes(deviceId), 'the device ID as it came');
  assert.deepEqual({ left, errors }, { left: [], errors: [] });
  await context.close();
});

test('the demo prints each command as it pastes into a shell', () => {
  const lines = [...demoOutput.matchAll(/^\$ larksim (.*)$/gm)].map((m) => m[1]);
  assert.ok(lines.length > 10, 'the demo printed its commands');
  for (const line of lines) {
    // The shell's own reading of the printed line: one word per line out.
    const words = execFileSync('bash', ['-c', `printf '%s\\n' ${line}`], { encoding: 'utf8' })
      .split('\n').slice(0, -1);
    if (line.includes('Lark Photo')) assert.ok(words.includes('Lark Photo'), line);
    for (const w of words) assert.ok(!w.startsWith('"') && !w.endsWith('"'), `${line}: ${w}`);
  }
  const script = lines.find((l) => l.startsWith('usb script'));
  assert.ok(script && script.includes('"MFG:Lark;CMD:JPEG;'), 'a device ID with its ";" in quotes');
});
