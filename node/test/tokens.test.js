'use strict';
// Budgets in a model's tokens: a real document counted by a real tokenizer,
// counters on the JavaScript thread for shrinkAsync, and counters that fail.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { test } = require('node:test');
const { countTokens } = require('gpt-tokenizer/encoding/o200k_base');
const { getEncoding } = require('js-tiktoken');
const { QuendraError, shrink, shrinkAsync, shrinkValue, tokenCount } = require('..');
const { example } = require('./support');

const api = fs.readFileSync(example('api.json'), 'utf8');

// A counter that counts its calls and may throw from the nth call on.
function counter(count, failFrom = Infinity) {
  const counted = (text) => {
    counted.calls += 1;
    if (counted.calls >= failFrom) throw new RangeError(`count ${counted.calls} failed`);
    return count(text);
  };
  counted.calls = 0;
  return counted;
}

const kDocuments = [
  ['an API page', api, {}],
  ['records condensed', api, { array_strategy: 'condense', arguments: 'stars', indent: 0 }],
];

test('max_tokens is max_chars in budget_unit "tokens", counted by countTokens', () => {
  const counted = counter(countTokens);
  const result = shrink(api, { max_tokens: 300, countTokens: counted });
  assert.ok(result.report.pruned && result.report.output_chars === countTokens(result.text));
  assert.ok(counted.calls > 0);
  assert.equal(shrink(api, { budget_unit: 'tokens', max_chars: 300, countTokens }).envelope, result.envelope);
});

test('many shrinkAsync calls count at once, each with its own counter', async () => {
  const calls = kDocuments.flatMap(([, document, options]) => [40, 300, 2000].map((budget) => [document, { ...options, max_tokens: budget }]));
  const expected = calls.map(([document, options]) => shrink(document, { ...options, countTokens }).envelope);
  const results = await Promise.all(calls.map(([document, options]) => shrinkAsync(document, { ...options, countTokens: counter(countTokens) })));
  assert.deepEqual(results.map((r) => r.envelope), expected);
});

test('a counter that throws ends the call with what it threw', async () => {
  for (const failFrom of [1, 3]) {
    const counted = counter(countTokens, failFrom);
    assert.throws(() => shrink(api, { max_tokens: 100, countTokens: counted }), { name: 'RangeError', message: `count ${failFrom} failed` });
    assert.equal(counted.calls, failFrom);
    const thrown = 'not even an Error';
    await assert.rejects(shrinkAsync(api, { max_tokens: 100, countTokens: counter(() => { throw thrown; }, Infinity) }), (e) => e === thrown);
    const pending = counter(countTokens, failFrom);
    await assert.rejects(shrinkAsync(api, { max_tokens: 100, countTokens: pending }), RangeError);
    assert.equal(pending.calls, failFrom);
  }
  // One failing call among many leaves the others whole.
  const settled = await Promise.allSettled([0, 1, 2, 3].map((i) => shrinkAsync(api, { max_tokens: 300, countTokens: counter(countTokens, i === 2 ? 2 : Infinity) })));
  assert.deepEqual(settled.map((s) => s.status), ['fulfilled', 'fulfilled', 'rejected', 'fulfilled']);
});

test('the built-in encodings shrink as the reference tokenizer counting as a host does', async () => {
  for (const tokenizer of ['o200k_base', 'cl100k_base']) {
    const reference = getEncoding(tokenizer);
    // Special-token texts count as ordinary text, as the library counts them.
    const hostCount = (text) => reference.encode(text, [], []).length;
    for (const [name, document, options] of kDocuments) {
      for (const budget of [40, 300, 2000]) {
        const what = `${name} at ${budget} ${tokenizer} tokens`;
        const builtIn = shrink(document, { ...options, max_tokens: budget, tokenizer });
        const hosted = shrink(document, { ...options, max_tokens: budget, countTokens: hostCount });
        assert.equal(builtIn.report.tokenizer, tokenizer, what);
        assert.equal(builtIn.envelope, hosted.envelope.replace('"tokenizer":"host"', `"tokenizer":"${tokenizer}"`), what);
        assert.equal((await shrinkAsync(document, { ...options, max_tokens: budget, tokenizer })).envelope,
          builtIn.envelope, what);
      }
    }
  }
});

