'use strict';
// The README's Node.js example, run against this package, prints the text block after it.
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const { packageDir, readme } = require('./support');

test("the README's example prints what the README says", (t) => {
  const text = fs.readFileSync(readme, 'utf8');
  const section = text.slice(text.indexOf('\n## Node.js\n'), text.indexOf('\n## ', text.indexOf('\n## Node.js\n') + 1));
  const blocks = [...section.matchAll(/^```(\w*)\n([\s\S]*?)^```$/gm)];
  const at = blocks.findIndex((b) => b[1] === 'js');
  assert.ok(at >= 0 && blocks[at + 1]?.[1] === 'text', 'no js block followed by a text block');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'quendra-readme-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  fs.mkdirSync(path.join(dir, 'node_modules'));
  fs.symlinkSync(packageDir, path.join(dir, 'node_modules', 'quendra'), 'dir');
  fs.writeFileSync(path.join(dir, 'example.js'), blocks[at][2]);
  assert.equal(execFileSync(process.execPath, ['example.js'], { cwd: dir, encoding: 'utf8' }), blocks[at + 1][2]);
});
