#!/usr/bin/env python3
"""Runs tavrin and its peers side by side on the same data and prints a table of throughputs.

    run.py BUILD_DIR [DATA_DIR]

BUILD_DIR holds a release build (cli/tavrin-convert, bench/tavrin_bench); DATA_DIR (default
build/peers) is where make-corpus.sh put the corpus. RUNS (default 5) runs are made of every
command, interleaved so that the load of a shared machine falls on all of them alike; the table
shows the median with the minimum and maximum. Every timed run starts after a sync and with its
outputs removed, so no run pays for an earlier one's writes; the order changes from round to
round, and each run waits (up to a minute) for the processors to be idle. The files are copied
to a folder in /dev/shm when there is one."""
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

RUNS = int(os.environ.get("RUNS", "5"))
HERE = os.path.dirname(os.path.abspath(__file__))
# Bytes, not characters, for every tool: sed and perl are slower, and match differently, when the
# locale makes them decode UTF-8.
ENV = dict(os.environ, LC_ALL="C")


def timed(argv, stdout=subprocess.DEVNULL):
    """Runs argv once; returns wall seconds and CPU seconds (user + system)."""
    os.sync()
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=stdout, stderr=subprocess.DEVNULL, env=ENV)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"run.py: {' '.join(argv)} failed")
    return wall, usage.ru_utime + usage.ru_stime


class Case:
    def __init__(self, name, argv, size=0, files=0, output=None, prepare=None):
        self.name, self.argv, self.size, self.files = name, argv, size, files
        self.output, self.prepare = output, prepare
        self.walls, self.cpus = [], []

    def run(self):
        if self.prepare:
            self.prepare()
        if self.output:
            with open(self.output, "wb") as out:
                wall, cpu = timed(self.argv, stdout=out)
        else:
            wall, cpu = timed(self.argv)
        self.walls.append(wall)
        self.cpus.append(cpu)

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


def idle_share(seconds=0.3):
    """The share of all processors' time that was idle over a short while (Linux only)."""
    def sample():
        with open("/proc/stat") as f:
            fields = [int(x) for x in f.readline().split()[1:]]
        return fields[3] + fields[4], sum(fields)
    idle, total = sample()
    time.sleep(seconds)
    idle2, total2 = sample()
    return (idle2 - idle) / max(1, total2 - total)


def wait_for_quiet(limit=60):
    """Waits up to limit seconds for the processors to be idle, so that -j 2 finds its second
    core free; returns False when they never were."""
    if not os.path.exists("/proc/stat"):
        return True
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if idle_share() >= 0.95:
            return True
    return False


