// What the page tests share: the repository's paths, the check that what
// they need is installed (else the run is skipped, exit 77 for ctest), and
// the table of papers per language that the C++ tests read too.
'use strict';

const fs = require('fs');
const path = require('path');
const { pathToFileURL } = require('url');

const kRepository = path.resolve(__dirname, '..', '..');
const kPackage = path.join(kRepository, 'package');
const kPageUrl = pathToFileURL(path.join(kPackage, 'settings.htm')).href;
const kSkip = 77;

// Skips the whole run, with the reason, when a package is missing.
function requireInstalled({ modules, browser = false }) {
  const missing = [];
  for (const name of modules) {
    if (!fs.existsSync(path.join(kRepository, 'node_modules', name, 'package.json'))) {
      missing.push(`node_modules/${name} (run npm ci in ${kRepository})`);
    }
  }
  if (browser && !fs.existsSync('/usr/bin/chromium')) {
    missing.push('/usr/bin/chromium (apt-get install chromium)');
  }
  if (missing.length > 0) {
    process.stdout.write(`SKIP: not installed: ${missing.join(', ')}\n`);
    process.exit(kSkip);
  }
}

// tests/shared/page_papers.tsv by language: { papers, status, lang, dir,
// labels, accessKeys, block }, block being the language whose block it
// shows (itself for a block of its own). Shared blocks come last in the map.
function languageTable() {
  const text = fs.readFileSync(path.join(kRepository, 'tests', 'shared', 'page_papers.tsv'), 'utf8');
  const table = new Map();
  const same = [];
  for (const line of text.split('\n')) {
    if (line === '' || line.startsWith('#')) continue;
    const [kind, language, ...rest] = line.split('\t');
    const id = parseInt(language, 16);
    if (kind === 'same') {
      same.push([id, parseInt(rest[0], 16)]);
      continue;
    }
    if (!table.has(id)) {
      table.set(id, { papers: [], status: '', lang: '', dir: '', labels: {}, accessKeys: {}, block: id });
    }
    const entry = table.get(id);
    if (kind === 'paper') {
      const [name, width, height, paperId, code, metric, inch] = rest;
      entry.papers.push({ name, width: +width, height: +height, id: +paperId, code: +code, metric, inch });
    } else if (kind === 'status') {
      entry.status = rest[0];
    } else if (kind === 'page') {
      [entry.lang, entry.dir] = rest;
    } else if (kind === 'label') {
      entry.labels[rest[0]] = rest[1];
    } else if (kind === 'accesskey') {
      entry.accessKeys[rest[0]] = rest[1];
    }
  }
  for (const [id, block] of same) table.set(id, { ...table.get(block), block });
  return table;
}

// Where the run keeps its screenshots: LARK_PAGE_ARTIFACTS (ctest sets it
// under the build folder), else nowhere.
function artifactPath(name) {
  const dir = process.env.LARK_PAGE_ARTIFACTS;
  if (!dir) return '';
  fs.mkdirSync(dir, { recursive: true });
  return path.join(dir, name);
}

module.exports = { kRepository, kPackage, kPageUrl, requireInstalled, languageTable, artifactPath };
