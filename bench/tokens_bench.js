'use strict';
// Budgets in tokens through the Node.js package, with a real tokenizer
// (gpt-tokenizer's o200k_base, a development dependency of node/): how often
// the library asks the counter, how many characters it hands over, the time
// spent inside the counter, and the library's own time beside the same
// shrink in characters.
//
//   node bench/tokens_bench.js DIR [--runs N]
//
// DIR holds answer-2k.json, answer-20k.json, answer-200k.json and
// api-1mb.json, as `gen_docs DIR answer-2k.json answer-20k.json
// answer-200k.json api-1mb.json` writes them (build-bench/bench/gen_docs).
const fs = require('node:fs');
const path = require('node:path');
const { performance } = require('node:perf_hooks');

const nodeDir = path.join(__dirname, '..', 'node');
const quendra = require(nodeDir);
const { countTokens } = require(require.resolve('gpt-tokenizer/encoding/o200k_base', { paths: [nodeDir] }));

const args = process.argv.slice(2);
const dir = args[0];
const runs = args.includes('--runs') ? Number(args[args.indexOf('--runs') + 1]) : 5;
if (!dir) {
  console.error('usage: node bench/tokens_bench.js DIR [--runs N]');
  process.exit(2);
}

// The cases the figures are asked for: each answer at about half its tokens,
// the 1 MB page at 4,000 tokens.
const kCases = [
  ['2 kB answer', 'answer-2k.json', 0.5],
  ['20 kB answer', 'answer-20k.json', 0.5],
  ['200 kB answer', 'answer-200k.json', 0.5],
  ['1 MB API page', 'api-1mb.json', 4000],
];
const kOptions = { indent: 0 };

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor((xs.length - 1) / 2)];
const min = (xs) => Math.min(...xs);

// One token shrink, measured: calls, characters counted, time in the counter
// and in all.
function measured(document, budget, options = kOptions, count = countTokens) {
  const seen = { calls: 0, chars: 0, counting: 0 };
  const counter = (text) => {
    const start = performance.now();
    const n = count(text);
    seen.counting += performance.now() - start;
    seen.calls += 1;
    seen.chars += text.length;
    return n;
  };
  const start = performance.now();
  const result = quendra.shrink(document, { ...options, max_tokens: budget, countTokens: counter });
  seen.total = performance.now() - start;
  seen.result = result;
  return seen;
}

function timeChars(document, maxChars) {
  const times = [];
  for (let i = 0; i < runs; i += 1) {
    const start = performance.now();
    quendra.shrink(document, { ...kOptions, max_chars: maxChars });
    times.push(performance.now() - start);
  }
  return min(times);
}

const rows = [];
const sweep = [];
for (const [label, file, share] of kCases) {
  const document = fs.readFileSync(path.join(dir, file), 'utf8');
  const whole = countTokens(quendra.shrink(document, { ...kOptions, max_chars: 1e12 }).text);
  const budget = share < 1 ? Math.floor(whole * share) : share;
  const attempts = Array.from({ length: runs }, () => measured(document, budget));
  const first = attempts[0];
  const charsMs = timeChars(document, first.result.text.length);
  const row = (name, tried) => [name, `${whole.toLocaleString('en')} → ${budget.toLocaleString('en')}`,
    tried[0].result.report.output_chars.toLocaleString('en'), tried[0].calls,
    tried[0].chars.toLocaleString('en'), min(tried.map((a) => a.counting)).toFixed(2),
    min(tried.map((a) => a.total - a.counting)).toFixed(2), charsMs.toFixed(2)];
  rows.push(row(label, attempts));
  // What the README suggests for large documents: a text of more than 16
  // characters per budget token cannot fit, so its count may be an estimate;
  // the texts that can fit are still counted exactly.
  const rough = (text) => (text.length > 16 * budget ? Math.ceil(text.length / 3) : countTokens(text));
  if (document.length > 16 * budget) {
    rows.push(row(`${label}, rough count of long texts`,
      Array.from({ length: runs }, () => measured(document, budget, kOptions, rough))));
  }
  // Budgets from 5 to 95 per cent of the document's tokens, for the spread of calls.
  for (let percent = 5; percent < 100; percent += 10) {
    sweep.push(measured(document, Math.floor((whole * percent) / 100)).calls);
  }
  for (const options of [{ indent: 2 }, { format: 'yaml' }, { array_strategy: 'condense', indent: 0 }]) {
    for (let percent = 5; percent < 100; percent += 30) {
      sweep.push(measured(document, Math.floor((whole * percent) / 100), options).calls);
    }
  }
}

console.log(`Token budgets through Node.js (gpt-tokenizer o200k_base), indent 0, best of ${runs} runs\n`);
console.log('| document | tokens → budget | output tokens | counter calls | characters counted | ms in the counter | ms in the library | ms for the same shrink in chars |');
console.log('|---|---|---|---|---|---|---|---|');
for (const row of rows) console.log(`| ${row.join(' | ')} |`);
console.log(`\nCounter calls over ${sweep.length} shrinks (the four documents, budgets from 5 to 95% ` +
  `of their tokens, compact, indented, YAML and condensed): median ${median(sweep)}, most ${Math.max(...sweep)}`);
