'use strict';
// Paths shared by the tests.
const path = require('node:path');

const packageDir = path.resolve(__dirname, '..');
const readme = path.join(packageDir, '..', 'README.md');
module.exports = { packageDir, readme, example: (name) => path.join(packageDir, '..', 'examples', name) };
