'use strict';
// The README's Node.js examples, run against this package, print the text block after them.
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const { packageDir, readme } = require('./support');

// Runs the first js block of the README's section `heading` in a project
// whose node_modules holds this package and `modules` of its own, and
// compares its output with the text block after it.
function runsAsWritten(t, heading, modules = []) {
  const text = fs.readFileSync(readme, 'utf8');
  const start = text.indexOf(`\n## ${heading}\n`);
  assert.ok(start >= 0, `no section ${heading}`);
  const section = text.slice(start, text.indexOf('\n## ', start + 1));
  const blocks = [...section.matchAll(/^```(\w*)\n([\s\S]*?)^```$/gm)];
  const at = blocks.findIndex((b) => b[1] === 'js');
  assert.ok(at >= 0 && blocks[at + 1]?.[1] === 'text', 'no js block followed by a text block');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'quendra-readme-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  fs.mkdirSync(path.join(dir, 'node_modules'));
  fs.symlinkSync(packageDir, path.join(dir, 'node_modules', 'quendra'), 'dir');
  for (const name of modules) {
    fs.symlinkSync(path.join(packageDir, 'node_modules', name), path.join(dir, 'node_modules', name), 'dir');
  }
  fs.writeFileSync(path.join(dir, 'example.js'), blocks[at][2]);
  assert.equal(execFileSync(process.execPath, ['example.js'], { cwd: dir, encoding: 'utf8' }), blocks[at + 1][2]);
}

test("the README's example prints what the README says", (t) => runsAsWritten(t, 'Node.js'));

test("the README's token budget recipe prints what the README says", (t) =>
  runsAsWritten(t, 'Token budgets', ['gpt-tokenizer']));
