#!/usr/bin/env python3
"""Runs tavrin and its peers side by side on the same data and prints a table of throughputs.

    run.py BUILD_DIR [DATA_DIR]

BUILD_DIR holds a release build (cli/tavrin-convert, bench/tavrin_bench); DATA_DIR (default
build/peers) is where make-corpus.sh put the corpus. RUNS (default 5) runs are made of every
command, interleaved so that the load of a shared machine falls on all of them alike; the table
shows the median with the minimum and maximum. Every timed run starts after a sync and with its
outputs removed, so no run pays for an earlier one's writes; the order changes from round to
round."""
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

RUNS = int(os.environ.get("RUNS", "5"))
HERE = os.path.dirname(os.path.abspath(__file__))
# Bytes, not characters, for every tool: sed and perl are slower, and match differently, when the
# locale makes them decode UTF-8.
ENV = dict(os.environ, LC_ALL="C")


def timed(argv, stdout=subprocess.DEVNULL):
    """Runs argv once; returns wall seconds, CPU seconds (user + system) and peak RSS in KiB."""
    os.sync()
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=stdout, stderr=subprocess.DEVNULL, env=ENV)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"run.py: {' '.join(argv)} failed")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


class Case:
    def __init__(self, name, argv, size=0, files=0, output=None, prepare=None):
        self.name, self.argv, self.size, self.files = name, argv, size, files
        self.output, self.prepare = output, prepare
        self.walls, self.cpus, self.rss = [], [], 0

    def run(self):
        if self.prepare:
            self.prepare()
        if self.output:
            with open(self.output, "wb") as out:
                wall, cpu, rss = timed(self.argv, stdout=out)
        else:
            wall, cpu, rss = timed(self.argv)
        self.walls.append(wall)
        self.cpus.append(cpu)
        self.rss = max(self.rss, rss)

    def rate(self, seconds):
        return self.files / seconds if self.files else self.size / 1e6 / seconds

    def row(self):
        walls = sorted(self.walls)
        return (self.rate(statistics.median(walls)), self.rate(walls[-1]), self.rate(walls[0]),
                self.rate(statistics.median(self.cpus)))


def remove_outputs(folder, suffix=".txt"):
    def prepare():
        for name in os.listdir(folder):
            if name.endswith(suffix):
                os.unlink(os.path.join(folder, name))
    return prepare


