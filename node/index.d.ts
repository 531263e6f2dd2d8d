// Types of the quendra package: shrink a JSON or YAML document so that its
// rendered text fits a character budget, and say exactly what was left out.

/**
 * Options of one call. Keys are the library's option names and are handed to
 * it as they are; every key may be left out for its default. The library
 * checks them and answers a bad one with a QuendraError.
 */
export interface Options {
  /** Budget of the rendered output, counted in budget_unit. Default 10000. */
  max_chars?: number;
  /** What the budget counts: "chars" (Unicode scalar values, the default), "bytes" (UTF-8), "utf16" (UTF-16 code units, as String.prototype.length counts) or "tokens" (counted by the built-in `tokenizer`, or by `countTokens`). */
  budget_unit?: "chars" | "bytes" | "utf16" | "tokens";
  /** Under budget_unit "tokens", the built-in encoding that counts: "o200k_base" (the default: GPT-4o, GPT-4.1, GPT-5, the o-series) or "cl100k_base" (GPT-4, GPT-3.5); refused beside `countTokens`. */
  tokenizer?: Tokenizer;
  /** Spaces per nesting level; 0 gives compact JSON (YAML uses at least 2). Default 2. */
  indent?: number;
  /** Output format; "auto" (the default) is the input's format. */
  format?: "auto" | "json" | "yaml" | "yml";
  /** How the document is read; "auto" (the default) tries JSON, then YAML when the text does not look like JSON. */
  input_format?: "auto" | "json" | "yaml";
  /** "sample" (the default) keeps sample items of arrays; "condense" keeps every record of a record array with its most useful fields. */
  array_strategy?: "sample" | "condense";
  /** How "condense" rates fields. Default "heuristic". */
  field_scorer?: "heuristic" | "compact" | "key_order";
  /** When not even one whole item fits, how many items of distinct shapes are kept in shortened form. Default 3. */
  max_samples?: number;
  /** Keep an array's last item when it fits. Default true. */
  keep_last_item?: boolean;
  /** Smallest room for the one partly kept item after the whole ones. Default 40. */
  min_partial_chars?: number;
  /** How much a long text shows before its sections are cut to previews. Default 500. */
  string_head_chars?: number;
  /** Preview length of each section (paragraph, line or sentence) of a long text. Default 100. */
  string_section_chars?: number;
  /** Shortest section preview before sections are dropped instead. Default 16. */
  string_min_section_chars?: number;
  /** List condensing's decision for every field in report.field_decisions. Default false. */
  explain?: boolean;
  /** Paths that pruning keeps: "email" (that member anywhere), "/meta/total" (anchored at the root); "*" in a path is any array item or member. */
  protect?: string | readonly string[];
  /** A query: fields whose names or values it mentions rank higher. Any JSON value; its strings and numbers are joined. */
  arguments?: unknown;
  /** A JSON Pointer ("/data/5", "/a~1b"): the document is replaced by the value it names before anything else. */
  root?: "" | `/${string}`;
  /** Paths (as in `protect`) of members and array items to remove before shrinking. */
  exclude?: string | readonly string[];
  /** Replace the values of sensitive keys and the credentials inside strings by "[redacted]" (see the README). Default false. */
  redact?: boolean;
  /** Paths (as in `protect`) whose values become "[redacted]", with or without `redact`. */
  redact_paths?: string | readonly string[];
}

/**
 * The options of a call: the library's, and the package's own, which it
 * takes out before the rest goes to the library.
 */
export interface ShrinkOptions extends Options {
  /**
   * A budget in a language model's tokens, counted by the built-in
   * `tokenizer` or by `countTokens`: the same as `max_chars` with
   * `budget_unit: "tokens"`, and refused beside either.
   */
  max_tokens?: number;
  /**
   * Counts the tokens of a text with the model's tokenizer, in place of a
   * built-in one: a non-negative safe integer. Called on the JavaScript
   * thread once per distinct text (the whole document and the attempts of
   * the search, at most 25 texts); what it throws ends the call (shrink
   * throws it, shrinkAsync rejects with it). shrink and shrinkValue count
   * synchronously and refuse a Promise; shrinkAsync also takes a Promise of
   * the count ({@link AsyncShrinkOptions}).
   */
  countTokens?: (text: string) => number;
  /** Another name of `arguments`; refused beside it. */
  query?: unknown;
}

/** The options of shrinkAsync, whose counter may count asynchronously. */
export interface AsyncShrinkOptions extends Omit<ShrinkOptions, "countTokens"> {
  /**
   * As for shrink, or a Promise (any thenable) of the count: an editor's
   * API or a remote counting service. The shrink waits on a thread of its
   * own, holding no libuv pool thread, so the counter may use the pool
   * (fs.promises, crypto, another shrinkAsync). A rejection rejects the
   * shrink with the very value; a resolved value that is not a
   * non-negative safe integer is a TypeError, as a returned one is.
   */
  countTokens?: (text: string) => number | PromiseLike<number>;
}

