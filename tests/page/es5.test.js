// The page's scripts as MSHTML takes them: plain ES5 (acorn, ecmaVersion
// 5), no DOM or library call that Internet Explorer lacks, the document
// mode pinned, and nothing loaded from outside the package.
'use strict';

const support = require('./support');

support.requireInstalled({ modules: ['acorn'] });

const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const acorn = require('acorn');

const kHtml = fs.readFileSync(path.join(support.kPackage, 'settings.htm'), 'utf8');

// Every script of the page: the files it loads, its inline scripts and its
// inline event handlers.
function pageScripts() {
  const scripts = [];
  const tag = /<script\b([^>]*)>([\s\S]*?)<\/script>/gi;
  let m;
  while ((m = tag.exec(kHtml)) !== null) {
    const src = /\bsrc\s*=\s*"([^"]*)"/i.exec(m[1]);
    if (src) {
      scripts.push({ name: src[1], text: fs.readFileSync(path.join(support.kPackage, src[1]), 'utf8') });
    }
    if (m[2].trim() !== '') scripts.push({ name: `inline script ${scripts.length + 1}`, text: m[2] });
  }
  const handler = /\s(on[a-z]+)\s*=\s*"([^"]*)"/gi;
  while ((m = handler.exec(kHtml)) !== null) scripts.push({ name: `${m[1]} attribute`, text: m[2] });
  return scripts;
}

// Identifiers and member names in the script, with where they stand.
function namesIn(ast) {
  const names = [];
  const visit = (node) => {
    if (!node || typeof node.type !== 'string') return;
    if (node.type === 'MemberExpression' && !node.computed) {
      names.push({ kind: 'member', name: node.property.name, at: node.property.start });
    } else if (node.type === 'Identifier') {
      names.push({ kind: 'identifier', name: node.name, at: node.start });
    }
    for (const key of Object.keys(node)) {
      const value = node[key];
      if (key === 'property' && node.type === 'MemberExpression' && !node.computed) continue;
      if (Array.isArray(value)) value.forEach(visit);
      else if (value && typeof value === 'object') visit(value);
    }
  };
  visit(ast);
  return names;
}

test('every script of the page is ES5', () => {
  const scripts = pageScripts();
  assert.ok(scripts.some((s) => s.name === 'settings.js'), 'the page loads settings.js');
  for (const script of scripts) {
    assert.doesNotThrow(() => acorn.parse(script.text, { ecmaVersion: 5, sourceType: 'script' }),
                        script.name);
  }
});

test('no call that MSHTML lacks', () => {
  const rules = [
    // kind, name, why IE cannot run it
    ['identifier', 'Promise', 'no Promise'],
    ['identifier', 'fetch', 'no fetch'],
    ['identifier', 'Symbol', 'no Symbol'],
    ['identifier', 'Proxy', 'no Proxy'],
    ['identifier', 'Reflect', 'no Reflect'],
    ['identifier', 'URLSearchParams', 'no URLSearchParams'],
    ['identifier', 'globalThis', 'no globalThis'],
    ['member', 'closest', 'no Element.closest'],
    ['member', 'matches', 'Element.matches is msMatchesSelector'],
    ['member', 'append', 'no ParentNode.append'],
    ['member', 'prepend', 'no ParentNode.prepend'],
    ['member', 'replaceWith', 'no ChildNode.replaceWith'],
    ['member', 'includes', 'no includes on strings or arrays'],
    ['member', 'startsWith', 'no String.startsWith'],
    ['member', 'endsWith', 'no String.endsWith'],
    ['member', 'repeat', 'no String.repeat'],
    ['member', 'padStart', 'no String.padStart'],
    ['member', 'find', 'no Array.find'],
    ['member', 'findIndex', 'no Array.findIndex'],
    ['member', 'assign', 'no Object.assign'],
    ['member', 'from', 'no Array.from'],
    ['member', 'key', 'KeyboardEvent.key names differ ("Esc"); use keyCode'],
    ['member', 'fround', 'no Math.fround'],
  ];
  for (const script of pageScripts()) {
    const names = namesIn(acorn.parse(script.text, { ecmaVersion: 5, sourceType: 'script' }));
    for (const [kind, name, why] of rules) {
      const hit = names.find((n) => n.kind === kind && n.name === name);
      assert.equal(hit, undefined, `${script.name}: ${name} at offset ${hit && hit.at}: ${why}`);
    }
    // Internet Explorer before 9, and pages in its older document modes,
    // only know attachEvent.
    const has = (name) => names.some((n) => n.kind === 'member' && n.name === name);
    if (has('addEventListener')) {
      assert.ok(has('attachEvent'), `${script.name}: addEventListener without attachEvent`);
    }
  }
});

test('document mode pinned, nothing from outside the package', () => {
  const head = /<head>\s*([\s\S]*?)<\/head>/i.exec(kHtml)[1];
  assert.match(head, /^<meta http-equiv="X-UA-Compatible" content="IE=edge">/,
               'X-UA-Compatible comes first in the head');
  const references = [...kHtml.matchAll(/\b(?:src|href)\s*=\s*"([^"]*)"/gi)].map((m) => m[1]);
  assert.deepEqual(references, ['settings.js']);
  for (const script of pageScripts()) {
    for (const pattern of [/\bhttps?:/i, /XMLHttpRequest/, /WebSocket/, /\bimport\b/]) {
      assert.doesNotMatch(script.text, pattern, `${script.name} reaches out`);
    }
  }
  assert.doesNotMatch(kHtml, /@import|url\(|<link\b|<iframe\b/i, 'the page loads no other resource');
});
