'use strict';
// index.d.ts against the library and the README: every option it declares,
// with every value its type allows, is accepted by the library; its options
// are the README's; its report members are those of a real envelope, in the
// same order and of the declared types.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { test } = require('node:test');
const ts = require('typescript');
const { shrink } = require('..');
const { example, packageDir, readme } = require('./support');

const declarations = ts.createSourceFile('index.d.ts',
  fs.readFileSync(path.join(packageDir, 'index.d.ts'), 'utf8'), ts.ScriptTarget.Latest, true);

// The members of an interface of index.d.ts as [name, type node] pairs.
function members(name) {
  const found = declarations.statements.find((s) => ts.isInterfaceDeclaration(s) && s.name.text === name);
  assert.ok(found, `index.d.ts declares no interface ${name}`);
  return found.members.map((m) => [m.name.text, m.type]);
}

function alternatives(type) {
  return ts.isUnionTypeNode(type) ? type.types.flatMap(alternatives) : [type];
}

// Values of each alternative of a declared type, to hand to the library.
function samples(type) {
  return alternatives(type).flatMap((t) => {
    if (ts.isLiteralTypeNode(t) && ts.isStringLiteral(t.literal)) return [t.literal.text];
    if (ts.isTypeOperatorNode(t)) return samples(t.type);
    if (ts.isArrayTypeNode(t)) return [samples(t.elementType)];
    switch (t.kind) {
      case ts.SyntaxKind.NumberKeyword: return [0, 7];
      case ts.SyntaxKind.BooleanKeyword: return [true, false];
      case ts.SyntaxKind.StringKeyword: return ['id'];
      case ts.SyntaxKind.UnknownKeyword: return ['stars', { any: ['json', 1, null] }];
      default: throw new Error(`no samples for ${t.getText()}`);
    }
  });
}

// Whether a value from the library has the declared type.
function matches(type, value) {
  return alternatives(type).some((t) => {
    if (ts.isLiteralTypeNode(t) && ts.isStringLiteral(t.literal)) return value === t.literal.text;
    if (ts.isTypeOperatorNode(t)) return matches(t.type, value);
    if (ts.isArrayTypeNode(t)) return Array.isArray(value);
    switch (t.kind) {
      case ts.SyntaxKind.NumberKeyword: return typeof value === 'number';
      case ts.SyntaxKind.BooleanKeyword: return typeof value === 'boolean';
      case ts.SyntaxKind.StringKeyword: return typeof value === 'string';
      default: throw new Error(`cannot check ${t.getText()}`);
    }
  });
}

test('the library accepts every declared option with every value its type allows', () => {
  for (const [name, type] of members('Options')) {
    for (const value of samples(type)) {
      assert.doesNotThrow(() => shrink('{"id": 1, "stars": 2}', { [name]: value }), `${name}: ${JSON.stringify(value)}`);
    }
  }
});

test("the declared options are the README's", () => {
  const text = fs.readFileSync(readme, 'utf8');
  const table = text.slice(text.indexOf('## Options'), text.indexOf('\n## ', text.indexOf('## Options') + 1));
  const documented = [...table.matchAll(/^\| `(\w+)` \|/gm)].map((m) => m[1]);
  assert.ok(documented.length > 0);
  assert.deepEqual(members('Options').map(([name]) => name), documented);
});

test('the declared report members are those of an envelope, with their types', () => {
  const api = fs.readFileSync(example('api.json'));
  const { report } = shrink(api, { array_strategy: 'condense', arguments: 'stars', max_chars: 3000, explain: true });
  const checks = [
    ['Report', [report]],
    ['FieldDecision', report.field_decisions],
    ['DroppedField', report.dropped_fields],
  ];
  for (const [name, records] of checks) {
    assert.ok(records.length > 0, `no ${name} to compare`);
    const declared = members(name);
    for (const record of records) {
      assert.deepEqual(Object.keys(record), declared.map(([key]) => key), name);
      for (const [key, type] of declared) {
        assert.ok(matches(type, record[key]), `${name}.${key} is ${JSON.stringify(record[key])}`);
      }
    }
  }
});
