'use strict';
// index.d.ts against the library and the README: the library takes every
// declared option with every value its type allows, the options are the
// README's, and the report members are a real envelope's, in order and of
// the declared types.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { test } = require('node:test');
const ts = require('typescript');
const { shrink } = require('..');
const { example, packageDir, readme } = require('./support');

const declarations = ts.createSourceFile('index.d.ts',
  fs.readFileSync(path.join(packageDir, 'index.d.ts'), 'utf8'), ts.ScriptTarget.Latest, true);

// The members of an interface of index.d.ts as [name, type node, optional]
// triples.
function members(name) {
  const found = declarations.statements.find((s) => ts.isInterfaceDeclaration(s) && s.name.text === name);
  assert.ok(found, `index.d.ts declares no interface ${name}`);
  return found.members.map((m) => [m.name.text, m.type, m.questionToken !== undefined]);
}

// Each alternative of a declared type as [samples: a function giving values
// of it, accepts: whether a value is of it].
function alternatives(type) {
  if (ts.isUnionTypeNode(type)) return type.types.flatMap(alternatives);
  if (ts.isTypeOperatorNode(type)) return alternatives(type.type);
  if (ts.isLiteralTypeNode(type)) return [[() => [type.literal.text], (v) => v === type.literal.text]];
  if (ts.isArrayTypeNode(type)) return [[() => [samples(type.elementType)], Array.isArray]];
  if (ts.isTypeReferenceNode(type)) {
    const alias = declarations.statements.find((s) => ts.isTypeAliasDeclaration(s) && s.name.text === type.typeName.text);
    assert.ok(alias, `cannot handle ${type.getText()}`);
    return alternatives(alias.type);
  }
  if (ts.isTemplateLiteralTypeNode(type)) {
    const head = type.head.text;
    return [[() => [`${head}id`], (v) => typeof v === 'string' && v.startsWith(head)]];
  }
  const kinds = {
    [ts.SyntaxKind.NumberKeyword]: [() => [0, 7], (v) => typeof v === 'number'],
    [ts.SyntaxKind.BooleanKeyword]: [() => [true, false], (v) => typeof v === 'boolean'],
    [ts.SyntaxKind.StringKeyword]: [() => ['id'], (v) => typeof v === 'string'],
    [ts.SyntaxKind.UnknownKeyword]: [() => ['stars', { any: ['json', 1, null] }], () => true],
  };
  assert.ok(kinds[type.kind], `cannot handle ${type.getText()}`);
  return [kinds[type.kind]];
}

const samples = (type) => alternatives(type).flatMap(([values]) => values());

test('the library accepts every declared option with every value its type allows', () => {
  for (const [name, type] of members('Options')) {
    for (const value of samples(type)) {
      // A tokenizer counts a budget in tokens, where no host counter is given.
      const options = name === 'tokenizer' ? { tokenizer: value, budget_unit: 'tokens' }
        : { [name]: value, countTokens: (text) => text.length };
      assert.doesNotThrow(() => shrink('{"id": 1, "stars": 2}', options), `${name}: ${JSON.stringify(value)}`);
    }
  }
});

test("the declared options are the README's", () => {
  const text = fs.readFileSync(readme, 'utf8');
  const table = text.slice(text.indexOf('## Options'), text.indexOf('\n## ', text.indexOf('## Options') + 1));
  const documented = [...table.matchAll(/^\| `(\w+)` \|/gm)].map((m) => m[1]);
  assert.deepEqual(members('Options').map(([name]) => name), documented);
});

test('the declared report members are those of an envelope, with their types', () => {
  // The optional members come only with the options that ask for them.
  const options = { array_strategy: 'condense', arguments: 'stars', max_chars: 3000, explain: true };
  const { report } = shrink(fs.readFileSync(example('api.json')), { ...options, redact: true, budget_unit: 'tokens' });
  const plain = shrink(fs.readFileSync(example('api.json')), options).report;
  assert.deepEqual(Object.keys(plain), members('Report').filter(([, , optional]) => !optional).map(([key]) => key));
  for (const [name, records] of [['Report', [report]], ['FieldDecision', report.field_decisions],
    ['DroppedField', report.dropped_fields]]) {
    assert.ok(records.length > 0, `no ${name} to compare`);
    for (const record of records) {
      assert.deepEqual(Object.keys(record), members(name).map(([key]) => key), name);
      for (const [key, type] of members(name)) {
        assert.ok(alternatives(type).some(([, accepts]) => accepts(record[key])), `${name}.${key} is ${JSON.stringify(record[key])}`);
      }
    }
  }
});
