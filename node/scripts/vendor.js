'use strict';
// Copies what building the addon needs from the repository around this
// package into vendor/, so that the packed tarball builds on its own: the
// library's sources (src/**/*.cc but the table generators gen_*.cc,
// src/**/*.h, include/quendra.h), its Unicode tables (generated from ICU
// here, so that a build from the tarball needs no ICU), the tokenizers'
// tables (generated here from third_party/), and node-addon-api's headers
// (from node_modules, so that the tarball has no dependency). Also copies
// the licence files into the package. Run by `npm pack` (prepack) and
// before every build in a checkout. Files are
// written only when their content changed, which keeps incremental builds
// incremental; files gone from the repository are removed.
const { spawnSync } = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

const packageDir = path.resolve(__dirname, '..');
const repoDir = path.dirname(packageDir);
const vendorDir = path.join(packageDir, 'vendor');

// The library's files as [repository directory, file filter] pairs; each
// lands in vendor/ under the same directory name, subdirectories included.
// The table generators (gen_*.cc) run here, not in the addon's build.
const kParts = [
  ['src', (name) => (name.endsWith('.cc') && !name.startsWith('gen_')) || name.endsWith('.h')],
  ['include', (name) => name === 'quendra.h'],
];
const kAddonApiFiles = ['napi.h', 'napi-inl.h', 'napi-inl.deprecated.h', 'LICENSE.md'];
const kLicenseFiles = ['LICENSE', 'THIRD-PARTY-NOTICES'];

// True when this package sits in a quendra checkout (node/ beside src/ and
// include/); false when it was installed from a tarball.
function inCheckout() {
  return fs.existsSync(path.join(repoDir, 'src', 'libquendra.map')) &&
    fs.existsSync(path.join(repoDir, 'include', 'quendra.h'));
}

function fail(message) {
  console.error(`quendra: ${message}`);
  process.exit(1);
}

// Writes `data` to `target` unless it holds it already; returns 1 when written.
function put(target, data) {
  if (fs.existsSync(target) && data.equals(fs.readFileSync(target))) return 0;
  fs.mkdirSync(path.dirname(target), { recursive: true });
  fs.writeFileSync(target, data);
  return 1;
}

// Mirrors the files of `from` that `keep` accepts, and its subdirectories
// that hold any, into `to`; whatever else `to` holds is removed.
function syncDir(from, to, keep) {
  const wanted = new Map();
  for (const entry of fs.readdirSync(from, { withFileTypes: true })) {
    if (entry.isDirectory() || keep(entry.name)) wanted.set(entry.name, entry.isDirectory());
  }
  fs.mkdirSync(to, { recursive: true });
  for (const name of fs.readdirSync(to)) {
    if (!wanted.has(name)) fs.rmSync(path.join(to, name), { recursive: true, force: true });
  }
  let changed = 0;
  for (const [name, isDir] of wanted) {
    if (isDir) {
      changed += syncDir(path.join(from, name), path.join(to, name), keep);
      if (fs.readdirSync(path.join(to, name)).length === 0) fs.rmdirSync(path.join(to, name));
    } else {
      changed += put(path.join(to, name), fs.readFileSync(path.join(from, name)));
    }
  }
  return changed;
}

function run(command, args) {
  const done = spawnSync(command, args, { encoding: 'utf8' });
  if (done.error) fail(`cannot run ${command}: ${done.error.message}`);
  if (done.status !== 0) fail(`${command} ${args.join(' ')} failed:\n${done.stderr}`);
  return done.stdout;
}

