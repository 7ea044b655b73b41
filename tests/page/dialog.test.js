// The settings page in headless Chromium, as winsim's browser dialog shows
// it: window.dialogArguments in, window.returnValue and close() out. Each
// table row is one showing: the argument, what the user does, what the
// page answers (null: no answer).
'use strict';

const support = require('./support');

support.requireInstalled({ modules: ['playwright-core'], browser: true });

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const host = require('../../winsim/browser/dialog_host');

const kTable = support.languageTable();
let browser;
const contexts = new Map();

before(async () => {
  browser = await host.launch();
});
after(async () => {
  if (browser) await browser.close();
});

async function context(languageId = 0x0409, zoom = 1) {
  const key = `${languageId}/${zoom}`;
  if (!contexts.has(key)) contexts.set(key, await host.newDialogContext(browser, { languageId, zoom }));
  return contexts.get(key);
}

// Runs check over the rows a few at a time (each row is a page of its own,
// and waiting on the browser dominates); results in row order.
async function eachRow(rows, check, width = 4) {
  const results = [];
  for (let i = 0; i < rows.length; i += width) {
    results.push(...(await Promise.all(rows.slice(i, i + width).map(check))));
  }
  return results;
}

async function open(argument, languageId, zoom) {
  return host.openDialog(await context(languageId, zoom), support.kPageUrl, argument);
}

// The page's answer to the user's actions, null for none.
async function answer(argument, actions, languageId) {
  const dialog = await open(argument, languageId);
  try {
    const result = await host.playUser(dialog, actions);
    return result.answered ? result.answer : null;
  } finally {
    await dialog.page.close();
  }
}

// Each paper as assistive technology meets it: the radio's label and the
// size text it is described by.
async function shownPapers(page) {
  return page.evaluate(() =>
    Array.prototype.map.call(document.querySelectorAll('input[type=radio]'), (radio) => ({
      name: radio.labels.length === 1 ? radio.labels[0].textContent : '',
      size: (radio.getAttribute('aria-describedby') || '')
        .split(' ')
        .map((id) => (document.getElementById(id) || {}).textContent)
        .join(' '),
      checked: radio.checked,
    })));
}

async function checkedPaper(page) {
  return (await shownPapers(page)).filter((p) => p.checked).map((p) => p.name);
}

test('paper list and labels of each language block', async () => {
  await eachRow([...kTable], async ([languageId, expected]) => {
    const locale = host.localeOf(languageId);
    const { page } = await open('1000=0;', languageId);
    assert.deepEqual(await shownPapers(page), expected.papers.map((p, i) => ({
      name: p.name, size: `${p.metric} ${p.inch}`, checked: i === 0,
    })), locale);
    assert.equal(await page.title(), expected.labels.szTitle, locale);
    assert.equal(await page.getByRole('heading', { name: expected.labels.szTitle }).count(), 1, locale);
    assert.equal(await page.getByRole('group', { name: expected.labels.szPaperLegend }).count(), 1, locale);
    for (const key of ['szSampleButton', 'szOkButton', 'szCancelButton']) {
      assert.equal(await page.getByRole('button', { name: expected.labels[key], exact: true }).count(), 1,
                   `${locale} ${key}`);
    }
    const shot = support.artifactPath(`settings-page-${locale}.png`);
    if (shot) await page.screenshot({ path: shot, fullPage: true });
    await page.close();
  });
});

test('the browser locale of each machine language is that language on the page', async () => {
  const dialog = await open('', 0x0409);
  for (const [languageId, locale] of Object.entries(host.kLocales)) {
    const seen = await dialog.page.evaluate((tag) => larkSettings.languageId(tag), locale);
    assert.equal(seen, +languageId, locale);
  }
  await dialog.page.close();
});

test('current paper from key 1000, else key 9900, else the first', async () => {
  const rows = [
    // argument, language, checked paper
    ['1000=1;', 0x0409, '5 x 7 in'],
    ['1000=3;9900=256;', 0x0409, '3.5 x 5 in'],
    ['9900=258;1000=9;', 0x0409, '10 x 15 cm'],
    ['9900=259;', 0x0409, '3.5 x 5 in'],
    ['1000=x;9900=257;', 0x0409, '5 x 7 in'],
    ['1000=2', 0x0409, '10 x 15 cm'],
    [' 1000=1;9900=65793;', 0x0409, '5 x 7 in'],
    ['1000=7;9900=7;', 0x0409, '4 x 6 in'],
    ['2000=1;', 0x0409, '4 x 6 in'],
    ['', 0x0409, '4 x 6 in'],
    [null, 0x0409, '4 x 6 in'],
    ['1000=3;', 0x040C, '3,5 x 5 po'],
  ];
  const seen = await eachRow(rows, async ([argument, languageId]) => {
    const { page } = await open(argument, languageId);
    const checked = await checkedPaper(page);
    await page.close();
    return checked;
  });
  rows.forEach(([argument, , paper], i) => {
    assert.deepEqual(seen[i], [paper], `argument ${JSON.stringify(argument)}`);
  });
});