test('bad counts and contradicting options are refused', async () => {
  const kBad = [[() => -1, 'number -1'], [() => 1.5, 'number 1.5'], [() => NaN, 'number NaN'], [() => '7', 'string 7'],
    [() => 2 ** 53, 'number 9007199254740992']];
  for (const [count, what] of kBad) {
    const message = `countTokens returned ${what}; it must return a non-negative safe integer`;
    assert.throws(() => shrink('[1, 2, 3]', { max_tokens: 1, countTokens: count }), { name: 'TypeError', message });
    await assert.rejects(shrinkAsync('[1, 2, 3]', { max_tokens: 1, countTokens: count }), { name: 'TypeError', message });
    // shrinkAsync checks what a Promise resolves to as it checks a number.
    const later = async (text) => count(text);
    await assert.rejects(shrinkAsync('[1, 2, 3]', { max_tokens: 1, countTokens: later }), { name: 'TypeError', message });
  }
  // Only shrinkAsync waits for a Promise.
  const message = 'countTokens returned a Promise (countTokens must count synchronously); it must return a non-negative safe integer';
  for (const count of [async () => 1, () => ({ then: (resolve) => resolve(1) })]) {
    assert.throws(() => shrink('[1, 2, 3]', { max_tokens: 1, countTokens: count }), { name: 'TypeError', message });
    assert.throws(() => shrinkValue([1, 2, 3], { max_tokens: 1, countTokens: count }), { name: 'TypeError', message });
  }
  const kRefused = [
    [{ max_tokens: 5, max_chars: 5, countTokens }, TypeError, /both max_tokens and max_chars/],
    [{ max_tokens: 5, budget_unit: 'bytes', countTokens }, TypeError, /max_tokens with budget_unit "bytes"/],
    [{ max_tokens: 5, countTokens, tokenizer: 'o200k_base' }, TypeError, /both tokenizer and countTokens/],
    [{ max_tokens: 5, countTokens: 'o200k' }, TypeError, /countTokens must be a function/],
    [{ max_tokens: -5, countTokens }, QuendraError, /^invalid options: max_tokens must be a non-negative integer$/],
  ];
  for (const [options, type, message] of kRefused) assert.throws(() => shrink('[1]', options), (e) => e instanceof type && message.test(e.message));
});

test('tokenCount counts in the library as tiktoken does, and refuses bad arguments', () => {
  const { get_encoding } = require('tiktoken');
  const rows = [
    ['hello world', undefined, 2],
    ['日本語のテキスト', 'o200k_base', 6],
    ['日本語のテキスト', 'CL100K_BASE', 8],
    [Buffer.from('<|endoftext|>'), 'cl100k_base', 7],
    ['', '', 0],
  ];
  for (const [text, tokenizer, want] of rows) assert.equal(tokenCount(text, tokenizer), want, String(text));
  const cjk = JSON.stringify({ title: '東京の天気予報', note: '今日は晴れのち曇り、午後から所により雨が降るでしょう。' });
  for (const document of [api, cjk]) {
    for (const name of ['o200k_base', 'cl100k_base']) {
      assert.equal(tokenCount(document, name), get_encoding(name).encode_ordinary(document).length, name);
    }
  }
  assert.throws(() => tokenCount(42), TypeError);
  assert.throws(() => tokenCount('x', 7), TypeError);
  assert.throws(() => tokenCount('x', 'p50k_base'), RangeError);
  assert.throws(() => tokenCount(Uint8Array.of(0xed, 0xa0, 0x80)), QuendraError);
});