// Builds src/unicode/gen_tables.cc against ICU and writes the tables into
// vendor/generated, when the generator or ICU changed since the last time.
function generateTables() {
  const generator = path.join(repoDir, 'src', 'unicode', 'gen_tables.cc');
  const target = path.join(vendorDir, 'generated', 'unicode_tables.h');
  const icu = () => run('pkg-config', ['--modversion', 'icu-uc']);
  const stamp = crypto.createHash('sha256').update(fs.readFileSync(generator)).update(icu()).digest('hex');
  const stampFile = path.join(packageDir, 'build', 'unicode-tables.stamp');
  if (fs.existsSync(target) && fs.existsSync(stampFile) &&
      fs.readFileSync(stampFile, 'utf8') === stamp) {
    return 0;
  }
  const flags = run('pkg-config', ['--cflags', '--libs', 'icu-uc']).trim().split(/\s+/).filter(Boolean);
  const binary = path.join(packageDir, 'build', 'unicode-gen');
  fs.mkdirSync(path.dirname(binary), { recursive: true });
  run(process.env.CXX || 'c++', ['-std=c++20', '-O1', generator, ...flags, '-o', binary]);
  fs.mkdirSync(path.dirname(target), { recursive: true });
  const before = fs.existsSync(target) ? fs.readFileSync(target) : null;
  run(binary, [target]);
  fs.writeFileSync(stampFile, stamp);
  return before !== null && before.equals(fs.readFileSync(target)) ? 0 : 1;
}

// Builds src/tokens/gen_tables.cc and writes the tokenizers' tables into
// vendor/generated from third_party/, when the generator or its inputs
// changed since the last time.
function generateTokenTables() {
  const generator = path.join(repoDir, 'src', 'tokens', 'gen_tables.cc');
  const thirdParty = path.join(repoDir, 'third_party');
  const inputs = [generator, path.join(repoDir, 'src', 'tokens', 'hash.h'),
    ...['o200k_base.tokens', 'cl100k_base.tokens'].map((n) => path.join(thirdParty, 'tiktoken', n)),
    ...['general_category.rs', 'perl_space.rs'].map((n) => path.join(thirdParty, 'regex-syntax', n))];
  const targets = ['token_classes.h', 'token_vocab.h'].map((n) => path.join(vendorDir, 'generated', n));
  const hash = crypto.createHash('sha256');
  for (const input of inputs) hash.update(fs.readFileSync(input));
  const stamp = hash.digest('hex');
  const stampFile = path.join(packageDir, 'build', 'token-tables.stamp');
  if (targets.every((t) => fs.existsSync(t)) && fs.existsSync(stampFile) &&
      fs.readFileSync(stampFile, 'utf8') === stamp) {
    return 0;
  }
  const binary = path.join(packageDir, 'build', 'token-gen');
  fs.mkdirSync(path.dirname(binary), { recursive: true });
  run(process.env.CXX || 'c++', ['-std=c++20', '-O2', generator, '-o', binary]);
  fs.mkdirSync(path.dirname(targets[0]), { recursive: true });
  run(binary, [thirdParty, ...targets]);
  fs.writeFileSync(stampFile, stamp);
  return 1;
}

function vendorAddonApi() {
  let dir;
  try {
    dir = path.dirname(require.resolve('node-addon-api/package.json', { paths: [packageDir] }));
  } catch {
    fail('node-addon-api is not installed: run npm install in node/ first');
  }
  let changed = 0;
  for (const name of kAddonApiFiles) {
    changed += put(path.join(vendorDir, 'node-addon-api', name), fs.readFileSync(path.join(dir, name)));
  }
  return changed;
}

// Refreshes vendor/ and the licence files from the checkout. Returns the
// number of files written, or -1 when there is no checkout to copy from.
function vendor() {
  if (!inCheckout()) return -1;
  let changed = 0;
  for (const [dir, keep] of kParts) {
    changed += syncDir(path.join(repoDir, dir), path.join(vendorDir, dir), keep);
  }
  changed += generateTables();
  changed += generateTokenTables();
  changed += vendorAddonApi();
  for (const name of kLicenseFiles) {
    changed += put(path.join(packageDir, name), fs.readFileSync(path.join(repoDir, name)));
  }
  return changed;
}

module.exports = { vendor, vendorDir, inCheckout };

if (require.main === module) {
  if (vendor() < 0 && !fs.existsSync(path.join(vendorDir, 'include', 'quendra.h'))) {
    fail(`no library sources in ${repoDir}/src or ${vendorDir}`);
  }
}
