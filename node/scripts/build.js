'use strict';
// Builds the addon with node-gyp against the headers of the Node.js that runs
// this script: --nodedir is the installation prefix of process.execPath, so
// node-gyp never downloads headers. Run by `npm install` (the package's
// install script) and by `npm run build`. In a checkout the library's sources
// are first refreshed into vendor/; a tarball carries them already.
//
// The build is incremental: node-gyp configures only when the Node.js, the
// source list or binding.gyp changed since the last configure.
const { spawnSync } = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { vendor, vendorDir } = require('./vendor');

const packageDir = path.resolve(__dirname, '..');
const buildDir = path.join(packageDir, 'build');
const stampFile = path.join(buildDir, 'quendra-configure.json');

function fail(message) {
  console.error(`quendra: ${message}`);
  process.exit(1);
}

function run(command, args) {
  const done = spawnSync(command, args, { cwd: packageDir, stdio: 'inherit' });
  if (done.error) fail(`cannot run ${command}: ${done.error.message}`);
  if (done.status !== 0) fail(`${path.basename(args[0] || command)} ${args[1] || ''} failed`);
}

// The directory that holds include/node/node_api.h and common.gypi for the
// running Node.js: the prefix it was installed under.
function nodeDir() {
  const prefix = path.resolve(path.dirname(process.execPath), '..');
  for (const name of ['node_api.h', 'common.gypi']) {
    if (!fs.existsSync(path.join(prefix, 'include', 'node', name))) {
      fail(`the headers of Node.js ${process.version} are not installed ` +
        `(${path.join(prefix, 'include', 'node', name)} is missing)`);
    }
  }
  return prefix;
}

// node-gyp as npm hands it to install scripts, else the copy bundled with npm.
function nodeGyp(prefix) {
  const candidates = [
    process.env.npm_config_node_gyp,
    path.join(prefix, 'lib', 'node_modules', 'npm', 'node_modules', 'node-gyp', 'bin', 'node-gyp.js'),
    '/usr/share/nodejs/node-gyp/bin/node-gyp.js',
  ];
  const found = candidates.find((c) => c && fs.existsSync(c));
  if (!found) fail('node-gyp not found: run this through npm (npm install, npm run build)');
  return found;
}

function checkLibraries() {
  const done = spawnSync('pkg-config', ['--exists', 'icu-uc', 'libfyaml']);
  if (done.error || done.status !== 0) {
    fail('needs pkg-config, ICU and libfyaml with their headers ' +
      '(Debian: apt-get install g++ make python3 pkg-config libicu-dev libfyaml-dev)');
  }
}

function configureStamp(prefix) {
  const sources = fs.readdirSync(path.join(vendorDir, 'src')).sort();
  const gyp = fs.readFileSync(path.join(packageDir, 'binding.gyp'));
  return JSON.stringify({
    node: process.version,
    prefix,
    gyp: crypto.createHash('sha256').update(gyp).digest('hex'),
    sources,
  });
}

function main() {
  vendor();
  if (!fs.existsSync(path.join(vendorDir, 'include', 'quendra.h'))) {
    fail(`the library's sources are missing from ${vendorDir}`);
  }
  checkLibraries();
  const prefix = nodeDir();
  const gyp = nodeGyp(prefix);
  const common = [`--nodedir=${prefix}`];
  const stamp = configureStamp(prefix);
  const configured = fs.existsSync(path.join(buildDir, 'Makefile')) &&
    fs.existsSync(stampFile) && fs.readFileSync(stampFile, 'utf8') === stamp;
  if (!configured) {
    run(process.execPath, [gyp, 'configure', ...common]);
    fs.writeFileSync(stampFile, stamp);
  }
  const jobs = process.env.JOBS || String(os.cpus().length || 1);
  run(process.execPath, [gyp, 'build', `--jobs=${jobs}`, ...common]);
}

main();
