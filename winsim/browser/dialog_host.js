// What MSHTML's modal HTML dialog does for a page, done in Chromium through
// playwright-core: the argument is there as window.dialogArguments before
// the page's scripts run, and the page's window.close() ends the showing
// with window.returnValue as the answer (a string only, as only a VT_BSTR
// counts). A scripted user acts on the page as a person would: by the
// accessible names of its controls, or by keys. Shared by winsim's dialog
// runner and the page's tests.
'use strict';

const fs = require('fs');
const { chromium } = require('playwright-core');

const kBrowser = '/usr/bin/chromium';
// This machine's network is closed: without the background-networking
// flags Chromium's own connections are refused and it stalls on them.
const kBrowserArgs = [
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];
// The client area of the dialog, in CSS pixels at 100%.
const kDialogSize = { width: 460, height: 420 };
// A user action waits this long for the page to take it: generous, since a
// loaded 2-core machine can stall the browser for seconds, and a page that
// takes an action answers at once.
const kActionTimeoutMs = 20000;

// Windows language identifiers to the locale the browser is given, so the
// page finds the machine's language where MSHTML would report it. A
// language not listed gets US English, whose block is the driver's
// fallback too.
const kLocales = {
  0x0409: 'en-US', 0x0809: 'en-GB', 0x0C09: 'en-AU', 0x1009: 'en-CA', 0x1409: 'en-NZ', 0x1809: 'en-IE',
  0x040C: 'fr-FR', 0x080C: 'fr-BE', 0x0C0C: 'fr-CA', 0x100C: 'fr-CH', 0x140C: 'fr-LU', 0x180C: 'fr-MC',
  0x0407: 'de-DE', 0x0807: 'de-CH', 0x0C07: 'de-AT', 0x1007: 'de-LU', 0x1407: 'de-LI',
  0x0410: 'it-IT', 0x0810: 'it-CH',
  0x0C0A: 'es-ES', 0x040A: 'es-ES-u-co-trad', 0x080A: 'es-MX', 0x2C0A: 'es-AR', 0x240A: 'es-CO', 0x340A: 'es-CL',
  0x0413: 'nl-NL', 0x0813: 'nl-BE', 0x0416: 'pt-BR', 0x0816: 'pt-PT',
  0x0411: 'ja-JP', 0x0804: 'zh-CN', 0x1004: 'zh-SG', 0x0404: 'zh-TW', 0x0C04: 'zh-HK',
  0x0401: 'ar-SA', 0x0801: 'ar-IQ', 0x0C01: 'ar-EG', 0x1001: 'ar-LY', 0x1401: 'ar-DZ', 0x1801: 'ar-MA',
  0x1C01: 'ar-TN', 0x2001: 'ar-OM', 0x2401: 'ar-YE', 0x2801: 'ar-SY', 0x2C01: 'ar-JO', 0x3001: 'ar-LB',
  0x3401: 'ar-KW', 0x3801: 'ar-AE', 0x3C01: 'ar-BH', 0x4001: 'ar-QA',
  0x0406: 'da-DK', 0x041D: 'sv-SE', 0x0414: 'nb-NO', 0x040B: 'fi-FI', 0x0415: 'pl-PL', 0x0405: 'cs-CZ',
  0x040E: 'hu-HU', 0x0408: 'el-GR', 0x041F: 'tr-TR', 0x0419: 'ru-RU', 0x0412: 'ko-KR',
};

function localeOf(languageId) {
  return kLocales[languageId] || 'en-US';
}

function browserPath(given) {
  return given || kBrowser;
}

// A fresh profile per launch (playwright makes one and removes it).
async function launch({ browser, show = false } = {}) {
  const executablePath = browserPath(browser);
  if (!fs.existsSync(executablePath)) {
    throw new Error(`no browser at ${executablePath} (install Debian's chromium)`);
  }
  return chromium.launch({
    executablePath,
    headless: !show,
    args: show ? kBrowserArgs.concat([`--window-size=${kDialogSize.width + 40},${kDialogSize.height + 120}`])
               : kBrowserArgs,
  });
}

// zoom as the browser's page zoom: the same window, zoom times fewer CSS
// pixels across.
// Shown, the window is the person's to size.
async function newDialogContext(browser, { languageId = 0x0409, zoom = 1, show = false } = {}) {
  const locale = localeOf(languageId);
  if (show) return browser.newContext({ locale, viewport: null });
  return browser.newContext({
    locale,
    viewport: { width: Math.round(kDialogSize.width / zoom), height: Math.round(kDialogSize.height / zoom) },
    deviceScaleFactor: zoom,
  });
}

// Runs in the page before its own scripts.
function dialogHost(argument) {
  if (argument !== null) window.dialogArguments = argument;
  window.close = function () {
    if (window.__winsimDialogEnd) return;
    const value = window.returnValue;
    window.__winsimDialogEnd = { answered: typeof value === 'string', answer: typeof value === 'string' ? value : null };
    if (typeof window.__winsimDialogClosed === 'function') window.__winsimDialogClosed();
  };
}

