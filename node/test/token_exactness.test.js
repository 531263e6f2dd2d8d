'use strict';
// The library's o200k_base and cl100k_base token ids against tiktoken's
// encode_ordinary (the npm package tiktoken: tiktoken's Rust core built to
// WebAssembly), id for id: on the repository's documents, on generated
// strings that stress every branch of the split patterns, and on long runs
// of one character. The library's ids come from the build's
// tests/token_ids (QUENDRA_TOKEN_IDS, else build/tests/token_ids beside
// node/); without one the tests are skipped.
//
// js-tiktoken (JavaScript regular expressions, whose Unicode is the
// running Node.js's) is compared too, and where it differs from tiktoken
// the library follows tiktoken; the differences found are printed as
// diagnostics: characters that Unicode 16.0 (tiktoken's regex-syntax 0.8.5)
// classes otherwise than Node.js's Unicode, and U+017F (ſ) in the
// contractions, which the Rust pattern's case folding matches as s.
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { test } = require('node:test');
const { get_encoding } = require('tiktoken');
const { getEncoding } = require('js-tiktoken');
const { packageDir } = require('./support');

const repoDir = path.join(packageDir, '..');
const binary = process.env.QUENDRA_TOKEN_IDS || path.join(repoDir, 'build', 'tests', 'token_ids');
const skip = fs.existsSync(binary) ? false : `no ${binary} (build the repository first)`;

const kEncodings = ['o200k_base', 'cl100k_base'];
const reference = Object.fromEntries(kEncodings.map((name) => [name, get_encoding(name)]));
const other = Object.fromEntries(kEncodings.map((name) => [name, getEncoding(name)]));

// The library's ids of each [encoding, text] (a string, or a Buffer of any
// bytes): arrays of ids, or null where it refused the text.
function ours(items) {
  const parts = [];
  for (const [encoding, text] of items) {
    const bytes = Buffer.isBuffer(text) ? text : Buffer.from(text, 'utf8');
    const head = Buffer.alloc(5);
    head[0] = kEncodings.indexOf(encoding);
    head.writeUInt32LE(bytes.length, 1);
    parts.push(head, bytes);
  }
  const run = spawnSync(binary, { input: Buffer.concat(parts), maxBuffer: 1 << 30 });
  assert.equal(run.status, 0, `token_ids failed: ${run.stderr}`);
  const out = [];
  let at = 0;
  for (let k = 0; k < items.length; k += 1) {
    const n = run.stdout.readUInt32LE(at);
    at += 4;
    if (n === 0xFFFFFFFF) {
      out.push(null);
      continue;
    }
    const ids = new Array(n);
    for (let j = 0; j < n; j += 1) ids[j] = run.stdout.readUInt32LE(at + 4 * j);
    at += 4 * n;
    out.push(ids);
  }
  assert.equal(at, run.stdout.length);
  return out;
}

const same = (a, b) => a.length === b.length && a.every((x, i) => x === b[i]);
const show = (text) => JSON.stringify(text.length > 120 ? `${text.slice(0, 120)}…` : text);

// Compares every text in both encodings; returns how many comparisons were
// made. Mismatches fail with the first few of them.
function compare(t, texts, label) {
  const items = texts.flatMap((text) => kEncodings.map((encoding) => [encoding, text]));
  const got = ours(items);
  const wrong = [];
  const disagreements = [];
  items.forEach(([encoding, text], k) => {
    const want = Array.from(reference[encoding].encode_ordinary(text));
    if (got[k] === null || !same(got[k], want)) {
      wrong.push(`${encoding} ${show(text)}: want ${JSON.stringify(want.slice(0, 40))}, ` +
        `got ${JSON.stringify(got[k] && got[k].slice(0, 40))}`);
    }
    // js-tiktoken's merge slows down steeply with a piece's length; a
    // quarter of the texts tell where it differs.
    if (k % 8 < 2 && text.length <= 256 && !same(other[encoding].encode(text, [], []), want)) {
      disagreements.push(`${encoding} ${show(text)}`);
    }
  });
  if (disagreements.length > 0) {
    t.diagnostic(`${label}: js-tiktoken differs from tiktoken on ${disagreements.length} of ` +
      `${items.length}, e.g. ${disagreements.slice(0, 3).join('; ')}`);
  }
  assert.deepEqual(wrong.slice(0, 5), [], `${wrong.length} of ${items.length} ${label} differ`);
  return items.length;
}

