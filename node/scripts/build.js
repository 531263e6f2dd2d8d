'use strict';
// Builds the addon from the package's sources with node-gyp, against the
// headers of the Node.js that runs this script: --nodedir is the
// installation prefix of process.execPath, so node-gyp never downloads
// headers. Run by `npm run build`, by scripts/install.js when no prebuilt
// addon fits, and by scripts/prepack.js. In a checkout the sources are first
// refreshed into vendor/; a tarball carries them already.
//
// Before building, it checks for what the build needs (a C++ compiler,
// make, python3 for node-gyp, libfyaml's headers and library, the Node.js
// headers) and names everything missing in one line.
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

// The full path of `name` on the PATH, or null.
function which(name) {
  if (name.includes('/')) return fs.existsSync(name) ? name : null;
  for (const dir of (process.env.PATH || '').split(path.delimiter)) {
    const candidate = path.join(dir || '.', name);
    try {
      fs.accessSync(candidate, fs.constants.X_OK);
      if (fs.statSync(candidate).isFile()) return candidate;
    } catch {
      // not here
    }
  }
  return null;
}

// The installation prefix of the running Node.js, when it holds the headers
// node-gyp builds against (include/node/node_api.h and common.gypi).
function nodeDir() {
  const prefix = path.resolve(path.dirname(process.execPath), '..');
  const complete = ['node_api.h', 'common.gypi'].every((name) =>
    fs.existsSync(path.join(prefix, 'include', 'node', name)));
  return complete ? prefix : null;
}

// node-gyp as npm hands it to install scripts, else the copy bundled with npm.
function nodeGyp() {
  const prefix = path.resolve(path.dirname(process.execPath), '..');
  const candidates = [
    process.env.npm_config_node_gyp,
    path.join(prefix, 'lib', 'node_modules', 'npm', 'node_modules', 'node-gyp', 'bin', 'node-gyp.js'),
    '/usr/share/nodejs/node-gyp/bin/node-gyp.js',
  ];
  return candidates.find((c) => c && fs.existsSync(c)) || null;
}

function hasLibfyaml() {
  const pkgConfig = spawnSync('pkg-config', ['--exists', 'libfyaml']);
  if (!pkgConfig.error) return pkgConfig.status === 0;
  // No pkg-config: the headers where the compiler looks by default.
  return ['/usr/include', '/usr/local/include'].some((dir) => fs.existsSync(path.join(dir, 'libfyaml.h')));
}

// What building needs and this machine lacks, as [what, Debian package].
function missing() {
  const lacks = [];
  // The compiler make calls: $CXX, else g++.
  const compiler = (process.env.CXX || 'g++').trim().split(/\s+/)[0];
  if (!which(compiler)) lacks.push([`a C++ compiler (${compiler})`, 'g++']);
  if (!which('make')) lacks.push(['make', 'make']);
  if (!which('python3')) lacks.push(['python3', 'python3']);
  if (!hasLibfyaml()) lacks.push(["libfyaml's headers", 'libfyaml-dev']);
  if (!nodeDir()) lacks.push([`the headers of Node.js ${process.version}`, 'nodejs']);
  if (!nodeGyp()) lacks.push(['node-gyp (run this through npm)', 'npm']);
  return lacks;
}

// One line naming everything missing, or null when the build can go ahead.
function missingLine(why) {
  const lacks = missing();
  if (lacks.length === 0) return null;
  const packages = [...new Set(lacks.map(([, pkg]) => pkg))].join(' ');
  return `${why}needs ${lacks.map(([what]) => what).join(', ')} ` +
    `(Debian: apt-get install ${packages})`;
}

function configureStamp(prefix) {
  const sources = fs.readdirSync(path.join(vendorDir, 'src'), { recursive: true }).sort();
  const gyp = fs.readFileSync(path.join(packageDir, 'binding.gyp'));
  return JSON.stringify({
    node: process.version,
    prefix,
    gyp: crypto.createHash('sha256').update(gyp).digest('hex'),
    sources,
  });
}

// Builds build/Release/quendra.node; `why` starts the line that names what
// is missing.
function build(why = 'building the addon ') {
  vendor();
  if (!fs.existsSync(path.join(vendorDir, 'include', 'quendra.h'))) {
    fail(`the library's sources are missing from ${vendorDir}`);
  }
  const line = missingLine(why);
  if (line) fail(line);
  const prefix = nodeDir();
  const gyp = nodeGyp();
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

module.exports = { build, fail };

if (require.main === module) build();
