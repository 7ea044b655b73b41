// The settings page in headless Chromium, as winsim's browser dialog shows
// it: window.dialogArguments in, window.returnValue and close() out. Each
// table row is one showing: the argument, what the user does, what the
// page answers (null: no answer).
'use strict';

const support = require('./support');

support.requireInstalled({ modules: ['playwright-core', 'axe-core'], browser: true });

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const host = require('../../winsim/browser/dialog_host');

const kTable = support.languageTable();
const kAxe = require('path').join(support.kRepository, 'node_modules', 'axe-core', 'axe.min.js');
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
// and waiting on the browser dominates): width rows are always under way,
// the next starting as soon as one ends; results in row order.
async function eachRow(rows, check, width = 4) {
  const results = new Array(rows.length);
  let next = 0;
  const worker = async () => {
    while (next < rows.length) {
      const i = next++;
      results[i] = await check(rows[i]);
    }
  };
  await Promise.all(Array.from({ length: Math.min(width, rows.length) }, worker));
  return results;
}

async function open(argument, languageId, zoom, url = support.kPageUrl) {
  return host.openDialog(await context(languageId, zoom), url, argument);
}

// What answer() gives when the page never closed.
const kStillOpen = '(the page is still open)';

// The page's answer to the user's actions: null when it closed without
// one (or the user closed it), kStillOpen when it did not close.
async function answer(argument, actions, languageId, url) {
  const dialog = await open(argument, languageId, 1, url);
  try {
    const result = await host.playUser(dialog, actions);
    if (result.answered) return result.answer;
    const closed = actions[actions.length - 1] === 'close' ||
                   (await dialog.page.evaluate(() => Boolean(window.__winsimDialogEnd)));
    return closed ? null : kStillOpen;
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

// Every machine language, each a row: the page shows its block (papers,
// labels, lang and dir, access keys), and each block answers as the
// exchange says.
test('each machine language: its block on the page, and the answers', async () => {
  await eachRow([...kTable], async ([languageId, expected]) => {
    const locale = `${host.localeOf(languageId)} (${languageId.toString(16)})`;
    const { page } = await open('1000=0;', languageId);
    assert.deepEqual(await shownPapers(page), expected.papers.map((p, i) => ({
      name: p.name, size: `${p.metric} ${p.inch}`, checked: i === 0,
    })), locale);
    // What the page shows, as text: the title, the labels, each button's
    // access key with the letter underlined.
    const buttons = ['szSampleButton', 'szOkButton', 'szCancelButton'];
    const shown = await page.evaluate((ids) => ({
      lang: document.documentElement.lang,
      dir: document.documentElement.dir,
      title: document.title,
      heading: document.querySelector('h1').textContent,
      legend: document.querySelector('legend').textContent,
      buttons: ids.map((id) => {
        const b = document.getElementById(id);
        const underlined = Array.prototype.map.call(b.getElementsByTagName('u'), (u) => u.textContent).join('');
        return [b.textContent, b.getAttribute('accesskey'), underlined];
      }),
    }), buttons);
    const labels = expected.labels;
    assert.deepEqual(shown, {
      lang: expected.lang,
      dir: expected.dir,
      title: labels.szTitle,
      heading: labels.szTitle,
      legend: labels.szPaperLegend,
      buttons: buttons.map((key) => [labels[key], expected.accessKeys[key], expected.accessKeys[key]]),
    }, locale);
    // Assistive technology meets them by these names (the same for every
    // language of a block).
    if (expected.block === languageId) {
      assert.equal(await page.getByRole('heading', { name: labels.szTitle }).count(), 1, locale);
      assert.equal(await page.getByRole('group', { name: labels.szPaperLegend }).count(), 1, locale);
      for (const key of buttons) {
        assert.equal(await page.getByRole('button', { name: labels[key], exact: true }).count(), 1,
                     `${locale} ${key}`);
      }
    }
    await page.close();
    // A language that shares a block answers as that block's own does.
    if (expected.block !== languageId) return;
    const third = expected.papers[2];
    const keys = expected.accessKeys;
    const chosen = `1000=${third.code};9900=${third.id};`;
    const rows = [
      // name, user actions, answer
      ['OK', [`select:${third.name}`, `click:${expected.labels.szOkButton}`], chosen],
      ['Cancel', [`select:${third.name}`, `click:${expected.labels.szCancelButton}`], null],
      ['Escape', ['key:ArrowDown', 'key:Escape'], null],
      ['sample page', [`click:${expected.labels.szSampleButton}`], 'PrintSamplePage'],
      ['OK by its access key', ['key:ArrowDown', 'key:ArrowDown', `access:${keys.szOkButton}`], chosen],
      ['Cancel by its access key', [`access:${keys.szCancelButton}`], null],
      ['sample page by its access key', [`access:${keys.szSampleButton}`], 'PrintSamplePage'],
    ];
    const answers = await Promise.all(rows.map(([, actions]) => answer('1000=0;', actions, languageId)));
    rows.forEach(([name, , expectedAnswer], i) => assert.equal(answers[i], expectedAnswer, `${locale} ${name}`));
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

// A settings string of 511 characters with no paper size item: with the
// page's "9900=257;" it would come back as 520, which the driver refuses.
const kItems = Array.from({ length: 35 }, (_, i) => `k${String(i).padStart(3, '0')}=abcdefgh;`).join('');
const kFull = `1000=1;${kItems}zzzzzzzzzzz=1;`;
const kFullAnswer = `1000=1;9900=257;${kItems}`;

test('answers to the user', async () => {
  assert.equal(kFull.length, 511);
  const rows = [
    // name, argument, user actions, answer
    ['OK keeps the paper', '1000=1;', ['click:OK'], '1000=1;9900=257;'],
    ['a chosen paper', '1000=0;', ['select:10 x 15 cm', 'click:OK'], '1000=2;9900=258;'],
    ['Enter is OK', '1000=0;9900=256;', ['select:3.5 x 5 in', 'key:Enter'], '1000=3;9900=259;'],
    ['Cancel', '1000=0;', ['select:5 x 7 in', 'click:Cancel'], null],
    ['Escape', '1000=0;', ['select:5 x 7 in', 'key:Escape'], null],
    ['the close box', '1000=0;', ['select:5 x 7 in', 'close'], null],
    ['the user just leaves', '1000=0;', [], kStillOpen],
    ['sample page', '1000=1;', ['select:4 x 6 in', 'click:Print sample page'], 'PrintSamplePage'],
    ['unknown items kept in order and form', '2000=5;1000=1;x=;9900=257;note=a b =c;',
     ['select:4 x 6 in', 'click:OK'], '1000=0;9900=256;2000=5;x=;note=a b =c;'],
    ['a second paper item goes too', '1000=1;1000=2;9900=1;9900=2;', ['click:OK'], '1000=1;9900=257;'],
    ['no last semicolon', '1000=1;5=5', ['click:OK'], '1000=1;9900=257;5=5;'],
    ['empty argument', '', ['click:OK'], '1000=0;9900=256;'],
    ['no argument', null, ['click:OK'], '1000=0;9900=256;'],
    ['no item in it', 'garbage', ['click:OK'], '1000=0;9900=256;'],
    ['broken items dropped', ';;=5;1000;a=1;;', ['click:OK'], '1000=0;9900=256;a=1;'],
    ['a full argument without a paper size: the items that fit', kFull, ['click:OK'], kFullAnswer],
    ['an answer of exactly 511 characters', `1000=1;k=${'v'.repeat(511 - 19)};`, ['click:OK'],
     `1000=1;9900=257;k=${'v'.repeat(511 - 19)};`],
    ['one character over: the item goes', `1000=1;k=${'v'.repeat(511 - 18)};`, ['click:OK'], '1000=1;9900=257;'],
    ['an item too long ends the answer', `1000=1;a=1;b=${'x'.repeat(600)};c=2;`, ['click:OK'],
     '1000=1;9900=257;a=1;'],
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
    ['Tab then Enter from the list is OK', '1000=0;', ['ArrowDown', 'Tab', 'Enter'], '1000=1;9900=257;'],
    ['Tab to OK, Space', '1000=0;', ['ArrowDown', 'Tab', 'Space'], '1000=1;9900=257;'],
    ['Tab to Cancel, Enter', '1000=0;', ['ArrowDown', 'Tab', 'Tab', 'Enter'], null],
    ['the sample button is last', '1000=0;', ['Tab', 'Tab', 'Tab', 'Enter'], 'PrintSamplePage'],
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
  assert.deepEqual(order, ['radio 5 x 7 in', 'button OK', 'button Cancel', 'button Print sample page']);
  await page.close();
});

// The picture: every paper to one scale, the chosen one marked and its
// size written on it, following the choice by mouse and by keys.
test('the picture of the paper follows the choice', async () => {
  const papers = kTable.get(0x0409).papers;
  const rows = [
    // name, argument, user actions (before none closes the page), chosen paper
    ['the current paper', '1000=2;', [], 2],
    ['a click on a name', '1000=0;', ['select:5 x 7 in'], 1],
    ['a click on a size', '1000=0;', ['size:3'], 3],
    ['arrow keys', '1000=0;', ['key:ArrowDown', 'key:ArrowDown'], 2],
    ['arrow up wraps round', '1000=0;', ['key:ArrowUp'], 3],
  ];
  await eachRow(rows, async ([name, argument, actions, chosen]) => {
    const { page } = await open(argument, 0x0409);
    for (const action of actions) {
      if (action.startsWith('size:')) await page.locator(`#paper${action.slice(5)}-mm`).click();
      else await host.act(page, action);
    }
    const seen = await page.evaluate(() => ({
      sheets: Array.prototype.map.call(document.querySelectorAll('.sheet'), (e) => {
        const r = e.getBoundingClientRect();
        return { width: r.width, height: r.height, bottom: r.bottom, left: r.left, chosen: / chosen/.test(e.className) };
      }),
      caption: document.querySelector('.caption').textContent,
      checked: Array.prototype.findIndex.call(document.querySelectorAll('input[type=radio]'), (r) => r.checked),
    }));
    assert.equal(seen.checked, chosen, name);
    assert.deepEqual(seen.sheets.map((s) => s.chosen), papers.map((p, i) => i === chosen), name);
    assert.equal(seen.caption, papers[chosen].metric + papers[chosen].inch, name);
    // One scale for all, from one corner.
    const scale = seen.sheets[0].width / papers[0].width;
    seen.sheets.forEach((sheet, i) => {
      assert.ok(Math.abs(sheet.width - papers[i].width * scale) < 1 &&
                Math.abs(sheet.height - papers[i].height * scale) < 1, `${name}: ${papers[i].name} to scale`);
      assert.ok(Math.abs(sheet.bottom - seen.sheets[0].bottom) < 0.5 && Math.abs(sheet.left - seen.sheets[0].left) < 0.5,
                `${name}: ${papers[i].name} from the corner`);
    });
    await page.close();
  });
});

// Each block as its users meet it: at 100%, 200% and 400% zoom and in
// forced colours, with no axe-core violation and no control out of reach;
// a screenshot of each.
test('every block at every zoom and in forced colours', async () => {
  const conditions = [
    // name, zoom, forced colours
    ['100', 1, false],
    ['200', 2, false],
    ['400', 4, false],
    ['forced', 1, true],
  ];
  const rows = [];
  for (const [languageId, entry] of kTable) {
    if (entry.block !== languageId) continue;
    for (const condition of conditions) rows.push([languageId, ...condition]);
  }
  await eachRow(rows, async ([languageId, name, zoom, forced]) => {
    const where = `${host.localeOf(languageId)} ${name}`;
    const { page } = await open('1000=0;', languageId, zoom);
    if (forced) await page.emulateMedia({ forcedColors: 'active' });
    await page.addScriptTag({ path: kAxe });
    const violations = await page.evaluate(async () => (await window.axe.run(document)).violations.map(
      (v) => `${v.id} (${v.impact}): ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`));
    assert.deepEqual(violations, [], where);
    const layout = await page.evaluate(() => {
      const rect = (e) => e.getBoundingClientRect();
      const shown = (e) => rect(e).width > 0 && rect(e).height > 0;
      const all = (selector) => Array.prototype.filter.call(document.querySelectorAll(selector), shown);
      const texts = all('button, label, legend, .size span');
      const boxes = texts.map(rect);
      const width = document.documentElement.clientWidth;
      const height = document.documentElement.clientHeight;
      const controls = all('button, input').map(rect);
      const lines = (e) => {
        const range = document.createRange();
        range.selectNodeContents(e);
        return new Set(Array.prototype.map.call(range.getClientRects(), (r) => Math.round(r.top))).size;
      };
      // The focus ring: the control's box grown by the outline's offset and
      // width, which must not reach another control's text.
      const ringTouches = all('button, input').filter((control) => {
        const style = getComputedStyle(control);
        const grow = parseFloat(style.outlineOffset) + parseFloat(style.outlineWidth);
        const r = rect(control);
        return texts.some((t) => {
          const b = rect(t);
          return !control.contains(t) && r.left - grow < b.right && b.left < r.right + grow &&
                 r.top - grow < b.bottom && b.top < r.bottom + grow;
        });
      }).map((c) => c.id);
      const column = (selector, side) => new Set(all(selector).map((e) => Math.round(rect(e)[side]))).size;
      const rtl = document.documentElement.dir === 'rtl';
      const list = rect(document.querySelector('fieldset'));
      const picture = rect(document.querySelector('.frame'));
      return {
        sideways: document.documentElement.scrollWidth > width || boxes.some((b) => b.right > width || b.left < 0),
        overlaps: boxes.some((a, i) => boxes.some((b, j) => j > i &&
          a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom)),
        allInView: document.documentElement.scrollHeight <= height &&
          controls.every((c) => c.top >= 0 && c.bottom <= height && c.left >= 0 && c.right <= width),
        wrappedButtons: all('button').filter((b) => lines(b) > 1).map((b) => b.id),
        clipped: texts.filter((e) => e.scrollWidth > e.clientWidth + 1).map((e) => e.textContent),
        sizeColumns: ['-mm', '-in'].map((unit) => column(`.size [id$="${unit}"]`, rtl ? 'right' : 'left')),
        oneColumn: picture.top >= list.bottom,
        ringTouches,
      };
    });
    const expected = {
      sideways: false,
      overlaps: false,
      // At 400% the page scrolls; it reflows to one column instead.
      allInView: zoom < 4 ? true : layout.allInView,
      wrappedButtons: zoom < 4 ? [] : layout.wrappedButtons,
      clipped: [],
      sizeColumns: zoom === 1 ? [1, 1] : [0, 0],
      oneColumn: zoom === 4,
      ringTouches: [],
    };
    assert.deepEqual(layout, expected, where);
    if (zoom === 4) {
      // Every button is there to scroll to, and fits the window once there.
      for (const button of await page.getByRole('button').all()) {
        await button.scrollIntoViewIfNeeded();
        const box = await button.boundingBox();
        const view = page.viewportSize();
        // Scroll positions are whole pixels: a fraction may stay out of view.
        assert.ok(box && box.y >= 0 && box.y + box.height <= view.height + 1 && box.x >= 0 &&
                  box.x + box.width <= view.width, `${where}: ${await button.textContent()} out of reach`);
      }
      await page.evaluate(() => window.scrollTo(0, 0));
    }
    const shot = support.artifactPath(`settings-page-${host.localeOf(languageId)}-${name}.png`);
    if (shot) await page.screenshot({ path: shot, fullPage: true });
    await page.close();
  });
});

// MSHTML lets the page size its dialog (dialogWidth and dialogHeight, the
// content area); the page asks for what its content needs. Here the two
// are given as MSHTML gives them, and the window then takes the size asked.
test('the page sizes an MSHTML dialog to its content', async () => {
  const rows = [...kTable].filter(([languageId, entry]) => entry.block === languageId);
  const sized = await host.newDialogContext(browser, { languageId: 0x0409 });
  await eachRow(rows, async ([languageId]) => {
    const where = host.localeOf(languageId);
    const own = await host.newDialogContext(browser, { languageId });
    await own.addInitScript(() => {
      window.dialogWidth = '250px';
      window.dialogHeight = '150px';
    });
    const { page } = await host.openDialog(own, support.kPageUrl, '1000=0;');
    const asked = await page.evaluate(() => [window.dialogWidth, window.dialogHeight]);
    assert.ok(asked.every((v) => /^\d+px$/.test(v)), `${where}: ${asked}`);
    await page.setViewportSize({ width: parseInt(asked[0], 10), height: parseInt(asked[1], 10) });
    const fit = await page.evaluate(() => {
      const root = document.documentElement;
      const inside = Array.prototype.every.call(document.querySelectorAll('button, input'), (e) => {
        const r = e.getBoundingClientRect();
        return r.left >= 0 && r.top >= 0 && r.right <= root.clientWidth && r.bottom <= root.clientHeight;
      });
      const sizesShown = getComputedStyle(document.querySelector('.size')).display !== 'none';
      return { scrolls: root.scrollWidth > root.clientWidth || root.scrollHeight > root.clientHeight, inside, sizesShown };
    });
    assert.deepEqual(fit, { scrolls: false, inside: true, sizesShown: true }, `${where} at ${asked}`);
    await own.close();
  });
  await sized.close();
});

// A package whose settings.js is missing or broken: the page says so in
// one sentence, and Cancel, Escape and the close box still end it without
// an answer.
test('a broken settings.js', async () => {
  const fs = require('fs');
  const os = require('os');
  const path = require('path');
  const script = fs.readFileSync(path.join(support.kPackage, 'settings.js'));
  const cases = [
    // name, settings.js (null: none)
    ['missing', null],
    ['empty', Buffer.alloc(0)],
    ['cut in the first block', script.subarray(0, 1500)],
    ["cut in the page's script", script.subarray(0, script.length - 200)],
  ];
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'lark-page-'));
  try {
    const urls = cases.map(([name, bytes], i) => {
      const dir = path.join(root, String(i));
      fs.mkdirSync(dir);
      fs.copyFileSync(path.join(support.kPackage, 'settings.htm'), path.join(dir, 'settings.htm'));
      if (bytes) fs.writeFileSync(path.join(dir, 'settings.js'), bytes);
      return require('url').pathToFileURL(path.join(dir, 'settings.htm')).href;
    });
    await eachRow(cases.map((c, i) => [...c, urls[i]]), async ([name, , url]) => {
      const { page } = await open('1000=1;', 0x0409, 1, url);
      const shown = await page.evaluate(() => ({
        message: Array.prototype.map.call(document.querySelectorAll('[role=alert]'), (e) => e.textContent),
        focused: document.activeElement && document.activeElement.id,
      }));
      assert.equal(shown.message.length, 1, name);
      assert.match(shown.message[0], /^[^.;]+; [^.;]+\.$/, `${name}: one sentence`);
      assert.equal(shown.focused, 'szCancelButton', name);
      assert.deepEqual(await page.getByRole('button').allTextContents(), ['Cancel'], name);
      assert.equal(await page.getByRole('radio').count(), 0, name);
      await page.addScriptTag({ path: kAxe });
      assert.deepEqual(await page.evaluate(async () => (await window.axe.run(document)).violations.map((v) => v.id)),
                       [], name);
      await page.close();
      const rows = [
        // user, answer
        [['click:Cancel'], null],
        [['key:Escape'], null],
        [['key:Enter'], null],
        [['close'], null],
      ];
      const answers = await Promise.all(rows.map(([actions]) => answer('1000=1;', actions, 0x0409, url)));
      rows.forEach(([actions, expected], i) => assert.equal(answers[i], expected, `${name}: ${actions}`));
    });
  } finally {
    fs.rmSync(root, { recursive: true, force: true });
  }
});
