#!/usr/bin/env python3
"""Times lorebox on a generated home against two yardsticks.

Generates the corpus once (cached under build/bench/), then runs, several
times each, `cat` of every file in the tree, the parse floor (parse_floor:
simdjson alone parsing every line of the same files on one thread),
`lorebox --dry-run` and a full export, each with the default number of jobs
and with `--jobs 1`, taking turns round after round, and prints median
wall-clock seconds, their ratios to `cat` and to the parse floor, median CPU
seconds and the peak resident set size of each run. `cat` shows the
machine's read rate, the parse floor its processor speed. Then compares the
archive's size with the size zlib's level 6 gives on the same entries, and
checks the results against the targets. Never part of `make check`.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib


def parse_args():
    here = os.path.dirname(os.path.abspath(__file__))
    repo = os.path.dirname(here)
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--binary", default=os.path.join(repo, "build", "lorebox"))
    p.add_argument("--parse-floor", default=os.path.join(repo, "build", "parse_floor"),
                   help="the parse floor tool (built with the bench)")
    p.add_argument("--size", default=os.environ.get("BENCH_SIZE", "1G"))
    p.add_argument("--reps", type=int, default=int(os.environ.get("BENCH_REPS", "5")))
    p.add_argument("--cache", default=os.path.join(repo, "build", "bench"))
    p.add_argument("--generator", default=os.environ.get(
        "BENCH_GENERATOR", os.path.join(here, "gen_corpus.py")))
    return p.parse_args()


def ensure_corpus(args):
    home = os.path.join(args.cache, f"home-{args.size}-seed1")
    stamp = os.path.join(home, ".complete")
    if os.path.exists(stamp):
        return home
    if not os.path.exists(args.generator):
        sys.exit(f"bench: corpus generator not found at {args.generator} "
                 "(set BENCH_GENERATOR)")
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(args.cache, exist_ok=True)
    print(f"Generating a {args.size} home in {home} ...", file=sys.stderr)
    subprocess.run([sys.executable, args.generator, "--out", home, "--size", args.size,
                    "--seed", "1", "--quiet"], check=True)
    open(stamp, "w").close()
    return home


def transcript_files(home):
    files = []
    for top in (".claude", ".codex"):
        for dirpath, _, names in os.walk(os.path.join(home, top)):
            files.extend(os.path.join(dirpath, n) for n in names)
    return sorted(files)


def default_jobs():
    """The jobs lorebox uses unless told, for the memory budget: the CPUs of
    this process's affinity mask (lorebox also heeds a cgroup quota)."""
    return len(os.sched_getaffinity(0))


def timed(cmd):
    """Runs cmd in a child of its own; returns its wall-clock seconds, its
    CPU seconds (user + system) and its peak resident set size in MiB."""
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.dup2(devnull, 2)
        try:
            os.execvp(cmd[0], cmd)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"bench: {cmd[0]} failed")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def zlib6_sizes(archive):
    """The archive's size and the size of its entries' data as stored, beside
    the size the same entries take deflated by zlib's level 6 (raw Deflate,
    as a ZIP entry holds it), and the entries' uncompressed size."""
    stored = zlib6 = entries = 0
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            data = z.read(info)
            entries += len(data)
            stored += info.compress_size
            encoder = zlib.compressobj(6, zlib.DEFLATED, -15)
            zlib6 += len(encoder.compress(data)) + len(encoder.flush())
    return os.path.getsize(archive), stored, zlib6, entries


