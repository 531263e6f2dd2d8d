'use strict';
// shrinkAsync: the same answers as shrink, the library's work off the event
// loop, and the caller's buffer free for reuse as soon as the call returns.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { test } = require('node:test');
const { QuendraError, shrink, shrinkAsync } = require('..');
const { example } = require('./support');

const api = fs.readFileSync(example('api.json'));
const kCondensed = { array_strategy: 'condense', arguments: 'stars and language', max_chars: 3000, indent: 0, explain: true };

test('answers as shrink does, results and errors alike', async () => {
  const kCases = [[api, kCondensed], [api.toString(), { format: 'yaml', max_chars: 800 }], ['a: [1]\n', undefined],
    ['{}', { max_chars: 'lots' }], ['[1, 2', {}], [Buffer.from([0xc3]), {}], ['{}', { max_chars: 1n }]];
  for (const [document, options] of kCases) {
    let expected;
    try {
      expected = shrink(document, options).envelope;
    } catch (error) {
      await assert.rejects(shrinkAsync(document, options), { name: 'QuendraError', message: error.message });
      continue;
    }
    assert.equal((await shrinkAsync(document, options)).envelope, expected);
  }
  await assert.rejects(shrinkAsync(42), TypeError);
  await assert.rejects(shrinkAsync('[', {}), QuendraError);
});

test('runs on the thread pool while the event loop goes on', async () => {
  // Sixteen calls on ten copies of api.json keep the pool busy for many turns of the loop.
  const big = Buffer.from(`[${Array(10).fill(api.toString()).join(',')}]`);
  const expected = shrink(big, kCondensed).envelope;
  let turns = 0;
  const ticker = setInterval(() => { turns += 1; }, 0);
  const results = await Promise.all(Array.from({ length: 16 }, () => shrinkAsync(big, kCondensed)));
  clearInterval(ticker);
  assert.ok(turns > 0, 'the event loop did not turn while the calls ran');
  for (const result of results) assert.equal(result.envelope, expected);
});

test("copies the document, so the caller's buffer may change at once", async () => {
  const buffer = Buffer.from(api);
  const pending = shrinkAsync(buffer, kCondensed);
  buffer.fill(0x20);
  assert.equal((await pending).envelope, shrink(api, kCondensed).envelope);
});
