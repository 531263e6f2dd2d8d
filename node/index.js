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

function optionsText(options) {
  return options === undefined ? '{}' : json('options', options);
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

/** Shrinks a JSON or YAML document (text, or UTF-8 bytes) on this thread. */
function shrink(document, options) {
  checkDocument(document);
  return toResult(native.shrink(document, optionsText(options)));
}

/** Like shrink, but the library's work runs on the libuv thread pool. The
 * document is copied first, so the caller may reuse its buffer at once. */
async function shrinkAsync(document, options) {
  checkDocument(document);
  return toResult(await native.shrinkAsync(document, optionsText(options)));
}

/** Writes `value` with JSON.stringify and shrinks the text. */
function shrinkValue(value, options) {
  return shrink(json('value', value), options);
}

module.exports = {
  QuendraError,
  Result,
  shrink,
  shrinkAsync,
  shrinkValue,
  version: native.version,
};
