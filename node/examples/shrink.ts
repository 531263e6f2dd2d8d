// The quendra package from TypeScript: a typed options object, the report's
// members, calls on the thread pool, and the library's errors.
import {
  QuendraError,
  shrink,
  shrinkAsync,
  shrinkValue,
  version,
  type Options,
  type Report,
  type Result,
} from "quendra";

interface Project {
  id: number;
  name: string;
  language: string;
  stars: number;
  description: string;
}

const projects: Project[] = Array.from({ length: 40 }, (_, i) => ({
  id: 4210340 + i,
  name: `project-${i}`,
  language: ["Zig", "Rust", "Kotlin"][i % 3],
  stars: (i * 37) % 200,
  description: "An experiment in parsing that outgrew its weekend. ".repeat(4),
}));

// Keep every record but only the fields a reader of stars and languages needs.
const condensed: Options = {
  max_chars: 2000,
  indent: 0,
  array_strategy: "condense",
  field_scorer: "heuristic",
  arguments: "stars and language",
  protect: ["id"],
  explain: true,
};

function describe(report: Report): string {
  const dropped = report.dropped_fields.map((f) => `${f.path} (${f.items})`).join(", ");
  const fit = report.fits ? "fits" : "does not fit";
  return `${report.output_chars} of ${report.max_chars} characters of ${report.format}, ${fit}; ` +
    `dropped: ${dropped || "nothing"}`;
}

async function main(): Promise<void> {
  console.log(`quendra ${version}`);

  const result: Result = shrinkValue({ data: projects }, condensed);
  console.log(describe(result.report));
  for (const decision of result.report.field_decisions) {
    console.log(`  ${decision.path}: ${decision.score.toFixed(3)}${decision.kept ? "" : " (dropped)"}`);
  }

  // Several documents at once, off the event loop: text and bytes alike.
  const texts = await Promise.all([
    shrinkAsync(JSON.stringify(projects), { max_chars: 400, indent: 0 }),
    shrinkAsync(Buffer.from("users:\n  - Ada\n  - Grace\n"), { format: "json", indent: 0 }),
  ]);
  for (const { text, report } of texts) console.log(report.input_format, text.length, text.slice(0, 60));

  try {
    shrink("[1, 2", { input_format: "json" });
  } catch (error) {
    if (!(error instanceof QuendraError)) throw error;
    console.log(`refused: ${error.message}`);
  }
}

main().catch((error: unknown) => {
  console.error(error);
  process.exitCode = 1;
});
