'use strict';
// shrinkAsync: the same answers as shrink, the library's work off the event
// loop, and the caller's buffer free for reuse as soon as the call returns.
// With a counter that answers Promises: the same envelopes as a synchronous
// counter, rejections passed on as they are, no pool thread held while a
// count is pending, and an environment that closes mid-count.
const assert = require('node:assert/strict');
const { execFile } = require('node:child_process');
const fs = require('node:fs');
const { test } = require('node:test');
const { setTimeout: sleep } = require('node:timers/promises');
const { Worker } = require('node:worker_threads');
const { countTokens } = require('gpt-tokenizer/encoding/o200k_base');
const { QuendraError, shrink, shrinkAsync } = require('..');
const { example, packageDir } = require('./support');

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

// Counters answering Promises.
const apiPath = example('api.json');
const apiText = fs.readFileSync(apiPath, 'utf8');
const kOptions = [{ max_tokens: 300 }, { max_tokens: 60, array_strategy: 'condense', indent: 0 },
  { max_tokens: 900, format: 'yaml' }];
const kCases = kOptions.map((options) => [apiText, options]);
const expected = kCases.map(([document, options]) => shrink(document, { ...options, countTokens }).envelope);

// Runs `script` in a child node with `env` added; resolves with its exit
// code, signal and output. The kill after a minute turns a hang into a failure.
function run(script, env = {}) {
  return new Promise((resolve) => {
    execFile(process.execPath, ['-e', script], { cwd: packageDir, env: { ...process.env, ...env }, timeout: 60_000 },
      (error, stdout, stderr) => resolve({ code: error ? error.code : 0, signal: error?.signal ?? null, stdout, stderr }));
  });
}

test('a counter answering Promises gives the envelopes of the synchronous counter', async () => {
  const kCounters = [
    ['after a timer', async (text) => { await sleep(1); return countTokens(text); }],
    ['after reading a file', async (text) => { await fs.promises.readFile(apiPath); return countTokens(text); }],
    ['a thenable', (text) => ({ then: (resolve) => setImmediate(resolve, countTokens(text)) })],
    ['now and then', (text) => (text.length % 2 ? countTokens(text) : Promise.resolve(countTokens(text)))],
  ];
  for (const [name, count] of kCounters) {
    for (const [i, [document, options]] of kCases.entries()) {
      assert.equal((await shrinkAsync(document, { ...options, countTokens: count })).envelope, expected[i], name);
    }
  }
});

test('a rejected count rejects the shrink with the very value', async () => {
  const error = new RangeError('the counting service is down');
  for (const value of [error, 'down', 0, undefined, null]) {
    for (const failAt of [1, 3]) {
      let calls = 0;
      const count = async (text) => {
        calls += 1;
        await sleep(0);
        if (calls === failAt) throw value;
        return countTokens(text);
      };
      await assert.rejects(shrinkAsync(apiText, { max_tokens: 100, countTokens: count }), (e) => Object.is(e, value));
      assert.equal(calls, failAt, `no count after the rejection of count ${failAt}`);
    }
  }
});

test('fifty calls at once, each counting asynchronously, all settle with their own envelopes', async () => {
  const calls = Array.from({ length: 50 }, (_, i) => i % kCases.length);
  const results = await Promise.all(calls.map((c, i) => shrinkAsync(kCases[c][0], {
    ...kCases[c][1],
    countTokens: async (text) => { await sleep(i % 4); return countTokens(text); },
  })));
  assert.deepEqual(results.map((r) => r.envelope), calls.map((c) => expected[c]));
});

test('with one pool thread, a counter that uses the pool does not deadlock', async () => {
  // Each count reads a file and makes a nested shrinkAsync, both on the pool,
  // while three shrinks are counting.
  const script = `
    const fs = require('node:fs');
    const { countTokens } = require('gpt-tokenizer/encoding/o200k_base');
    const { shrinkAsync } = require('.');
    const count = async (text) => {
      await fs.promises.readFile(${JSON.stringify(apiPath)});
      await shrinkAsync('[1, 2, 3]', {});
      await shrinkAsync('[1, 2, 3]', { max_tokens: 2, countTokens: async (t) => t.length });
      return countTokens(text);
    };
    const api = fs.readFileSync(${JSON.stringify(apiPath)}, 'utf8');
    Promise.all(${JSON.stringify(kOptions)}.map((o) => shrinkAsync(api, { ...o, countTokens: count })))
      .then((results) => process.stdout.write(JSON.stringify(results.map((r) => r.envelope))));`;
  const { code, signal, stdout, stderr } = await run(script, { UV_THREADPOOL_SIZE: '1' });
  assert.deepEqual([code, signal, stderr], [0, null, '']);
  assert.deepEqual(JSON.parse(stdout), expected);
});

test('the environment closing while a count is pending neither crashes nor hangs', async () => {
  // A count that never settles: the process ends when nothing else is left,
  // and process.exit ends it at once.
  const pending = `const { shrinkAsync } = require('.');
    shrinkAsync('[1, 2, 3]', { max_tokens: 2, countTokens: () => new Promise(() => {}) });
    shrinkAsync('[1, 2, 3]', { max_tokens: 2, countTokens: async (t) => t.length }).then(() => console.log('other'));`;
  assert.deepEqual(await run(pending), { code: 0, signal: null, stdout: 'other\n', stderr: '' });
  const exiting = `const { shrinkAsync } = require('.');
    shrinkAsync('[1, 2, 3]', { max_tokens: 2, countTokens: () => { setTimeout(() => process.exit(3), 5); return new Promise(() => {}); } });`;
  assert.deepEqual(await run(exiting), { code: 3, signal: null, stdout: '', stderr: '' });
  // Workers terminated mid-count, again and again, each with calls waiting
  // on a count, calls between counts, a call counting synchronously and
  // calls on the pool without a counter.
  const source = `const { parentPort } = require('node:worker_threads');
    const { shrinkAsync } = require(${JSON.stringify(packageDir)});
    const document = JSON.stringify(Array.from({ length: 2000 }, (_, i) => ({ id: i, text: 'words '.repeat(i % 30) })));
    for (let i = 0; i < 4; i += 1) shrinkAsync(document, { max_tokens: 50, countTokens: (t) => new Promise(() => {}) });
    for (let i = 0; i < 4; i += 1) shrinkAsync(document, { max_tokens: 50, countTokens: async (t) => t.length });
    for (let i = 0; i < 4; i += 1) shrinkAsync(document, { max_chars: 500 });
    shrinkAsync(document, { max_tokens: 50, countTokens: (t) => { parentPort.postMessage('counting'); return t.length; } });`;
  for (let round = 0; round < 30; round += 1) {
    const worker = new Worker(source, { eval: true });
    const exited = new Promise((resolve) => worker.once('exit', resolve));
    await new Promise((resolve, reject) => { worker.once('message', resolve); worker.once('error', reject); });
    await sleep(round % 4);  // terminated at different points of the calls
    // 0 when the worker ended by itself, the counts that never settle not
    // keeping it alive; a crash would end this process.
    await worker.terminate();
    assert.ok([0, 1].includes(await exited));
  }
});
