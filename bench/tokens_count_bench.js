'use strict';
// Token counting throughput, one thread, in one Node.js process: the
// library's count through the addon (tokenCount on a string, which includes
// turning it into UTF-8, and on a Buffer, the library's own time) beside
// tiktoken (its Rust core as WebAssembly), js-tiktoken and gpt-tokenizer, on
// the same documents. Prints MB/s (of UTF-8 bytes) and each figure's ratio
// to the fastest of the three JavaScript tokenizers on that document, and
// checks on the way that all five agree on the count.
//
//   node bench/tokens_count_bench.js DIR [--encoding o200k_base|cl100k_base] [--seconds S]
//
// DIR holds answer-2k.json, answer-200k.json, api-1mb.json and
// config-200k.json, as `gen_docs DIR answer-2k.json answer-200k.json
// api-1mb.json config-200k.json` writes them (bench/gen_docs.cc).
const fs = require('node:fs');
const path = require('node:path');
const { performance } = require('node:perf_hooks');

const nodeDir = path.join(__dirname, '..', 'node');
const from = (id) => require(require.resolve(id, { paths: [nodeDir] }));
const quendra = from(nodeDir);
const { get_encoding } = from('tiktoken');
const { getEncoding } = from('js-tiktoken');

const args = process.argv.slice(2);
const option = (name, fallback) => (args.includes(name) ? args[args.indexOf(name) + 1] : fallback);
const dir = args[0];
const encoding = option('--encoding', 'o200k_base');
const seconds = Number(option('--seconds', '0.5'));
if (!dir || dir.startsWith('--')) {
  console.error('usage: node bench/tokens_count_bench.js DIR [--encoding NAME] [--seconds S]');
  process.exit(2);
}

const wasm = get_encoding(encoding);
const js = getEncoding(encoding);
const gpt = from(`gpt-tokenizer/encoding/${encoding}`);

const read = (name) => fs.readFileSync(path.join(dir, name), 'utf8');
const cjk = Array.from({ length: 1500 }, (_, i) =>
  `第${i}段落：今日は晴れのち曇り、午後から所により雨が降るでしょう。気温は平年並みです。` +
  '東京の天気予報によると、明日は全国的に高気圧に覆われる見込みです。').join('\n');
// CJK text without repeated phrases: common characters drawn at random
// (deterministically), so that no count is helped by remembering pieces.
const cjkFresh = (() => {
  const chars = '的一是不了人我在有他这中大来上国个到说们为子和你地出道也时年得就那要下以生会自着去之过家学对可她里后小么心多天而能好都然没日于起还发成事只作当想看文无开手十用主行方又如前所本见经头面公同三已老从动两长知民样现分将外但身些与高意进把法此实回二理美点月明社长' +
    'あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをんアイウエオカキクケコサシスセソタチツテト';
  let seed = 12345;
  const next = () => { seed = (seed * 1103515245 + 12345) >>> 0; return seed >>> 8; };
  const out = [];
  for (let i = 0; i < 100000; i += 1) {
    out.push(chars[next() % chars.length]);
    if (next() % 23 === 0) out.push(next() % 2 ? '、' : '。\n');
  }
  return out.join('');
})();

const kDocuments = [
  ['API answer 2 kB', read('answer-2k.json')],
  ['API answer 200 kB', read('answer-200k.json')],
  ['API answer 1 MB', read('api-1mb.json')],
  ['config 200 kB', read('config-200k.json')],
  ['CJK text', cjk],
  ['CJK text, no phrase repeated', cjkFresh],
  ['minified JSON (examples/api.json)',
    JSON.stringify(JSON.parse(fs.readFileSync(path.join(__dirname, '..', 'examples', 'api.json'), 'utf8')))],
  ['indented JSON (200 kB answer)', JSON.stringify(JSON.parse(read('answer-200k.json')), null, 2)],
];

const kCounters = [
  ['tiktoken (WASM)', (text) => wasm.encode_ordinary(text).length, true],
  ['js-tiktoken', (text) => js.encode(text, [], []).length, true],
  ['gpt-tokenizer', (text) => gpt.countTokens(text), true],
  ['quendra tokenCount(string)', (text) => quendra.tokenCount(text, encoding), false],
  ['quendra tokenCount(Buffer)', (text, bytes) => quendra.tokenCount(bytes, encoding), false],
];

// The best time of one count over repeated runs of about `seconds` in all
// (at least 3 runs), after a warm-up run.
function best(count, text, bytes) {
  count(text, bytes);
  let fastest = Infinity;
  const until = performance.now() + seconds * 1000;
  for (let runs = 0; runs < 3 || performance.now() < until; runs += 1) {
    const start = performance.now();
    count(text, bytes);
    fastest = Math.min(fastest, performance.now() - start);
  }
  return fastest;
}

console.log(`Token counting in ${encoding}, one thread, best of repeated runs (MB/s of UTF-8; ` +
  '× is the ratio to the fastest JavaScript tokenizer on that document)\n');
console.log(`| document | bytes | tokens | ${kCounters.map(([name]) => name).join(' | ')} |`);
console.log(`|---|---|---|${kCounters.map(() => '---').join('|')}|`);
for (const [label, text] of kDocuments) {
  const bytes = Buffer.from(text, 'utf8');
  const counts = kCounters.map(([, count]) => count(text, bytes));
  if (counts.some((n) => n !== counts[0])) {
    console.error(`${label}: the counts differ: ${counts.join(', ')}`);
    process.exitCode = 1;
  }
  const rates = kCounters.map(([, count]) => bytes.length / 1e6 / (best(count, text, bytes) / 1000));
  const fastestJs = Math.max(...rates.filter((_, i) => kCounters[i][2]));
  const cells = rates.map((rate) => `${rate.toFixed(1)} (${(rate / fastestJs).toFixed(2)}×)`);
  console.log(`| ${label} | ${bytes.length.toLocaleString('en')} | ${counts[0].toLocaleString('en')} | ${cells.join(' | ')} |`);
}
