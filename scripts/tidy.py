#!/usr/bin/env python3
"""Runs clang-tidy (checks in .clang-tidy) on what a change touches, or on every source.

scripts/tidy.py BUILD_DIR [--all] [--base REV] [-j N]

BUILD_DIR holds a compile_commands.json of a finished build (generated headers exist). By default only the
lines changed since REV are judged, in every translation unit that contains them: REV is the merge base of
origin/main (or main) and HEAD, or HEAD's first parent when HEAD is that merge base (a run on main itself
judges the last merge or commit). Uncommitted changes count too. --all judges every line of every source,
which takes several minutes on two cores. Exits 1 when clang-tidy reports anything.
"""
import argparse
import concurrent.futures
import json
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OURS = re.compile(r"^(src|tests|bench)/.*\.(cpp|h)$")


def git(*args, check=True):
    result = subprocess.run(["git", "-C", ROOT, *args], capture_output=True, text=True)
    if check and result.returncode != 0:
        sys.exit(f"git {' '.join(args)} failed: {result.stderr.strip()}")
    return result.stdout.strip() if result.returncode == 0 else None


def default_base():
    head = git("rev-parse", "HEAD")
    for upstream in ("origin/main", "main"):
        if git("rev-parse", "--verify", "-q", upstream + "^{commit}", check=False):
            base = git("merge-base", upstream, "HEAD", check=False)
            if base and base != head:
                return base
            break
    return git("rev-parse", "--verify", "-q", "HEAD^1^{commit}", check=False)


def changed_lines(base):
    """{repo-relative path: [[first, last], ...]} of lines added or changed since base."""
    diff = git("diff", "-U0", "--no-color", "--no-ext-diff", "--diff-filter=AMR", base, "--")
    ranges, name = {}, None
    for line in diff.splitlines():
        if line.startswith("+++ "):
            name = line[6:] if line.startswith("+++ b/") else None
            if name and not OURS.match(name):
                name = None
        elif name and line.startswith("@@"):
            m = re.match(r"^@@ -\S+ \+(\d+)(?:,(\d+))? @@", line)
            first, count = int(m.group(1)), int(m.group(2) or "1")
            if count:
                ranges.setdefault(name, []).append([first, first + count - 1])
    return ranges


def units_for(changed, sources):
    """The translation units that hold the changed files: the file itself, a header's own .cpp, or else the
    first unit that includes the header."""
    units = set()
    for name in changed:
        path = os.path.join(ROOT, name)
        if path in sources:
            units.add(path)
            continue
        own = os.path.splitext(path)[0] + ".cpp"
        if own in sources:
            units.add(own)
            continue
        include = re.compile(r'#\s*include\s*"[^"]*\b' + re.escape(os.path.basename(name)) + '"')
        for unit in sorted(sources):
            with open(unit, encoding="utf-8", errors="replace") as f:
                if include.search(f.read()):
                    units.add(unit)
                    break
        else:
            print(f"tidy: no translation unit includes {name}; not checked")
    return sorted(units)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir")
    parser.add_argument("--all", action="store_true", help="every line of every source")
    parser.add_argument("--base", help="judge the lines changed since this revision")
    parser.add_argument("-j", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--clang-tidy", default="clang-tidy")
    args = parser.parse_args()

    build = os.path.abspath(args.build_dir)
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as f:
        entries = json.load(f)
    sources = {os.path.normpath(os.path.join(e["directory"], e["file"])) for e in entries}
    sources = {s for s in sources if OURS.match(os.path.relpath(s, ROOT)) and "_autogen" not in s}

    command = [args.clang_tidy, "-p", build, "--quiet"]
    if args.all:
        units = sorted(sources)
        what = "every source"
    else:
        base = args.base or default_base()
        if not base:
            print("tidy: no revision to compare with; nothing checked")
            return 0
        changed = changed_lines(base)
        if not changed:
            print(f"tidy: no C++ lines changed since {base[:12]}")
            return 0
        units = units_for(changed, sources)
        command.append("--line-filter=" + json.dumps([{"name": n, "lines": r} for n, r in sorted(changed.items())]))
        what = f"lines changed since {base[:12]}"

    def run(unit):
        return unit, subprocess.run([*command, unit], capture_output=True, text=True)

    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.j)) as pool:
        for unit, result in pool.map(run, units):
            output = (result.stdout + result.stderr).strip()
            if result.returncode != 0:
                failed += 1
                print(f"--- {os.path.relpath(unit, ROOT)}\n{output}")
    print(f"tidy: {len(units)} translation unit(s) checked ({what}), {failed} with findings")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