def main():
    args = parse_args()
    for tool in (args.binary, args.parse_floor):
        if not os.path.exists(tool):
            sys.exit(f"bench: {tool} not built (run make bench)")
    home = ensure_corpus(args)
    files = transcript_files(home)
    total = sum(os.path.getsize(f) for f in files)
    base = [args.binary, "--claude-dir", os.path.join(home, ".claude"),
            "--codex-dir", os.path.join(home, ".codex")]
    out_dir = tempfile.mkdtemp(prefix="lorebox-bench-")
    archive = os.path.join(out_dir, "bench.zip")
    runs = {
        "cat": ["cat"] + files,
        "parse floor": [args.parse_floor] + files,
        "dry-run": base + ["--dry-run"],
        "dry-run --jobs 1": base + ["--dry-run", "--jobs", "1"],
        "export": base + ["-o", archive],
        "export --jobs 1": base + ["-o", archive, "--jobs", "1"],
    }
    # One warm-up pass of each fills the page cache. Then the runs take
    # turns, round after round, so a change in the machine's load while the
    # benchmark runs weighs on every column alike.
    for cmd in runs.values():
        timed(cmd)
    samples = {name: [] for name in runs}
    for _ in range(args.reps):
        for name, cmd in runs.items():
            samples[name].append(timed(cmd))
    medians = {name: statistics.median(s[0] for s in runs_of)
               for name, runs_of in samples.items()}
    cpu = {name: statistics.median(s[1] for s in runs_of)
           for name, runs_of in samples.items()}
    rss = {name: max(s[2] for s in runs_of) for name, runs_of in samples.items()}
    archive_size, stored, zlib6, entries_size = zlib6_sizes(archive)
    shutil.rmtree(out_dir, ignore_errors=True)

    mib = total / 1048576.0
    workers = default_jobs()
    print(f"corpus: {len(files)} files, {mib:.0f} MiB ({home})")
    print(f"median of {args.reps} rounds (the runs take turns), warm page cache; "
          f"default jobs: {workers}")
    print(f"{'run':<20} {'seconds':>8} {'MB/s':>8} {'x cat':>7} {'x floor':>8} "
          f"{'CPU s':>7} {'peak RSS MiB':>13}")
    for name, seconds in medians.items():
        print(f"{name:<20} {seconds:>8.3f} {mib / seconds:>8.0f} "
              f"{seconds / medians['cat']:>7.2f} {seconds / medians['parse floor']:>8.2f} "
              f"{cpu[name]:>7.3f} {rss[name]:>13.0f}")

    entries_mib = entries_size / 1048576.0
    # The archive as it would be with zlib's level 6 data in its entries.
    as_zlib6 = archive_size - stored + zlib6
    print(f"archive: {archive_size / 1048576.0:.2f} MiB; with zlib level 6 on the same "
          f"entries {as_zlib6 / 1048576.0:.2f} MiB ({archive_size / as_zlib6:.3f}x); "
          f"entries uncompressed {entries_mib:.1f} MiB")

    budget = 64 + 2 * entries_mib + 16 * workers
    peak = max(rss[n] for n in runs if n.startswith(("dry-run", "export")))
    # Each target in wall-clock seconds; beside it the same ratio of CPU
    # seconds, which a busy machine disturbs less, and which matches the
    # wall-clock ratio of an idle one where both runs use one thread.
    pairs = [
        ("export / cat", "export", "cat", 1.15),
        ("export / dry run", "export", "dry-run", 1.25),
        ("export / dry run, --jobs 1", "export --jobs 1", "dry-run --jobs 1", 1.3),
        ("dry run / parse floor, --jobs 1", "dry-run --jobs 1", "parse floor", 1.5),
        ("dry run / cat", "dry-run", "cat", 0.8),
    ]
    targets = [(name, medians[a] / medians[b], cpu[a] / cpu[b], limit)
               for name, a, b, limit in pairs]
    targets.append(("archive / zlib level 6", archive_size / as_zlib6, None, 1.07))
    targets.append(("peak RSS MiB / budget", peak / budget, None, 1.0))
    print(f"targets (cat {medians['cat']:.3f} s, parse floor "
          f"{medians['parse floor']:.3f} s; budget {budget:.0f} MiB = 64 + 2 x entries "
          f"+ 16 per worker):")
    for name, value, by_cpu, limit in targets:
        verdict = "ok" if value <= limit else "MISSED"
        cpu_text = f"  (CPU seconds: {by_cpu:.2f})" if by_cpu is not None else ""
        print(f"  {name:<34} {value:>6.2f}  at most {limit:.2f}  {verdict:<6}{cpu_text}")


if __name__ == "__main__":
    main()
