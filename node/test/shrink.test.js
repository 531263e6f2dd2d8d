'use strict';
// The synchronous calls: documents and options reaching the library, the
// Result read from its envelope, its errors, and shrinkValue.
const assert = require('node:assert/strict');
const { test } = require('node:test');
const quendra = require('..');
const { packageDir } = require('./support');

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
    [() => shrinkValue(circular), /^value cannot be written as JSON: Converting circular structure/],
  ];
  for (const [call, message] of kErrors) {
    assert.throws(call, QuendraError);
    assert.throws(call, { name: 'QuendraError', message });
  }
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

test('version is the library version, which the package carries', () => {
  assert.equal(quendra.version, require(`${packageDir}/package.json`).version);
});
