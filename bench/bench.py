#!/usr/bin/env python3
"""Times lorebox on a generated home against the raw read rate of `cat`.

Generates the corpus once (cached under build/bench/), then runs, several
times each, `cat` of every file in the tree, `lorebox --dry-run` and a full
export, each with the default number of jobs and with `--jobs 1`, taking
turns round after round, and prints median wall-clock seconds, their ratio
to `cat`, median CPU seconds and the peak resident set size of each lorebox
run. Never part of `make check`.
"""
import argparse
import os
import zipfile
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def parse_args():
    here = os.path.dirname(os.path.abspath(__file__))
    repo = os.path.dirname(here)
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--binary", default=os.path.join(repo, "build", "lorebox"))
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


def main():
    args = parse_args()
    if not os.path.exists(args.binary):
        sys.exit(f"bench: {args.binary} not built (run make)")
    home = ensure_corpus(args)
    files = transcript_files(home)
    total = sum(os.path.getsize(f) for f in files)
    base = [args.binary, "--claude-dir", os.path.join(home, ".claude"),
            "--codex-dir", os.path.join(home, ".codex")]
    out_dir = tempfile.mkdtemp(prefix="lorebox-bench-")
    archive = os.path.join(out_dir, "bench.zip")
    runs = {
        "cat": ["cat"] + files,
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
    archive_size = os.path.getsize(archive)
    with zipfile.ZipFile(archive) as z:
        entries_size = sum(i.file_size for i in z.infolist())
    shutil.rmtree(out_dir, ignore_errors=True)

    mib = total / 1048576.0
    print(f"corpus: {len(files)} files, {mib:.0f} MiB ({home})")
    print(f"median of {args.reps} rounds (the runs take turns), warm page cache")
    workers = default_jobs()
    print(f"{'run':<20} {'seconds':>8} {'MB/s':>8} {'x cat':>7} {'CPU s':>7} "
          f"{'peak RSS MiB':>13}")
    for name, seconds in medians.items():
        ratio = seconds / medians["cat"]
        peak = f"{rss[name]:.0f}" if name != "cat" else "-"
        print(f"{name:<20} {seconds:>8.3f} {mib / seconds:>8.0f} {ratio:>7.2f} "
              f"{cpu[name]:>7.3f} {peak:>13}")
    entries_mib = entries_size / 1048576.0
    budget = 64 + 2 * entries_mib + 16 * workers
    ratio = {name: medians[name] / medians["cat"] for name in medians}
    print(f"archive: {archive_size / 1048576.0:.1f} MiB, entries uncompressed "
          f"{entries_mib:.1f} MiB")
    print(f"beside cat ({medians['cat']:.3f} s), with {workers} jobs by default: "
          f"dry run {ratio['dry-run']:.2f}x (--jobs 1: {ratio['dry-run --jobs 1']:.2f}x), "
          f"export {ratio['export']:.2f}x (--jobs 1: {ratio['export --jobs 1']:.2f}x); "
          f"peak RSS {max(rss[n] for n in runs if n != 'cat'):.0f} MiB against a budget of "
          f"{budget:.0f} MiB (64 + 2 x entries + 16 per worker)")


if __name__ == "__main__":
    main()
