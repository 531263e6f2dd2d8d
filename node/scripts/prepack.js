'use strict';
// Run by `npm pack` (prepack) in a checkout: refreshes vendor/ and builds the
// addon (scripts/build.js, incrementally), then puts it into
// prebuilds/<platform>-<arch>/ with every library it needs that is not part
// of the C and C++ runtime (libfyaml.so.0), found where the system's loader
// finds it, under its SONAME. The addon looks for them beside itself first
// ($ORIGIN), so the installed package needs nothing else. It checks what it
// copied: every library the prebuilt addon needs must be a runtime library
// or carried beside it.
const { spawnSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { build, fail } = require('./build');

const packageDir = path.resolve(__dirname, '..');
const prebuildsDir = path.join(packageDir, 'prebuilds');
const targetDir = path.join(prebuildsDir, `${process.platform}-${process.arch}`);

// The C and C++ runtime, which every glibc system has.
const kRuntime = new Set(['libc.so.6', 'libm.so.6', 'libdl.so.2', 'librt.so.1', 'libpthread.so.0',
  'libgcc_s.so.1', 'libstdc++.so.6', 'ld-linux-x86-64.so.2', 'ld-linux-aarch64.so.1', 'linux-vdso.so.1']);

// [name, resolved path or null] of every library `file` loads, as ldd says.
function ldd(file) {
  const done = spawnSync('ldd', [file], { encoding: 'utf8' });
  if (done.error || done.status !== 0) fail(`ldd ${file} failed: ${done.stderr || done.error}`);
  return done.stdout.split('\n').map((line) => line.trim()).filter(Boolean).map((line) => {
    const [name, rest = ''] = line.split(' => ');
    const found = /^(\/\S+)/.exec(rest);
    return [name.split(' ')[0], rest.startsWith('not found') ? null : found && found[1]];
  });
}

function main() {
  if (process.platform !== 'linux') fail(`prebuilt addons are packed on Linux only, not ${process.platform}`);
  build();
  const built = path.join(packageDir, 'build', 'Release', 'quendra.node');
  fs.rmSync(prebuildsDir, { recursive: true, force: true });
  fs.mkdirSync(targetDir, { recursive: true });
  const addon = path.join(targetDir, 'quendra.node');
  fs.copyFileSync(built, addon);
  for (const [name, found] of ldd(built)) {
    if (kRuntime.has(name) || name.startsWith('/')) continue;
    if (!found) fail(`the addon needs ${name}, which the loader does not find`);
    fs.copyFileSync(fs.realpathSync(found), path.join(targetDir, name));
  }
  for (const [name, found] of ldd(addon)) {
    const carried = found && path.dirname(found) === targetDir;
    if (!kRuntime.has(name) && !name.startsWith('/') && !carried) {
      fail(`the prebuilt addon needs ${name} from ${found}, outside the package`);
    }
  }
}

main();
