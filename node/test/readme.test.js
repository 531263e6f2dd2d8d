'use strict';
// The README's Node.js example runs against this package and prints what the
// README's text block after it says.
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const { packageDir, readme } = require('./support');

// The fenced blocks of the README's "## Node.js" section as {lang, text}.
function nodeSection() {
  const text = fs.readFileSync(readme, 'utf8');
  const start = text.indexOf('\n## Node.js\n');
  assert.ok(start >= 0, 'README.md has no Node.js section');
  const end = text.indexOf('\n## ', start + 1);
  const section = text.slice(start, end < 0 ? undefined : end);
  return [...section.matchAll(/^```(\w*)\n([\s\S]*?)^```$/gm)].map((m) => ({ lang: m[1], text: m[2] }));
}

test("the README's example prints what the README says", (t) => {
  const blocks = nodeSection();
  const at = blocks.findIndex((b) => b.lang === 'js');
  assert.ok(at >= 0 && blocks[at + 1]?.lang === 'text', 'no js block followed by a text block');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'quendra-readme-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  fs.mkdirSync(path.join(dir, 'node_modules'));
  fs.symlinkSync(packageDir, path.join(dir, 'node_modules', 'quendra'), 'dir');
  fs.writeFileSync(path.join(dir, 'example.js'), blocks[at].text);
  const output = execFileSync(process.execPath, ['example.js'], { cwd: dir, encoding: 'utf8' });
  assert.equal(output, blocks[at + 1].text);
});
