// Type-checked with the examples by test/pack.sh: what the declarations must
// accept, and what they must refuse (each @ts-expect-error must see an error).
import { QuendraError, Result, shrink, shrinkAsync, shrinkValue, tokenCount, type Options } from "quendra";

const options: Options = { max_chars: 10, format: "yml", protect: "id", arguments: { q: ["a", 1] } };
const format: "json" | "yaml" = shrink("{}", options).report.format;
const text: Promise<string> = shrinkAsync(new Uint8Array(2)).then((r: Result) => r.text);
const fits: boolean = shrinkValue([1, 2, 3]).report.fits;
const error: Error = new QuendraError("message");
const tokens: Result = shrink("{}", { max_tokens: 50, countTokens: (t: string) => t.length, query: "id" });
void [format, text, fits, error, tokens];

// @ts-expect-error a count is a number
shrink("{}", { max_tokens: 5, countTokens: (t: string) => t });
// @ts-expect-error shrink counts synchronously
shrink("{}", { max_tokens: 5, countTokens: async (t: string) => t.length });
// @ts-expect-error a Promise of a count is a Promise of a number
void shrinkAsync("{}", { max_tokens: 5, countTokens: async (t: string) => t });
const counted: Promise<Result> = shrinkAsync("{}", { max_tokens: 5, countTokens: async (t: string) => t.length });
void counted;

// @ts-expect-error the budget is a number
shrink("{}", { max_chars: "10" });
// @ts-expect-error an unknown option
shrink("{}", { max_char: 10 });
// @ts-expect-error not a format
shrink("{}", { format: "xml" });
// @ts-expect-error protect takes strings
shrink("{}", { protect: [1] });
// @ts-expect-error a root is a JSON Pointer
shrink("{}", { root: "data/0" });
const redacted: number | undefined = shrink("{}", { root: "/a", exclude: ["b"], redact: true }).report.values_redacted;
void redacted;
// @ts-expect-error a document is text or bytes
shrink(42);
// @ts-expect-error a Result comes only from the library
new Result();
// @ts-expect-error the report is read-only
shrink("{}").report.fits = false;
// @ts-expect-error decisions are records, not numbers
const score: number = shrink("{}").report.field_decisions[0];
void score;

// Token counts: a text or bytes, and an optional tokenizer name.
const counts: number = tokenCount("hello", "cl100k_base") + tokenCount(new Uint8Array(0));
void counts;
// @ts-expect-error the text is a string or bytes
tokenCount(42);
