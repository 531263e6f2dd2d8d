'use strict';
// Shrinks a JSON or YAML document so that its rendered text fits a character
// budget, through the quendra library built into the addon. The options
// object is written as JSON and handed to the library as it is, so its keys
// are the library's option names; the library checks them. The envelope the
// library answers with becomes a Result, or a QuendraError carrying the
// library's message.
const native = loadAddon();

// The addon built from the sources (npm run build, or an install where no
// prebuilt addon fitted) when there is one, else the prebuilt addon that the
// tarball carries for this platform.
function loadAddon() {
  const target = `${process.platform}-${process.arch}`;
  for (const file of ['./build/Release/quendra.node', `./prebuilds/${target}/quendra.node`]) {
    try {
      return require(file);
    } catch (error) {
      if (error.code !== 'MODULE_NOT_FOUND') throw error;
    }
  }
  throw new Error(`the quendra addon is missing: no prebuilt addon for ${target}, and none was ` +
    'built; run `npm rebuild quendra` in the project (or `npm run build` in node/ of a ' +
    'checkout), which says what the build needs');
}

/** The library answered with an error; `message` is its text. */
class QuendraError extends Error {
  constructor(message) {
    super(message);
    this.name = 'QuendraError';
  }
}

/** A successful shrink: the shrunk `text`, its `report` and the raw `envelope`. */
class Result {
  constructor(envelope, parsed) {
    this.text = parsed.text;
    this.report = parsed.report;
    this.envelope = envelope;
  }

  /** The shrunk document parsed from `text` (anew at every read) when the
   * output is JSON; undefined for YAML output. */
  get value() {
    return this.report.format === 'json' ? JSON.parse(this.text) : undefined;
  }

  toString() {
    return this.text;
  }
}

function json(what, value) {
  let text;
  try {
    text = JSON.stringify(value);
  } catch (error) {
    throw new QuendraError(`${what} cannot be written as JSON: ${error.message}`);
  }
  if (text === undefined) throw new QuendraError(`${what} cannot be written as JSON`);
  return text;
}

// Options of the package's own, taken out before the options go to the library.
const kOwnOptions = ['max_tokens', 'countTokens', 'query'];

function isThenable(value) {
  return value !== null && (typeof value === 'object' || typeof value === 'function') &&
    typeof value.then === 'function';
}

function describe(value) {
  if (isThenable(value)) return 'a Promise (countTokens must count synchronously)';
  try {
    return `${typeof value} ${String(value)}`;
  } catch {
    return typeof value;
  }
}

function checkedCount(n) {
  if (Number.isSafeInteger(n) && n >= 0) return n;
  throw new TypeError(`countTokens returned ${describe(n)}; it must return a non-negative safe integer`);
}

// The caller's counter, its answers checked: a count is a non-negative safe
// integer. What it throws, and the TypeError for a bad count, end the call.
// For shrinkAsync (`promised`) it may answer a Promise, or any thenable, of
// a count: it becomes a native Promise of the checked count, which rejects
// as the counter's did.
function checkedCounter(countTokens, promised) {
  return (text) => {
    const n = countTokens(text);
    if (promised && isThenable(n)) return Promise.resolve(n).then(checkedCount);
    return checkedCount(n);
  };
}

// The options as the library's JSON text, and the token counter if any.
// `max_tokens: N` is `max_chars: N, budget_unit: "tokens"`, counted by the
// built-in encoding that `tokenizer` names (o200k_base by default) unless
// `countTokens` counts; `query` is the library's `arguments`.
function request(options, promised = false) {
  if (options === undefined) return { text: '{}', count: undefined, options: {} };
  const own = options !== null && typeof options === 'object' && !Array.isArray(options) &&
    kOwnOptions.some((key) => Object.hasOwn(options, key));
  if (!own) return { text: json('options', options), count: undefined, options: options ?? {} };
  const { max_tokens: maxTokens, countTokens, query, ...rest } = options;
  if (countTokens !== undefined && typeof countTokens !== 'function') {
    throw new TypeError('countTokens must be a function from a text to its number of tokens');
  }
  if (countTokens !== undefined && Object.hasOwn(rest, 'tokenizer')) {
    throw new TypeError('the options give both tokenizer and countTokens: the library counts with a ' +
      'built-in tokenizer or with your counter, give one');
  }
  if (query !== undefined) {
    if (Object.hasOwn(rest, 'arguments')) {
      throw new TypeError('the options give both query and arguments, two names of one option: give one');
    }
    rest.arguments = query;
  }
  if (maxTokens !== undefined) {
    if (Object.hasOwn(rest, 'max_chars')) {
      throw new TypeError('the options give both max_tokens and max_chars: give one budget ' +
        '(max_tokens is max_chars in budget_unit "tokens")');
    }
    const unit = rest.budget_unit ?? 'tokens';
    if (typeof unit !== 'string' || unit.toLowerCase() !== 'tokens') {
      throw new TypeError(`the options give max_tokens with budget_unit ${JSON.stringify(unit)}: ` +
        'max_tokens is a budget in tokens');
    }
    if (!Number.isSafeInteger(maxTokens) || maxTokens < 0) {
      throw new QuendraError('invalid options: max_tokens must be a non-negative integer');
    }
    rest.max_chars = maxTokens;
    rest.budget_unit = 'tokens';
  }
  return {
    text: json('options', rest),
    count: countTokens === undefined ? undefined : checkedCounter(countTokens, promised),
    options: rest,
  };
}

