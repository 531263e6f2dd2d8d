'use strict';
// Copies the library's sources (src/*.cc, src/*.h, include/quendra.h) from the
// repository around this package into vendor/, so that the packed tarball
// builds on its own. Run by `npm pack` (prepack) and before every build in a
// checkout. Files are written only when their content changed, which keeps
// incremental builds incremental; files gone from the repository are removed.
const fs = require('fs');
const path = require('path');

const packageDir = path.resolve(__dirname, '..');
const repoDir = path.dirname(packageDir);
const vendorDir = path.join(packageDir, 'vendor');

// The library's files as [repository directory, file filter] pairs; each
// lands in vendor/ under the same directory name.
const kParts = [
  ['src', (name) => name.endsWith('.cc') || name.endsWith('.h')],
  ['include', (name) => name === 'quendra.h'],
];

// True when this package sits in a quendra checkout (node/ beside src/ and
// include/); false when it was installed from a tarball.
function inCheckout() {
  return fs.existsSync(path.join(repoDir, 'src', 'libquendra.map')) &&
    fs.existsSync(path.join(repoDir, 'include', 'quendra.h'));
}

function syncDir(from, to, keep) {
  fs.mkdirSync(to, { recursive: true });
  const wanted = new Set(fs.readdirSync(from).filter(keep));
  for (const name of fs.readdirSync(to)) {
    if (!wanted.has(name)) fs.rmSync(path.join(to, name), { recursive: true, force: true });
  }
  let changed = 0;
  for (const name of wanted) {
    const data = fs.readFileSync(path.join(from, name));
    const target = path.join(to, name);
    if (fs.existsSync(target) && data.equals(fs.readFileSync(target))) continue;
    fs.writeFileSync(target, data);
    changed += 1;
  }
  return changed;
}

// Refreshes vendor/ from the checkout. Returns the number of files written,
// or -1 when there is no checkout to copy from.
function vendor() {
  if (!inCheckout()) return -1;
  let changed = 0;
  for (const [dir, keep] of kParts) {
    changed += syncDir(path.join(repoDir, dir), path.join(vendorDir, dir), keep);
  }
  return changed;
}

module.exports = { vendor, vendorDir };

if (require.main === module) {
  if (vendor() < 0 && !fs.existsSync(path.join(vendorDir, 'include', 'quendra.h'))) {
    console.error(`quendra: no library sources in ${repoDir}/src or ${vendorDir}`);
    process.exit(1);
  }
}