test('answers to the user', async () => {
  const rows = [
    // name, argument, user actions, answer
    ['OK keeps the paper', '1000=1;', ['click:OK'], '1000=1;9900=257;'],
    ['a chosen paper', '1000=0;', ['select:10 x 15 cm', 'click:OK'], '1000=2;9900=258;'],
    ['Enter is OK', '1000=0;9900=256;', ['select:3.5 x 5 in', 'key:Enter'], '1000=3;9900=259;'],
    ['Cancel', '1000=0;', ['select:5 x 7 in', 'click:Cancel'], null],
    ['Escape', '1000=0;', ['select:5 x 7 in', 'key:Escape'], null],
    ['the close box', '1000=0;', ['select:5 x 7 in', 'close'], null],
    ['the user just leaves', '1000=0;', [], null],
    ['sample page', '1000=1;', ['select:4 x 6 in', 'click:Print sample page'], 'PrintSamplePage'],
    ['unknown items kept in order and form', '2000=5;1000=1;x=;9900=257;note=a b =c;',
     ['select:4 x 6 in', 'click:OK'], '1000=0;9900=256;2000=5;x=;note=a b =c;'],
    ['a second paper item goes too', '1000=1;1000=2;9900=1;9900=2;', ['click:OK'], '1000=1;9900=257;'],
    ['no last semicolon', '1000=1;5=5', ['click:OK'], '1000=1;9900=257;5=5;'],
    ['empty argument', '', ['click:OK'], '1000=0;9900=256;'],
    ['no argument', null, ['click:OK'], '1000=0;9900=256;'],
    ['no item in it', 'garbage', ['click:OK'], '1000=0;9900=256;'],
    ['broken items dropped', ';;=5;1000;a=1;;', ['click:OK'], '1000=0;9900=256;a=1;'],
    ['French papers', '1000=0;', ['select:3,5 x 5 po', 'click:OK'], '1000=3;9900=259;', 0x040C],
    ['French Cancel', '1000=0;', ['click:Annuler'], null, 0x040C],
  ];
  const answers = await eachRow(rows, ([, argument, actions, , languageId]) =>
    answer(argument, actions, languageId));
  rows.forEach(([name, , , expected], i) => assert.equal(answers[i], expected, name));
});

test('keyboard only', async () => {
  const rows = [
    // name, argument, keys, answer
    ['arrow to the next paper, Enter', '1000=0;', ['ArrowDown', 'Enter'], '1000=1;9900=257;'],
    ['arrows wrap around', '1000=3;', ['ArrowDown', 'Enter'], '1000=0;9900=256;'],
    ['arrow up', '1000=2;', ['ArrowUp', 'ArrowUp', 'Enter'], '1000=0;9900=256;'],
    ['Tab to the sample button', '1000=0;', ['Tab', 'Enter'], 'PrintSamplePage'],
    ['Tab to OK, Space', '1000=0;', ['ArrowDown', 'Tab', 'Tab', 'Space'], '1000=1;9900=257;'],
    ['Tab to Cancel, Enter', '1000=0;', ['ArrowDown', 'Tab', 'Tab', 'Tab', 'Enter'], null],
    ['Tab back from the buttons, Enter', '1000=0;', ['Tab', 'Tab', 'Shift+Tab', 'Shift+Tab', 'ArrowDown', 'Enter'],
     '1000=1;9900=257;'],
    ['Escape', '1000=0;', ['ArrowDown', 'Escape'], null],
  ];
  const answers = await eachRow(rows, ([, argument, keys]) =>
    answer(argument, keys.map((k) => `key:${k}`)));
  rows.forEach(([name, , , expected], i) => assert.equal(answers[i], expected, name));
  // Every control in the tab order, each with its name.
  const { page } = await open('1000=1;');
  const order = [];
  for (let i = 0; i < 4; ++i) {
    order.push(await page.evaluate(() => {
      const e = document.activeElement;
      return `${e.tagName === 'INPUT' ? 'radio' : 'button'} ${e.labels && e.labels.length ? e.labels[0].textContent : e.textContent}`;
    }));
    await page.keyboard.press('Tab');
  }
  assert.deepEqual(order, ['radio 5 x 7 in', 'button Print sample page', 'button OK', 'button Cancel']);
  await page.close();
});

test('readable at 200% zoom', async () => {
  await eachRow([...kTable.keys()], async (languageId) => {
    const locale = host.localeOf(languageId);
    const { page } = await open('1000=0;', languageId, 2);
    // No line runs out of the window sideways, and no control covers another.
    const layout = await page.evaluate(() => {
      const boxes = Array.prototype.map.call(
        document.querySelectorAll('button, label, .size span'), (e) => e.getBoundingClientRect());
      const overlaps = boxes.some((a, i) => boxes.some((b, j) => j > i &&
        a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom));
      const width = document.documentElement.clientWidth;
      return {
        sideways: document.documentElement.scrollWidth > width || boxes.some((b) => b.right > width),
        overlaps,
      };
    });
    assert.deepEqual(layout, { sideways: false, overlaps: false }, locale);
    const shot = support.artifactPath(`settings-page-${locale}-200.png`);
    if (shot) await page.screenshot({ path: shot, fullPage: true });
    await page.close();
  });
});