// Opens the page as the dialog; argument is the VT_BSTR text or null.
async function openDialog(context, url, argument) {
  const page = await context.newPage();
  let ended;
  const end = new Promise((resolve) => { ended = resolve; });
  await page.exposeBinding('__winsimDialogClosed', () => ended('closed'));
  page.on('close', () => ended('window'));
  await page.addInitScript(dialogHost, argument);
  await page.goto(url);
  page.setDefaultTimeout(kActionTimeoutMs);
  return { page, end };
}

// Alt with a letter, as a person presses a control's access key. The
// browser matches access keys on the letter the layout gives the key
// (unmodifiedText), which playwright's keyboard leaves out with Alt held,
// so the events go through the DevTools protocol; a letter of any script
// works, as with that script's keyboard layout.
async function pressAccessKey(page, letter) {
  const session = await page.context().newCDPSession(page);
  const upper = letter.toUpperCase();
  const latin = upper.length === 1 && upper >= 'A' && upper <= 'Z';
  const key = {
    modifiers: 1,
    key: letter,
    code: latin ? `Key${upper}` : '',
    windowsVirtualKeyCode: latin ? upper.charCodeAt(0) : 0,
    unmodifiedText: letter,
  };
  try {
    await session.send('Input.dispatchKeyEvent', { type: 'rawKeyDown', ...key });
    await session.send('Input.dispatchKeyEvent', { type: 'char', text: letter, ...key });
    await session.send('Input.dispatchKeyEvent', { type: 'keyUp', ...key });
  } finally {
    await session.detach().catch(() => {});
  }
}

// One user action: "select:<paper name>", "click:<button name>",
// "key:<key>" (Playwright's key names, e.g. Enter, Escape, Tab, ArrowDown,
// Shift+Tab), "access:<letter>" (Alt with a control's access key) or
// "close" (the window's close box).
async function act(page, action) {
  const colon = action.indexOf(':');
  const verb = colon < 0 ? action : action.slice(0, colon);
  const what = colon < 0 ? '' : action.slice(colon + 1);
  if (verb === 'select' && what) {
    const radio = page.getByRole('radio', { name: what, exact: true });
    if ((await radio.count()) !== 1) throw new Error(`no paper named "${what}" on the page`);
    await radio.check();
  } else if (verb === 'click' && what) {
    const button = page.getByRole('button', { name: what, exact: true });
    if ((await button.count()) !== 1) throw new Error(`no button named "${what}" on the page`);
    await button.click();
  } else if (verb === 'key' && what) {
    await page.keyboard.press(what);
  } else if (verb === 'access' && [...what].length === 1) {
    await pressAccessKey(page, what);
  } else if (action === 'close') {
    return 'close';
  } else {
    throw new Error(`unknown user action "${action}" (select:<paper>, click:<button>, key:<key>, access:<letter>, close)`);
  }
  return '';
}

// The page's answer once it called close(); null while it has not.
async function ending(page) {
  return page.evaluate(() => window.__winsimDialogEnd || null);
}

// The window's close box: MSHTML answers whatever returnValue holds.
async function closeBox(page) {
  return page.evaluate(() => {
    const value = window.returnValue;
    return { answered: typeof value === 'string', answer: typeof value === 'string' ? value : null };
  });
}

// Plays the actions on an open dialog until the page closes. With actions
// left over the user stops; headless, the user then closes the window
// (no answer), shown, the person at the window goes on until it closes.
// Answers { answered, answer }; progress.consumed counts the actions
// played, the failing one included. The screenshot is taken as the dialog
// ends, while the page is still there.
async function playUser(dialog, actions,
                        { show = false, screenshot = '', waitMs = 0, progress = { consumed: 0 } } = {}) {
  const { page, end } = dialog;
  const shoot = async () => {
    if (screenshot && !page.isClosed()) await page.screenshot({ path: screenshot, fullPage: true });
  };
  for (const action of actions) {
    ++progress.consumed;
    if ((await act(page, action)) === 'close') {
      const result = await closeBox(page);
      await shoot();
      return result;
    }
    const done = await ending(page);
    if (done) {
      await shoot();
      return done;
    }
  }
  if (show) {
    let last = null;
    const keep = setInterval(async () => {
      try {
        if (!page.isClosed()) last = await page.screenshot({ fullPage: true });
      } catch (e) {
        // the window went away between the check and the picture
      }
    }, 1000);
    const how = await Promise.race([end, new Promise((r) => setTimeout(() => r('timeout'), waitMs))]);
    clearInterval(keep);
    if (how === 'timeout') throw new Error(`nobody closed the dialog within ${waitMs / 1000} s`);
    if (how === 'closed') {
      await shoot();
      return ending(page);
    }
    if (screenshot && last) fs.writeFileSync(screenshot, last);
    return { answered: false, answer: null };
  }
  // A page may close from a timer of its own; give it a moment.
  const late = await Promise.race([end, new Promise((r) => setTimeout(() => r(''), 200))]);
  if (late === 'closed') {
    await shoot();
    return ending(page);
  }
  await shoot();
  return { answered: false, answer: null };
}

module.exports = {
  kDialogSize,
  localeOf,
  kLocales,
  launch,
  newDialogContext,
  openDialog,
  act,
  playUser,
};
