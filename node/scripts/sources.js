'use strict';
// Prints the library's source files for binding.gyp, one per line, relative
// to the package directory: vendor/src/**/*.cc.
const fs = require('fs');
const path = require('path');

const packageDir = path.join(__dirname, '..');
function* sources(dir) {
  for (const entry of fs.readdirSync(path.join(packageDir, dir), { withFileTypes: true })) {
    if (entry.isDirectory()) yield* sources(`${dir}/${entry.name}`);
    else if (entry.name.endsWith('.cc')) yield `${dir}/${entry.name}`;
  }
}
for (const file of [...sources('vendor/src')].sort()) console.log(file);
