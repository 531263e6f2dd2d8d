'use strict';
// The synchronous calls: documents and options reaching the library, the
// Result read from its envelope, its errors, and shrinkValue.
const assert = require('node:assert/strict');
const { test } = require('node:test');
const quendra = require('..');
const { example } = require('./support');

const { QuendraError, shrink, shrinkValue } = quendra;
const kDoc = '{"name": "Zoë 😀", "tags": ["ß", "日本"], "n": 12345678901234567890, "ids": [1, 2, 3, 4, 5, 6]}';

test('reads a string, a Buffer and any view of bytes alike', () => {
  const bytes = Buffer.from(kDoc);
  const padded = new Uint8Array(bytes.length + 7);
  padded.set(bytes, 3);
  const expected = shrink(kDoc, { max_chars: 40, indent: 0 });
  assert.ok(expected.report.pruned);
  for (const document of [bytes, new Uint8Array(bytes), padded.subarray(3, 3 + bytes.length)]) {
    assert.equal(shrink(document, { max_chars: 40, indent: 0 }).envelope, expected.envelope);
  }
  for (const document of [42, null, undefined, { a: 1 }, new Uint16Array(2), new DataView(new ArrayBuffer(2))]) {
    assert.throws(() => shrink(document), TypeError);
  }
});

test('the Result is read from the envelope', () => {
  const result = shrink(kDoc, { max_chars: 40, indent: 0, protect: ['name'] });
  const envelope = JSON.parse(result.envelope);
  assert.deepEqual([result.text, `${result}`, result.report], [envelope.text, envelope.text, envelope.report]);
  assert.deepEqual(result.value, JSON.parse(envelope.text));
  assert.equal(result.value.name, 'Zoë 😀');
  assert.equal(shrink(kDoc, { format: 'yaml' }).value, undefined);
});

test("errors are QuendraErrors with the library's message, or the package's own", () => {
  const circular = {};
  circular.self = circular;
  const kErrors = [
    [() => shrink('{}', { budget: 10 }), 'invalid options: unknown option: budget'],
    [() => shrink('{}', []), 'invalid options: options must be a JSON object'],
    [() => shrink('{}', null), 'invalid options: options must be a JSON object'],
    [() => shrink('[1, 2', {}), "invalid JSON input: expected ',' or ']' at line 1, column 6"],
    [() => shrink(Buffer.from([0x7b, 0xff, 0x7d])), 'input is not valid UTF-8'],
    [() => shrink('{}', { max_chars: 10n }), 'options cannot be written as JSON: Do not know how to serialize a BigInt'],
    [() => shrinkValue(undefined), 'value cannot be written as JSON'],
    [() => shrinkValue(() => 1), 'value cannot be written as JSON'],
    [() => shrinkValue(circular), 'value cannot be written as JSON: it refers to itself (a cycle)'],
    [() => shrinkValue({ id: 1n }), 'value cannot be written as JSON: it holds a BigInt, which JSON has ' +
      'no form for (convert it to a Number or a string first)'],
    [() => shrink('{}', { query: 'a', arguments: 'b' }), /^the options give both query and arguments/],
  ];
  for (const [call, message] of kErrors) {
    assert.throws(call, { message });
  }
});

test('query is another name of arguments', () => {
  const api = require('node:fs').readFileSync(example('api.json'));
  const options = { array_strategy: 'condense', max_chars: 3000, explain: true };
  assert.equal(shrink(api, { ...options, query: 'stars' }).envelope,
    shrink(api, { ...options, arguments: 'stars' }).envelope);
});

test('a text of several lines read as one YAML string draws a warning', async (t) => {
  const page = '<html>\n<body>Bad gateway</body>\n</html>\n';
  const warnings = [];
  const listener = (w) => warnings.push([w.name, w.code, w.message]);
  process.on('warning', listener);
  t.after(() => process.off('warning', listener));
  const quiet = [shrink('a: 1\nb: 2\n'), shrink('one line'), shrink(page, { input_format: 'yaml' })];
  const loud = [shrink(page), shrink(page, { format: 'yaml' }), await quendra.shrinkAsync(Buffer.from(page))];
  await new Promise((resolve) => setImmediate(resolve));
  const message = 'the input is not JSON (unexpected character at line 1, column 1); its 3 lines were read ' +
    'as a single YAML string; give input_format: "json" to refuse such input';
  assert.deepEqual(warnings, Array(loud.length).fill(['QuendraWarning', 'QUENDRA_YAML_STRING', message]));
  assert.equal(quiet.length + loud.length, 6);
  assert.throws(() => shrink(page, { input_format: 'json' }), { name: 'QuendraError' });
});

test('the rules reach the library, and the report counts them when they are asked for', () => {
  const doc = '{"password": "hunter2", "log": "Bearer abc", "trace": [1], "id": 7}';
  const { report, value } = shrink(doc, { redact: true, exclude: 'trace', indent: 0 });
  assert.deepEqual(value, { password: '[redacted]', log: 'Bearer [redacted]', id: 7 });
  assert.deepEqual([report.values_redacted, report.values_excluded], [2, 1]);
  const part = shrink(doc, { root: '/id' });
  assert.deepEqual([part.text, part.report.values_redacted, 'values_excluded' in part.report], ['7', undefined, false]);
  assert.throws(() => shrink(doc, { root: '/nope/x' }), { name: 'QuendraError', message: 'root not found: /nope' });
});

test('shrinkValue shrinks what JSON.stringify writes', () => {
  const value = { when: new Date(0), list: [1, 'two', null, true], skip: undefined, text: 'Zoë 😀' };
  assert.deepEqual(shrinkValue(value, { indent: 0 }).value, JSON.parse(JSON.stringify(value)));
});
