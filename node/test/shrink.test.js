'use strict';
// The synchronous calls: exact answers for the README's examples, the
// library's error messages, every form of document, and shrinkValue.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { describe, test } = require('node:test');
const quendra = require('..');
const { example, packageDir } = require('./support');

const { QuendraError, shrink, shrinkValue } = quendra;

const kIds = '{"ids":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20]}';
const users = fs.readFileSync(example('users.json'));

describe('shrink', () => {
  test('gives the envelope of the README byte for byte', () => {
    const result = shrink(kIds, { max_chars: 40, indent: 0 });
    assert.equal(result.envelope,
      '{"ok":true,"text":"{\\"ids\\":[1,2,3,\\"…[16 items omitted]\\",20]}","report":{"input_chars":60,' +
      '"output_chars":40,"max_chars":40,"format":"json","input_format":"json","pruned":true,"fits":true,' +
      '"strings_truncated":0,"arrays_sampled":1,"items_omitted":16,"objects_trimmed":0,"keys_omitted":0,' +
      '"containers_collapsed":0,"arrays_condensed":0,"protected_omitted":0,"field_decisions":[],' +
      '"fields_dropped":0,"dropped_fields":[]}}');
    assert.equal(result.text, '{"ids":[1,2,3,"…[16 items omitted]",20]}');
    assert.equal(`${result}`, result.text);
    assert.deepEqual(result.value, { ids: [1, 2, 3, '…[16 items omitted]', 20] });
    assert.equal(result.report.items_omitted, 16);
  });

  const kTexts = [
    {
      name: 'users.json in 300 characters',
      options: { max_chars: 300 },
      text: [
        '{',
        '  "users": [',
        '    {',
        '      "id": 1,',
        '      "name": "Ada",',
        '      "role": "admin"',
        '    },',
        '    "…[6 items omitted]",',
        '    {',
        '      "id": 8,',
        '      "2 keys omitted": "…"',
        '    }',
        '  ],',
        '  "bio": "Ada wrote the first published program for a machine that was never built. ' +
          'She saw that it could act…[+33 chars]"',
        '}',
      ].join('\n'),
    },
    {
      name: 'users.json as YAML in 200 characters',
      options: { max_chars: 200, format: 'yaml' },
      text: [
        'users:',
        '  - id: 1',
        '    name: Ada',
        '    role: admin',
        '  - …[7 items omitted]',
        'bio: Ada wrote the first published program for a machine that was never built. ' +
          'She saw that it could act…[+33 chars]',
        '',
      ].join('\n'),
    },
  ];
  for (const c of kTexts) {
    test(`gives the README's text: ${c.name}`, () => {
      const result = shrink(users, c.options);
      assert.equal(result.text, c.text);
      assert.equal(result.report.output_chars, [...c.text].length);
    });
  }

  test('reads a string, a Buffer and any view of bytes alike', () => {
    const text = '{"name": "Zoë 😀", "tags": ["ß", "ǅ", "日本"], "n": 12345678901234567890}';
    const bytes = Buffer.from(text);
    const padded = new Uint8Array(bytes.length + 7);
    padded.set(bytes, 3);
    const options = { max_chars: 30, indent: 0 };
    const expected = shrink(text, options).envelope;
    for (const document of [bytes, new Uint8Array(bytes), padded.subarray(3, 3 + bytes.length)]) {
      assert.equal(shrink(document, options).envelope, expected);
    }
    assert.equal(shrink(text, { indent: 0 }).text,
      '{"name":"Zoë 😀","tags":["ß","ǅ","日本"],"n":12345678901234567890}');
  });

  test('refuses documents that are neither text nor bytes', () => {
    for (const document of [42, null, undefined, { a: 1 }, new Uint16Array(2), new DataView(new ArrayBuffer(2))]) {
      assert.throws(() => shrink(document), TypeError);
    }
  });
});

describe('errors', () => {
  const kErrors = [
    ['{}', { max_chars: 'lots' }, 'invalid options: max_chars must be a non-negative integer'],
    ['{}', { max_chars: -1 }, 'invalid options: max_chars must be a non-negative integer'],
    ['{}', { array_strategy: 'random' }, 'invalid options: array_strategy must be "sample" or "condense"'],
    ['{}', { format: 'yaml', indent: 1 }, 'invalid options: YAML indent must be at least 2'],
    ['{}', { budget: 10 }, 'invalid options: unknown option: budget'],
    ['{}', [], 'invalid options: options must be a JSON object'],
    ['{}', null, 'invalid options: options must be a JSON object'],
    ['', {}, 'invalid JSON input: unexpected end of input at line 1, column 1'],
    ['[1, 2', {}, "invalid JSON input: expected ',' or ']' at line 1, column 6"],
    [Buffer.from([0x7b, 0xff, 0x7d]), {}, 'input is not valid UTF-8'],
    ['{}', { max_chars: 10n }, 'options cannot be written as JSON: Do not know how to serialize a BigInt'],
  ];
  for (const [document, options, message] of kErrors) {
    test(message, () => {
      assert.throws(() => shrink(document, options), (error) => {
        assert.ok(error instanceof QuendraError);
        assert.ok(error instanceof Error);
        assert.equal(error.name, 'QuendraError');
        assert.equal(error.message, message);
        return true;
      });
    });
  }
});

describe('shrinkValue', () => {
  test('shrinks what JSON.stringify writes', () => {
    const answer = { items: Array.from({ length: 100 }, (_, i) => ({ id: i, name: `item ${i}`, tags: ['new'] })) };
    const result = shrinkValue(answer, { max_chars: 120, indent: 0 });
    assert.equal(result.text,
      '{"items":[{"id":0,"name":"item 0","tags":["new"]},"…[98 items omitted]",' +
      '{"id":99,"name":"item 99","tags":["new"]}]}');
    const small = { when: new Date(0), list: [1, 'two', null, true], skip: undefined, text: 'Zoë 😀' };
    assert.deepEqual(shrinkValue(small).value, JSON.parse(JSON.stringify(small)));
    assert.equal(shrinkValue(small, { format: 'yaml' }).value, undefined);
  });

  test('refuses values that JSON cannot hold', () => {
    const circular = {};
    circular.self = circular;
    assert.throws(() => shrinkValue(undefined), { name: 'QuendraError', message: 'value cannot be written as JSON' });
    assert.throws(() => shrinkValue(() => 1), { name: 'QuendraError', message: 'value cannot be written as JSON' });
    assert.throws(() => shrinkValue(circular),
      { name: 'QuendraError', message: /^value cannot be written as JSON: Converting circular structure/ });
  });
});

test('version is the library version, which the package carries', () => {
  const pkg = JSON.parse(fs.readFileSync(`${packageDir}/package.json`, 'utf8'));
  assert.match(quendra.version, /^\d+\.\d+\.\d+$/);
  assert.equal(quendra.version, pkg.version);
});