def google_benchmarks(bench, corpus, work):
    """Medians, minimums and maximums in MB/s of the in-process benchmarks."""
    out = os.path.join(work, "bench.json")
    env = dict(os.environ, TAVRIN_CORPUS=corpus)
    subprocess.run([bench, f"--benchmark_repetitions={RUNS}", "--benchmark_format=json",
                    f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   env=env, stdout=subprocess.DEVNULL, check=True)
    with open(out) as f:
        runs = [b for b in json.load(f)["benchmarks"] if b.get("run_type") == "iteration"]
    results = {}
    for b in runs:
        name = b["run_name"].replace("/real_time", "")
        results.setdefault(name, []).append(b["bytes_per_second"] / 1e6)
    return {k: (statistics.median(v), min(v), max(v), len(v)) for k, v in results.items()}


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    data = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build/peers")
    # One job, as every peer here runs on one core.
    convert = os.path.join(build, "cli", "tavrin-convert")
    bench = os.path.join(build, "bench", "tavrin_bench")
    corpus = os.path.join(data, "corpus.html")
    small = os.path.join(data, "small")
    size = os.path.getsize(corpus)
    adversarial_size = os.path.getsize(os.path.join(data, "adversarial.bin"))
    small_files = sorted(os.path.join(small, n) for n in os.listdir(small) if n.endswith(".html"))

    work = os.path.join(data, "work")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    big = os.path.join(work, "corpus.html")
    shutil.copyfile(corpus, big)
    adversarial = os.path.join(work, "adversarial.bin")
    shutil.copyfile(os.path.join(data, "adversarial.bin"), adversarial)
    tags_c = os.path.join(work, "tags")
    subprocess.run(["cc", "-O2", "-o", tags_c, os.path.join(HERE, "tags.c")], check=True)
    table = os.path.join(data, "CEntity.txt")
    empty = os.path.join(data, "empty.txt")
    sink = os.path.join(work, "out.txt")
    fresh = remove_outputs(work, ".txt")
    fresh_small = remove_outputs(small, ".txt")
    perl, python = shutil.which("perl"), shutil.which("python3")

    cases = [
        Case("cat > /dev/null", ["cat", big], size),
        Case("tavrin-convert, empty table (tag removal)",
             [convert, "-j", "1", "--codepage", "1252", "--table", empty, big], size, prepare=fresh),
        Case("C byte loop, tag removal", [tags_c, big], size, output=sink),
        Case("sed 's/<[^>]*>//g' (line by line)", ["sed", "s/<[^>]*>//g", big], size, output=sink),
        Case("perl, tag removal", [perl, os.path.join(HERE, "tags.pl"), big], size, output=sink),
        Case("tavrin-convert, 252-row table",
             [convert, "-j", "1", "--codepage", "1252", "--table", table, big], size, prepare=fresh),
        Case("tavrin-convert, 252-row table, Shift-JIS lead bytes",
             [convert, "-j", "1", "--codepage", "932", "--table", table, big], size, prepare=fresh),
        Case("perl, 252-row table", [perl, os.path.join(HERE, "convert.pl"), table, big], size,
             prepare=fresh),
        Case("python, 252-row table", [python, os.path.join(HERE, "convert.py"), table, big],
             size, prepare=fresh),
        Case("tavrin-convert, adversarial (64 MiB of 0x83, row 0x83)",
             [convert, "-j", "1", "--codepage", "932", "--table", os.path.join(data, "adversarial.txt"),
              adversarial], adversarial_size, prepare=fresh),
        Case("cat, small files (one process, read only)", ["cat"] + small_files,
             files=len(small_files)),
        Case("tavrin-convert, small files, 252-row table",
             [convert, "-j", "1", "--codepage", "1252", "--table", table] + small_files,
             files=len(small_files), prepare=fresh_small),
        Case("perl, small files, 252-row table",
             [perl, os.path.join(HERE, "convert.pl"), table] + small_files,
             files=len(small_files), prepare=fresh_small),
    ]
    # A fresh order every round, the same on every machine: what one command leaves behind (the
    # memory a big perl run freed, writes still going to disk) falls on a different next one.
    for n in range(RUNS):
        print(f"run.py: round {n + 1} of {RUNS}", file=sys.stderr)
        order = list(cases)
        random.Random(n).shuffle(order)
        for case in order:
            case.run()

    # The three conversions must agree byte for byte.
    same = {}
    for name, argv in (("tavrin", [convert, "-j", "1", "--codepage", "1252", "--table", table, big]),
                       ("perl", [perl, os.path.join(HERE, "convert.pl"), table, big]),
                       ("python", [python, os.path.join(HERE, "convert.py"), table, big])):
        subprocess.run(argv, check=True, stderr=subprocess.DEVNULL, env=ENV)
        with open(big + ".txt", "rb") as f:
            same[name] = f.read()
    agree = same["tavrin"] == same["perl"] == same["python"]

    peak = None
    if shutil.which("/usr/bin/time"):
        fresh()
        report = subprocess.run(["/usr/bin/time", "-v", convert, "--codepage", "1252", "--table",
                                 table, big], capture_output=True, text=True, check=True).stderr
        for line in report.splitlines():
            if "Maximum resident set size" in line:
                peak = int(line.split(":")[1]) * 1024

    gbench = google_benchmarks(bench, corpus, work)
    shutil.rmtree(work, ignore_errors=True)
    fresh_small()

    by_name = {c.name: c for c in cases}
    perl_all = by_name["perl, 252-row table"].row()[0]
    perl_tags = by_name["perl, tag removal"].row()[0]
    print(f"\nCorpus: {size} bytes of HTML ({size / 1e6:.1f} MB), {len(small_files)} small files; "
          f"{RUNS} runs each, median (min-max) by wall clock; CPU = user + system time.\n")
    print("| Whole process | median | min-max | by CPU time | vs perl |")
    print("|---|---:|---:|---:|---:|")
    for c in cases:
        median, low, high, cpu = c.row()
        unit = "files/s" if c.files else "MB/s"
        if c.files:
            ratio = median / by_name["perl, small files, 252-row table"].row()[0]
        elif "table" in c.name and "empty" not in c.name:
            ratio = median / perl_all
        else:
            ratio = median / perl_tags
        print(f"| {c.name} | {median:,.0f} {unit} | {low:,.0f}-{high:,.0f} | {cpu:,.0f} | "
              f"{ratio:.1f}x |")
    print("\nRatios: conversions against perl's conversion, tag removal and cat against perl's "
          "tag removal, small files against perl on the same files.")
    print(f"Outputs of tavrin-convert, perl and python on the corpus identical: "
          f"{'yes' if agree else 'NO'}")
    if peak:
        print(f"Peak memory of tavrin-convert with the 252-row table (/usr/bin/time -v): "
              f"{peak / 1e6:.1f} MB = {peak / size:.2f}x the input")
    print("\n| In process (Google Benchmark, text in memory) | median MB/s | min-max | runs |")
    print("|---|---:|---:|---:|")
    for name, (median, low, high, count) in gbench.items():
        print(f"| {name} | {median:,.0f} | {low:,.0f}-{high:,.0f} | {count} |")


if __name__ == "__main__":
    main()
