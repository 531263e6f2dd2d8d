'use strict';
// Paths and small helpers shared by the tests.
const path = require('path');

const packageDir = path.resolve(__dirname, '..');
const root = path.dirname(packageDir);

module.exports = {
  packageDir,
  root,
  readme: path.join(root, 'README.md'),
  example: (name) => path.join(root, 'examples', name),
};
