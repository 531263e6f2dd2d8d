'use strict';
// Writes the byte-pair vocabularies of o200k_base and cl100k_base from the
// npm package js-tiktoken (a development dependency of node/) into the
// compact files beside this script, which the build turns into the
// library's tables (src/tokens/gen_tables.cc). Run once when the package's
// version changes, from the repository root, after `npm ci` in node/:
//
//   node third_party/tiktoken/convert.js
//
// Each file holds the tokens in rank order, rank 0 first, each as one byte
// giving its length (1 to 255) followed by its bytes. The ranks are checked
// against those of the npm package tiktoken on the way, so the two test
// references and the files agree.
const fs = require('node:fs');
const path = require('node:path');

const here = __dirname;
const nodeDir = path.join(here, '..', '..', 'node');
const load = (id) => {
  const mod = require(require.resolve(id, { paths: [nodeDir] }));
  return mod.default || mod;
};

// js-tiktoken's rank text: "! R" starts a run of base64 tokens whose ranks
// count up from R.
function tokens(rankText) {
  const out = [];
  let rank = -1;
  for (const field of rankText.split(/\s+/)) {
    if (field === '') continue;
    if (field === '!') {
      rank = null;
      continue;
    }
    if (rank === null) {
      rank = Number(field);
      continue;
    }
    out[rank] = Buffer.from(field, 'base64');
    rank += 1;
  }
  return out;
}

for (const name of ['o200k_base', 'cl100k_base']) {
  const ours = tokens(load(`js-tiktoken/ranks/${name}`).bpe_ranks);
  const theirs = tokens(load(`tiktoken/encoders/${name}.json`).bpe_ranks);
  if (ours.length !== theirs.length) throw new Error(`${name}: the two packages disagree on the size`);
  const parts = [];
  for (let rank = 0; rank < ours.length; rank += 1) {
    const token = ours[rank];
    if (!token || token.length === 0 || token.length > 255) throw new Error(`${name}: rank ${rank} has no usable token`);
    if (!theirs[rank] || !token.equals(theirs[rank])) throw new Error(`${name}: the packages disagree at rank ${rank}`);
    parts.push(Buffer.from([token.length]), token);
  }
  const file = path.join(here, `${name}.tokens`);
  fs.writeFileSync(file, Buffer.concat(parts));
  console.log(`${path.relative(process.cwd(), file)}: ${ours.length} tokens, ${fs.statSync(file).size} bytes`);
}