function checkDocument(document) {
  if (typeof document !== 'string' && !(document instanceof Uint8Array)) {
    throw new TypeError('document must be a string, a Buffer or a Uint8Array');
  }
}

function toResult(envelope) {
  const parsed = JSON.parse(envelope);
  if (!parsed.ok) throw new QuendraError(parsed.error);
  return new Result(envelope, parsed);
}

// The lines of a document, not counting blank space at its end.
function countLines(document) {
  const text = typeof document === 'string' ? document : Buffer.from(document.buffer,
    document.byteOffset, document.byteLength).toString('latin1');
  const end = text.replace(/[ \t\r\n]+$/, '').length;
  let lines = end > 0 ? 1 : 0;
  for (let at = text.indexOf('\n'); at !== -1 && at < end; at = text.indexOf('\n', at + 1)) lines += 1;
  return lines;
}

// When the automatic input format read a text of several lines that is not
// JSON as one YAML string (an HTML error page, say), the warning to give, as
// the command gives it. A generator: it yields the further calls it needs
// ([document, options text]) and is handed their envelopes, so that shrink
// and shrinkAsync each make them their own way; the library is asked again
// only when the result may be such a string.
function* yamlStringWarning(document, options, result) {
  if (result.report.input_format !== 'yaml') return undefined;
  const inputFormat = options.input_format ?? 'auto';
  if (typeof inputFormat !== 'string' || inputFormat.toLowerCase() !== 'auto') return undefined;
  const lines = countLines(document);
  if (lines < 2) return undefined;
  const { tokenizer, ...untokenized } = options;
  const plain = { ...untokenized, budget_unit: 'chars' };
  if (result.report.format === 'json') {
    if (!result.text.startsWith('"')) return undefined;
  } else {
    // As YAML, a string takes one line or a literal block.
    const first = result.text.split('\n', 1)[0];
    if (first.length + 1 !== result.text.length && !['|', '|-', '|+'].includes(first)) return undefined;
    const asJson = yield [document, JSON.stringify({ ...plain, format: 'json', indent: 0 })];
    if (!asJson.startsWith('{"ok":true,"text":"\\"')) return undefined;
  }
  const error = JSON.parse(yield [document, JSON.stringify({ ...plain, input_format: 'json' })]);
  const detail = String(error.error ?? '').replace('invalid JSON input: ', '');
  return `the input is not JSON (${detail}); its ${lines} lines were read as a single YAML ` +
    'string; give input_format: "json" to refuse such input';
}

function warn(message) {
  if (message) process.emitWarning(message, { type: 'QuendraWarning', code: 'QUENDRA_YAML_STRING' });
}

/** Shrinks a JSON or YAML document (text, or UTF-8 bytes) on this thread. */
function shrink(document, options) {
  checkDocument(document);
  const { text, count, options: sent } = request(options);
  const result = toResult(native.shrink(document, text, count));
  const steps = yamlStringWarning(document, sent, result);
  let step = steps.next();
  while (!step.done) step = steps.next(native.shrink(...step.value));
  warn(step.value);
  return result;
}

/** Like shrink, but the library's work runs off the JavaScript thread: on
 * the libuv thread pool, or, with countTokens, on a thread of its own, which
 * waits for each count (a number or a Promise of one) and holds no pool
 * thread. The document is copied first, so the caller may reuse its buffer
 * at once. */
async function shrinkAsync(document, options) {
  checkDocument(document);
  const { text, count, options: sent } = request(options, true);
  const result = toResult(await native.shrinkAsync(document, text, count));
  const steps = yamlStringWarning(document, sent, result);
  let step = steps.next();
  while (!step.done) step = steps.next(await native.shrinkAsync(...step.value));
  warn(step.value);
  return result;
}

/** Writes `value` with JSON.stringify and shrinks the text. */
function shrinkValue(value, options) {
  let text;
  try {
    text = JSON.stringify(value);
  } catch (error) {
    const why = /BigInt/.test(error.message) ? 'it holds a BigInt, which JSON has no form for ' +
      '(convert it to a Number or a string first)'
      : /circular/i.test(error.message) ? 'it refers to itself (a cycle)' : error.message;
    throw new QuendraError(`value cannot be written as JSON: ${why}`);
  }
  if (text === undefined) throw new QuendraError('value cannot be written as JSON');
  return shrink(text, options);
}

/** The number of tokens of `text` (a string, or UTF-8 bytes) in the
 * byte-pair encoding `tokenizer`: "o200k_base" (the default) or
 * "cl100k_base", ignoring case. Counted by the library, as tiktoken's
 * encode_ordinary counts ("<|endoftext|>" is ordinary text). */
function tokenCount(text, tokenizer = 'o200k_base') {
  if (typeof text !== 'string' && !(text instanceof Uint8Array)) {
    throw new TypeError('text must be a string, a Buffer or a Uint8Array');
  }
  if (typeof tokenizer !== 'string') throw new TypeError('tokenizer must be a string such as "o200k_base"');
  const n = native.tokenCount(text, tokenizer);
  if (n === -1) {
    throw new RangeError(`unknown tokenizer ${JSON.stringify(tokenizer)}: o200k_base or cl100k_base`);
  }
  if (n === -2) throw new QuendraError('the text is not UTF-8');
  return n;
}

module.exports = {
  QuendraError,
  Result,
  shrink,
  shrinkAsync,
  shrinkValue,
  tokenCount,
  version: native.version,
};