/** How condensing (with `explain`) weighed one field of a record array. */
export interface FieldDecision {
  readonly path: string;
  /** The field's score; 2 for protected fields. */
  readonly score: number;
  readonly kept: boolean;
  /** How much the query mentions the field. */
  readonly relevance: number;
}

/** A field that condensing removed from the records of an array. */
export interface DroppedField {
  readonly path: string;
  /** How many records had it. */
  readonly items: number;
}

/** What shrinking did: the library's report, one member per counter. */
export interface Report {
  /** The whole document rendered in the output format, measured in the budget unit. */
  readonly input_chars: number;
  /** `text` measured in the budget unit. */
  readonly output_chars: number;
  /** The budget, in the budget unit. */
  readonly max_chars: number;
  /** The output format used. */
  readonly format: "json" | "yaml";
  /** The format the input was read as. */
  readonly input_format: "json" | "yaml";
  /** False when the document fitted as it was. */
  readonly pruned: boolean;
  /** output_chars <= max_chars. */
  readonly fits: boolean;
  /** Strings shortened or replaced by their marker. */
  readonly strings_truncated: number;
  /** Arrays that kept only some of their items. */
  readonly arrays_sampled: number;
  /** Array items left out, in sampled and collapsed arrays. */
  readonly items_omitted: number;
  /** Objects that kept only some of their members. */
  readonly objects_trimmed: number;
  /** Object members left out, in trimmed and collapsed objects. */
  readonly keys_omitted: number;
  /** Arrays and objects replaced by a single marker. */
  readonly containers_collapsed: number;
  /** Record arrays condensed (strategy "condense"). */
  readonly arrays_condensed: number;
  /** Protected values that could not be kept even so. */
  readonly protected_omitted: number;
  /** With `explain`: one entry per field that condensing weighed. */
  readonly field_decisions: readonly FieldDecision[];
  /** Fields (or whole sub-objects) that condensing removed from records. */
  readonly fields_dropped: number;
  /** The first 24 of them, with how many records had each. */
  readonly dropped_fields: readonly DroppedField[];
  /** With `exclude`, `redact` or `redact_paths` among the options: values and substrings replaced by "[redacted]". */
  readonly values_redacted?: number;
  /** With `exclude`, `redact` or `redact_paths` among the options: members and items removed. */
  readonly values_excluded?: number;
  /** Under a budget in tokens: "tokens". */
  readonly budget_unit?: "tokens";
  /** Under a budget in tokens: the encoding that counted, or "host" for `countTokens`. */
  readonly tokenizer?: Tokenizer | "host";
  /** Under a budget in tokens: the distinct texts counted. */
  readonly token_counts?: number;
}

/** A successful shrink. A document that cannot be brought within the budget still gives one, with `report.fits` false. */
export declare class Result {
  private constructor();
  /** The shrunk document: JSON without a final newline, or YAML ending in one. */
  readonly text: string;
  readonly report: Report;
  /** The library's whole answer, a compact JSON text. */
  readonly envelope: string;
  /** `text` parsed anew at every read when the output is JSON; undefined for YAML. */
  readonly value: unknown;
  /** The same as `text`. */
  toString(): string;
}

/** The library answered with an error (bad options, unreadable document); `message` is its text. */
export declare class QuendraError extends Error {
  constructor(message: string);
  readonly name: "QuendraError";
}

/** A JSON or YAML document: text, or its UTF-8 bytes (a Buffer is a Uint8Array). */
export type Document = string | Uint8Array;

/**
 * Shrinks a document on the calling thread. Throws QuendraError when the
 * library answers with an error. When a text of several lines that is not
 * JSON was read as one YAML string, emits a warning (code
 * "QUENDRA_YAML_STRING").
 */
export declare function shrink(document: Document, options?: ShrinkOptions): Result;

/**
 * Shrinks a document on the libuv thread pool; the event loop goes on
 * meanwhile. Rejects with QuendraError when the library answers with an
 * error. With `countTokens`, the shrink runs on a thread of its own, not the
 * pool, and waits there while each count runs on the JavaScript thread
 * (and while a Promise of a count is pending).
 */
export declare function shrinkAsync(document: Document, options?: AsyncShrinkOptions): Promise<Result>;

/** Writes `value` with JSON.stringify and shrinks the text; throws QuendraError when it cannot be written (a BigInt, a cycle). */
export declare function shrinkValue(value: unknown, options?: ShrinkOptions): Result;

/** The byte-pair encodings the library counts tokens in. */
export type Tokenizer = "o200k_base" | "cl100k_base";

/**
 * The number of tokens of `text` (a string, or UTF-8 bytes) in `tokenizer`
 * (default "o200k_base"; case is ignored), counted by the library exactly
 * as tiktoken's encode_ordinary counts. Throws TypeError for arguments of
 * the wrong type, RangeError for an unknown tokenizer, QuendraError for
 * bytes that are not UTF-8.
 */
export declare function tokenCount(text: string | Uint8Array, tokenizer?: Tokenizer | string): number;

/** The library's version, such as "0.4.0". */
export declare const version: string;