def window_figures(build):
    """The window's batch run beside tavrin-convert, when the build has the window."""
    bench = os.path.join(build, "bench", "window", "tavrin-window-bench")
    if not os.path.exists(bench):
        return []
    out = subprocess.run([bench, "--files", "10000", "--rounds", str(RUNS), "--preview-mb", "20"],
                         capture_output=True, text=True, check=True).stdout
    return [line.strip() for line in out.splitlines() if not line.startswith("  round")]


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    data = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build/peers")
    corpus = os.path.join(data, "corpus.html")
    size = os.path.getsize(corpus)
    adversarial_size = os.path.getsize(os.path.join(data, "adversarial.bin"))

    # The files are converted in memory (tmpfs) where there is one: on a virtual disk the
    # writeback of one run's outputs makes the next run's time swing by several times.
    if os.access("/dev/shm", os.W_OK):
        work = tempfile.mkdtemp(prefix="tavrin-peers-", dir="/dev/shm")
    else:
        work = os.path.join(data, "work")
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
    try:
        run_all(build, data, work, corpus, size, adversarial_size)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run_all(build, data, work, corpus, size, adversarial_size):
    convert = os.path.join(build, "cli", "tavrin-convert")
    bench = os.path.join(build, "bench", "tavrin_bench")
    small = os.path.join(work, "small")
    shutil.copytree(os.path.join(data, "small"), small)
    small_files = sorted(os.path.join(small, n) for n in os.listdir(small) if n.endswith(".html"))
    big = os.path.join(work, "corpus.html")
    shutil.copyfile(corpus, big)
    adversarial = os.path.join(work, "adversarial.bin")
    shutil.copyfile(os.path.join(data, "adversarial.bin"), adversarial)
    # The small files as a NUL-separated list, for commands that split them over two processes.
    small_list = os.path.join(work, "small.list")
    with open(small_list, "wb") as f:
        f.write(b"".join(os.fsencode(n) + b"\0" for n in small_files))
    half = str((len(small_files) + 1) // 2)
    tags_c = os.path.join(work, "tags")
    subprocess.run(["cc", "-O2", "-o", tags_c, os.path.join(HERE, "tags.c")], check=True)
    table = os.path.join(data, "CEntity.txt")
    empty = os.path.join(data, "empty.txt")
    sink = os.path.join(work, "out.txt")
    fresh = remove_outputs(work, ".txt")
    fresh_small = remove_outputs(small, ".txt")
    perl, python = shutil.which("perl"), shutil.which("python3")

    table_args = ["--codepage", "1252", "--table", table]
    # -j 1 unless said: every peer here runs on one core.
    cases = [
        Case("cat > /dev/null", ["cat", big], size),
        Case("cat IN > OUT", ["cat", big], size, output=sink),
        Case("tavrin-convert, empty table (tag removal)",
             [convert, "-j", "1", "--codepage", "1252", "--table", empty, big], size, prepare=fresh),
        Case("C byte loop, tag removal", [tags_c, big], size, output=sink),
        Case("sed 's/<[^>]*>//g' (line by line)", ["sed", "s/<[^>]*>//g", big], size, output=sink),
        Case("perl, tag removal", [perl, os.path.join(HERE, "tags.pl"), big], size, output=sink),
        Case("tavrin-convert, 252-row table",
             [convert, "-j", "1", "--codepage", "1252", "--table", table, big], size, prepare=fresh),
        Case("tavrin-convert -j 2, 252-row table (one file, two threads)",
             [convert, "-j", "2"] + table_args + [big], size, prepare=fresh),
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
        Case("cat, small files, two processes (xargs -P 2)",
             ["xargs", "-0", "-P", "2", "-n", half, "-a", small_list, "cat"],
             files=len(small_files)),
        Case("tavrin-convert, small files, 252-row table",
             [convert, "-j", "1", "--codepage", "1252", "--table", table] + small_files,
             files=len(small_files), prepare=fresh_small),
        Case("tavrin-convert -j 2, small files, 252-row table",
             [convert, "-j", "2"] + table_args + small_files,
             files=len(small_files), prepare=fresh_small),
        Case("tavrin-convert -j 1 in two processes, small files (xargs -P 2)",
             ["xargs", "-0", "-P", "2", "-n", half, "-a", small_list, convert, "-j", "1"]
             + table_args, files=len(small_files), prepare=fresh_small),
        Case("perl, small files, 252-row table",
             [perl, os.path.join(HERE, "convert.pl"), table] + small_files,
             files=len(small_files), prepare=fresh_small),
    ]
    # A fresh order every round, the same on every machine: what one command leaves behind (the
    # memory a big perl run freed, writes still going to disk) falls on a different next one.
    noisy = 0
    for n in range(RUNS):
        print(f"run.py: round {n + 1} of {RUNS}", file=sys.stderr)
        order = list(cases)
        random.Random(n).shuffle(order)
        for case in order:
            noisy += not wait_for_quiet()
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

    # Peak memory by /usr/bin/time: the rusage of a child of this process would count the memory
    # of this process, which the child had before its exec.
    peaks = []
    if shutil.which("/usr/bin/time"):
        for what, argv, prepare in (
                ("corpus, -j 1", [convert, "-j", "1"] + table_args + [big], fresh),
                ("corpus, -j 2", [convert, "-j", "2"] + table_args + [big], fresh),
                ("small files, -j 2", [convert, "-j", "2"] + table_args + small_files,
                 fresh_small)):
            prepare()
            report = subprocess.run(["/usr/bin/time", "-v"] + argv, capture_output=True,
                                    text=True, check=True).stderr
            for line in report.splitlines():
                if "Maximum resident set size" in line:
                    peaks.append((what, int(line.split(":")[1]) * 1024))

    gbench = google_benchmarks(bench, corpus, work)
    window = window_figures(build)

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
    for what, peak in peaks:
        print(f"Peak memory of tavrin-convert with the 252-row table, {what} (/usr/bin/time -v): "
              f"{peak / 1e6:.1f} MB" + (f" = {peak / size:.2f}x the input" if "corpus" in what else ""))
    def seconds(name):
        return statistics.median(by_name[name].walls)

    j1 = seconds("tavrin-convert, small files, 252-row table")
    j2 = seconds("tavrin-convert -j 2, small files, 252-row table")
    two = seconds("tavrin-convert -j 1 in two processes, small files (xargs -P 2)")
    cat_out = seconds("cat IN > OUT")
    big1 = seconds("tavrin-convert, 252-row table")
    big2 = seconds("tavrin-convert -j 2, 252-row table (one file, two threads)")
    load = os.getloadavg()
    print(f"\nAgainst the goals (medians; load average at the end {load[0]:.1f}, {load[1]:.1f}, "
          f"{load[2]:.1f}; runs begun without the processors idle: {noisy} of {RUNS * len(cases)}):")
    print(f"- Small files: -j 1 {len(small_files) / j1:,.0f} files/s, -j 2 "
          f"{len(small_files) / j2:,.0f} files/s = {j1 / j2:.2f}x the -j 1 rate "
          f"(two processes of -j 1 on the halves: {j1 / two:.2f}x)")
    print(f"- One big file against cat IN > OUT ({cat_out * 1e3:.0f} ms): -j 1 {big1 * 1e3:.0f} ms = "
          f"{big1 / cat_out:.2f}x, -j 2 {big2 * 1e3:.0f} ms = {big2 / cat_out:.2f}x")
    if window:
        print("- The window (bench/window/tavrin-window-bench):")
        for line in window:
            print(f"  {line}")

    print("\n| In process (Google Benchmark, text in memory) | median MB/s | min-max | runs |")
    print("|---|---:|---:|---:|")
    for name, (median, low, high, count) in gbench.items():
        print(f"| {name} | {median:,.0f} | {low:,.0f}-{high:,.0f} | {count} |")


if __name__ == "__main__":
    main()
