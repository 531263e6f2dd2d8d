// The package from an ES module: Node.js finds its named exports.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import quendra, { QuendraError, Result, shrink, shrinkAsync, shrinkValue, tokenCount, version } from '../index.js';

test('named exports match the CommonJS object', async () => {
  assert.deepEqual({ QuendraError, Result, shrink, shrinkAsync, shrinkValue, tokenCount, version }, { ...quendra });
  assert.equal((await shrinkAsync('- 1\n', { format: 'json', indent: 0 })).text, '[1]');
});
