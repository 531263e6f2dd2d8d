'use strict';
// Prints the library's source files for binding.gyp, one per line, relative
// to the package directory; walk() lists a directory tree.
const fs = require('fs');
const path = require('path');

// The files under `dir`, as paths relative to it with '/' between names.
function walk(dir, prefix = '') {
  const names = [];
  for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
    const rel = prefix + entry.name;
    if (entry.isDirectory()) names.push(...walk(path.join(dir, entry.name), `${rel}/`));
    else names.push(rel);
  }
  return names;
}

if (require.main === module) {
  const src = path.join(__dirname, '..', 'vendor', 'src');
  for (const name of walk(src).filter((n) => n.endsWith('.cc')).sort()) {
    console.log(`vendor/src/${name}`);
  }
}

module.exports = { walk };
