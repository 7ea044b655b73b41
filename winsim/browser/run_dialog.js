// One showing of winsim's HTML dialog in the browser, started by
// winsim/src/html_dialog.cpp:
//   node run_dialog.js <request.json> <result file>
// The request: { page (file URL), argument (text or null), language
// (Windows language identifier), actions [...], show, browser, screenshot,
// timeoutMs }. The result file, as the caller reads it: a status line
// ("answered", "none" or "failed"), the number of actions used, then the
// answer (or the failure's message) to the end of the file.
'use strict';

const fs = require('fs');

function writeResult(file, status, consumed, text) {
  fs.writeFileSync(file, `${status}\n${consumed}\n${text}`);
}

async function main() {
  const [requestFile, resultFile] = process.argv.slice(2);
  if (!requestFile || !resultFile) {
    process.stderr.write('usage: node run_dialog.js <request.json> <result file>\n');
    return 2;
  }
  const progress = { consumed: 0 };
  let browser = null;
  let limit = null;
  try {
    const request = JSON.parse(fs.readFileSync(requestFile, 'utf8'));
    limit = setTimeout(() => {
      writeResult(resultFile, 'failed', progress.consumed,
                  `the dialog did not end within ${request.timeoutMs / 1000} s`);
      process.exit(1);
    }, request.timeoutMs);
    // Loaded here, so that a missing package is reported like any failure.
    const host = require('./dialog_host');
    browser = await host.launch({ browser: request.browser, show: request.show });
    const context = await host.newDialogContext(browser, {
      languageId: request.language,
      show: request.show,
    });
    const dialog = await host.openDialog(context, request.page, request.argument);
    const outcome = await host.playUser(dialog, request.actions, {
      show: request.show,
      screenshot: request.screenshot,
      waitMs: request.timeoutMs,
      progress,
    });
    writeResult(resultFile, outcome.answered ? 'answered' : 'none', progress.consumed,
                outcome.answered ? outcome.answer : '');
  } catch (error) {
    const message = String(error && error.message ? error.message : error).split('\n')[0];
    writeResult(resultFile, 'failed', progress.consumed, message);
  } finally {
    clearTimeout(limit);
    if (browser) await browser.close().catch(() => {});
  }
  return 0;
}

main().then((code) => process.exit(code));
