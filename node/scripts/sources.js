'use strict';
// Prints the library's source files for binding.gyp, one per line, relative
// to the package directory.
const fs = require('fs');
const path = require('path');

const src = path.join(__dirname, '..', 'vendor', 'src');
for (const name of fs.readdirSync(src).filter((n) => n.endsWith('.cc')).sort()) {
  console.log(`vendor/src/${name}`);
}