// A small deterministic generator (mulberry32), so that a failure repeats.
function random(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6D2B79F5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// Code points of every general category as this Node.js knows them, plus
// code points it knows as unassigned (some of which Unicode 16 assigned).
function categories() {
  const names = ['Lu', 'Ll', 'Lt', 'Lm', 'Lo', 'Mn', 'Mc', 'Me', 'Nd', 'Nl', 'No', 'Pc', 'Pd', 'Ps',
    'Pe', 'Pi', 'Pf', 'Po', 'Sm', 'Sc', 'Sk', 'So', 'Zs', 'Zl', 'Zp', 'Cc', 'Cf', 'Co', 'Cn'];
  const patterns = names.map((name) => new RegExp(`^\\p{gc=${name}}$`, 'u'));
  const by = Object.fromEntries(names.map((name) => [name, []]));
  for (let cp = 0; cp < 0x110000; cp += 1) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const s = String.fromCodePoint(cp);
    const k = patterns.findIndex((p) => p.test(s));
    by[names[k]].push(cp);
  }
  // Unassigned code points near assigned ones are the likeliest to be
  // assigned by a later Unicode; far ones (planes 3 to 16) are few here.
  by.Cn = by.Cn.filter((cp) => cp < 0x30000 || cp % 4099 === 0);
  return by;
}

// Pieces of text the generated strings are made of.
function atoms(by) {
  const cp = (list, pick) => String.fromCodePoint(list[Math.floor(pick() * list.length)]);
  const fixed = [
    ' ', '  ', '\t', '\n', '\r', '\r\n', '\n\n', ' \n', '\u00A0', '\u2003', '\u3000', '\u0085',
    '\u2028', '\u000B', '\u000C', '\u200B', '\uFEFF', '/', '//', '\\', '"', "'", '{', '}', '[', ']',
    ':', ',', '.', '...', '-', '_', '#', '@', '!?', '<|endoftext|>', '<|fim_prefix|>',
    "'s", "'S", "'t", "'T", "'re", "'rE", "'Re", "'RE", "'ve", "'VE", "'vE", "'m", "'M", "'ll",
    "'LL", "'lL", "'Ll", "'d", "'D", "'ſ", "'r", "'l", "'v", "'x", "''", "’s",
    'e\u0301', '\u0301', '\u0300\u0301', 'a\u0308\u0304', '\u093F', 'क्षि', 'ﬁ', 'ǅ', 'ǈa', 'ᾈ',
    '🙂', '👍🏽', '👨‍👩‍👧', '🏳️‍🌈', '🇫🇷', '❤️', '✋🏿', '1️⃣', '🧑🏻‍💻',
    'Ⅻ', '½', '²', '٣', '५', '５', '𝟙',
  ];
  const words = [
    'hello', 'Hello', 'HELLO', 'hELLO', 'CamelCase', 'snake_case', 'don', 'WORLD', 'JSONParser',
    'naïve', 'Ørsted', 'straße', 'ΑΘΗΝΑ', 'αθήνα', 'Москва', 'москва', '日本語', 'テキスト', 'ひらがな',
    '中文字符', '한국어', 'ภาษาไทย', 'हिन्दी', 'العربية', 'עברית', 'ქართული', 'Ελληνικά', 'ꦗꦮ',
    'http://example.com/a/b?c=d', 'user@example.com', 'a1b2', 'x86_64', 'v1.2.3', '0x1F', '3.14159',
  ];
  const categoryNames = Object.keys(by);
  return (pick) => {
    const r = pick();
    if (r < 0.3) return cp(by[categoryNames[Math.floor(pick() * categoryNames.length)]], pick);
    if (r < 0.55) return fixed[Math.floor(pick() * fixed.length)];
    if (r < 0.75) return words[Math.floor(pick() * words.length)];
    if (r < 0.85) {
      // A run of digits of any length, ASCII or another script's.
      const digits = pick() < 0.7 ? '0123456789' : '٠١٢٣٤٥٦٧٨٩';
      return Array.from({ length: 1 + Math.floor(pick() * 12) }, () => digits[Math.floor(pick() * 10)]).join('');
    }
    if (r < 0.95) {
      // Spaces, tabs and line breaks mixed.
      const ws = [' ', ' ', '\t', '\n', '\r', '\r\n', '\u00A0'];
      return Array.from({ length: 1 + Math.floor(pick() * 6) }, () => ws[Math.floor(pick() * ws.length)]).join('');
    }
    // A short run of one letter of a category (marks after letters).
    const list = by[['Lu', 'Ll', 'Lo', 'Lm', 'Mn', 'Mc'][Math.floor(pick() * 6)]];
    return cp(list, pick).repeat(1 + Math.floor(pick() * 4));
  };
}

