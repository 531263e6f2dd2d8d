'use strict';
// Prints libfyaml's compiler flags (--cflags) or linker flags (--libs) for
// binding.gyp: pkg-config's answer when pkg-config is there, else the
// defaults of a system that keeps the headers in /usr/include.
const { spawnSync } = require('child_process');

const which = process.argv[2] === '--libs' ? '--libs' : '--cflags';
const done = spawnSync('pkg-config', [which, 'libfyaml'], { encoding: 'utf8' });
if (!done.error && done.status === 0) {
  console.log(done.stdout.trim());
} else {
  console.log(which === '--libs' ? '-lfyaml' : '');
}
