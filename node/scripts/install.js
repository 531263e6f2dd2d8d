'use strict';
// The package's install script (npm install). A tarball carries a prebuilt
// addon for the platform it was packed on, in prebuilds/<platform>-<arch>/
// with the libraries it needs beside it; when that addon loads here, the
// install is done. Otherwise (another platform, an older C library) the
// addon is built from the bundled sources (scripts/build.js), and when this
// machine lacks what that needs, one line says what. In a checkout, and with
// `npm install --build-from-source`, the addon is always built from the
// sources.
const fs = require('fs');
const path = require('path');
const { build } = require('./build');
const { inCheckout } = require('./vendor');

const packageDir = path.resolve(__dirname, '..');
const target = `${process.platform}-${process.arch}`;

// Why the prebuilt addon cannot serve here, or null when it loads.
function prebuiltProblem() {
  const addon = path.join(packageDir, 'prebuilds', target, 'quendra.node');
  if (!fs.existsSync(addon)) return `no prebuilt addon for ${target}`;
  try {
    require(addon);
    return null;
  } catch (error) {
    return `the prebuilt addon for ${target} does not load (${error.message.split('\n')[0]})`;
  }
}

if (inCheckout() || process.env.npm_config_build_from_source === 'true') {
  build();
} else {
  const problem = prebuiltProblem();
  if (problem) build(`${problem}; building it from the bundled sources `);
}