function repoFiles() {
  const files = [];
  const walk = (dir) => {
    for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
      const full = path.join(dir, entry.name);
      if (entry.isDirectory()) walk(full);
      else files.push(full);
    }
  };
  for (const dir of ['examples', 'fuzz/corpus']) walk(path.join(repoDir, dir));
  for (const name of fs.readdirSync(path.join(repoDir, 'tests'))) {
    if (name.endsWith('.cc') || name.endsWith('.c') || name.endsWith('.sh')) files.push(path.join(repoDir, 'tests', name));
  }
  files.push(path.join(repoDir, 'README.md'), path.join(repoDir, 'include', 'quendra.h'));
  return files;
}

test('the repository\'s documents: the same ids as tiktoken, and bytes that are not UTF-8 refused', { skip }, (t) => {
  const texts = [];
  const refused = [];
  const strict = new TextDecoder('utf-8', { fatal: true });
  for (const file of repoFiles()) {
    const bytes = fs.readFileSync(file);
    try {
      texts.push(strict.decode(bytes));
    } catch {
      refused.push(bytes);
    }
  }
  const compared = compare(t, texts, 'documents');
  assert.ok(compared >= 60, `only ${compared} documents`);
  const got = ours(refused.flatMap((bytes) => kEncodings.map((encoding) => [encoding, bytes])));
  assert.ok(got.every((ids) => ids === null), 'a text that is not UTF-8 was counted');
  t.diagnostic(`${compared} comparisons of documents; ${refused.length} files that are not UTF-8 refused`);
});

test('generated strings stressing the split patterns: the same ids as tiktoken', { skip }, (t) => {
  const by = categories();
  const next = atoms(by);
  const pick = random(0x5eed);
  const texts = [];
  for (let k = 0; k < 100000; k += 1) {
    const parts = [];
    const count = 1 + Math.floor(pick() * 12);
    for (let j = 0; j < count; j += 1) parts.push(next(pick));
    texts.push(parts.join(''));
  }
  // Every code point of the letter, mark and number categories, and of the
  // unassigned ones near them, once, between letters and spaces.
  for (const name of ['Lu', 'Ll', 'Lt', 'Lm', 'Mn', 'Mc', 'Me', 'Nd', 'Nl', 'No', 'Zs', 'Cf', 'Cn']) {
    const list = by[name];
    for (let k = 0; k < list.length; k += 64) {
      const chunk = list.slice(k, k + 64).map((cp) => String.fromCodePoint(cp));
      texts.push(chunk.map((c, i) => (i % 3 === 0 ? ` ${c}` : i % 3 === 1 ? `a${c}` : `${c}A'S`)).join(''));
    }
  }
  let compared = 0;
  for (let k = 0; k < texts.length; k += 20000) compared += compare(t, texts.slice(k, k + 20000), 'generated strings');
  t.diagnostic(`${compared} comparisons of ${texts.length} generated strings`);
});

test('long runs of one character or pattern: the same ids as tiktoken', { skip }, (t) => {
  const units = ['a', 'A', ' ', '\n', '\t', '\r\n', '1', '日', 'é', 'e\u0301', '🙂', ' a', 'ab', "'s",
    '.', '{"a":', ' \n', '  x', '\u00A0', '\u0301', 'ـ', 'Ꙭ'];
  const lengths = [1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 200, 255,
    256, 257, 500, 1000, 2000, 5000];
  const texts = [];
  for (const unit of units) {
    for (const n of lengths) {
      const run = unit.repeat(n);
      texts.push(run, `${run}x`, `x${run}`, `${run} `);
    }
  }
  const compared = compare(t, texts, 'long runs');
  t.diagnostic(`${compared} comparisons of long runs`);
});
