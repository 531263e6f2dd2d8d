#!/usr/bin/env python3
"""The library's folders are layers, and a module may include only what stands
at its own layer or below: src/ itself (the C boundary and the request) over
rules/ over engine/ over document/ over tokens/ over unicode/. Within the
engine, prune and condense meet only through engine/condense.h.

Usage: layers.py SRC_DIR. Prints every include that breaks a rule and exits 1
when there is one."""
import re
import sys
from pathlib import Path

RANK = {"unicode": 0, "tokens": 1, "document": 2, "engine": 3, "rules": 4, "": 5}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path: str) -> str | None:
    """The layer a file or an include names: its first folder, or "" for src/."""
    parts = path.split("/")
    return "" if len(parts) == 1 else parts[0] if parts[0] in RANK else None


def faults(src: Path):
    for file in sorted(src.rglob("*")):
        if file.suffix not in (".h", ".cc") or file.name.startswith("gen_"):
            continue
        rel = file.relative_to(src).as_posix()
        here = layer_of(rel)
        for target in INCLUDE.findall(file.read_text(encoding="utf-8")):
            if "/" not in target:
                # Without a folder: src/ itself names its own headers and the
                # C header; below it, only the tables the build generates for
                # a module (headers found nowhere in the tree) are named so.
                generated = target != "quendra.h" and not any(src.rglob(target))
                if here != "" and not generated:
                    yield f"{rel}: includes {target} from above its layer"
                continue
            there = layer_of(target)
            if there is None or not (src / target).is_file():
                yield f"{rel}: includes {target}, which is not a module of src/"
            elif RANK[there] > RANK[here]:
                yield f"{rel}: includes {target} from a higher layer ({there or 'src'}/ over {here}/)"
            elif (Path(rel).stem.startswith("prune") and Path(target).stem.startswith("condense")
                  and target != "engine/condense.h"):
                yield f"{rel}: prune reaches condense through engine/condense.h only, not {target}"


def main() -> int:
    found = list(faults(Path(sys.argv[1])))
    for line in found:
        print(line)
    print(f"layers: {len(found)} upward includes" if found else "layers: every include points down")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
