#!/usr/bin/env python3
"""Runs tavrin and its peers side by side on the same data and prints a table of throughputs.

    run.py BUILD_DIR [DATA_DIR]

BUILD_DIR holds a release build (cli/tavrin-convert, bench/tavrin_bench); DATA_DIR (default
build/peers) is where make-corpus.sh put the corpus, and the second corpus in DATA_DIR/dense,
measured in the same rounds when it is there. RUNS (default 5) runs are made of every command,
interleaved so that the load of a shared machine falls on all of them alike; the table shows the
median with the minimum and maximum. Every timed run starts after a sync and with its outputs
removed, so no run pays for an earlier one's writes; the order changes from round to round, and
each run waits (up to IDLE_WAIT seconds, default 60) for the processors to be idle. The files are
copied to a folder in /dev/shm when there is one."""
import re
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
IDLE_WAIT = float(os.environ.get("IDLE_WAIT", "60"))
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
    def __init__(self, name, argv, size=0, files=0, output=None, prepare=None, corpus=None):
        self.name, self.argv, self.size, self.files = name, argv, size, files
        self.corpus = corpus
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


def stolen_ticks():
    """The processors' time taken by the host of a virtual machine (steal), and all their time,
    in clock ticks; zeros where the system does not say."""
    if not os.path.exists("/proc/stat"):
        return 0, 0
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    return (fields[7] if len(fields) > 7 else 0), sum(fields)


def wait_for_quiet(limit=IDLE_WAIT):
    """Waits up to limit seconds for the processors to be idle, so that -j 2 finds its second
    core free; returns False when they never were."""
    if not os.path.exists("/proc/stat"):
        return True
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if idle_share() >= 0.95:
            return True
    return False


def window_figures(build, folders):
    """The window's batch run beside tavrin-convert, when the build has the window: on generated
    pages, and on the given folders of real pages once the window bench takes a folder; with one
    job, and with one and two once it takes a number of jobs. Returns (what, jobs, lines)."""
    bench = os.path.join(build, "bench", "window", "tavrin-window-bench")
    if not os.path.exists(bench):
        return []
    # The options the bench knows are among its strings.
    with open(bench, "rb") as f:
        strings = f.read()
    jobs = [1, 2] if b"--jobs" in strings else [None]
    inputs = [("10,000 generated pages of 10 KB", ["--files", "10000"])]
    if b"--folder" in strings:
        inputs += [(f"the folder {label}", ["--folder", folder]) for label, folder in folders]
    # Batches write new outputs, as the command's own figures do; once more replacing older
    # outputs (a second Run on the same files), where the bench can, with only its batch lines.
    modes = [("", [])]
    if b"--replace" in strings:
        modes.append((", replacing older outputs",
                      ["--replace", "1", "--preview-mb", "1", "--rows", "2000", "--drop", "2000"]))
    figures = []
    for what, args in inputs:
        for label, extra in modes:
            for j in jobs:
                argv = [bench] + args + ["--rounds", str(RUNS), "--preview-mb", "20"] + extra
                if j is not None:
                    argv += ["--jobs", str(j)]
                # Two workers against one, pair by pair in the same rounds, where the bench can.
                if j == 2 and b"--versus-jobs" in strings:
                    argv += ["--versus-jobs", "1"]
                out = subprocess.run(argv, capture_output=True, text=True, check=True).stdout
                lines = [line.strip() for line in out.splitlines()
                         if not line.startswith("  round")]
                if extra:
                    lines = [line for line in lines if line.startswith("batch")
                             or "during its Run" in line or "pair by pair" in line]
                figures.append((what + label, j, lines))
    return figures


def window_seconds(lines, who="window"):
    """The median time of a batch, from the bench's summary line: the window's, or
    tavrin-convert's in the same rounds."""
    for line in lines:
        match = re.search(who + r" ([0-9.]+) s", line)
        if match:
            return float(match.group(1))
    return None


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    data = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build/peers")

    # The files are converted in memory (tmpfs) where there is one: on a virtual disk the
    # writeback of one run's outputs makes the next run's time swing by several times.
    if os.access("/dev/shm", os.W_OK):
        work = tempfile.mkdtemp(prefix="tavrin-peers-", dir="/dev/shm")
    else:
        work = os.path.join(data, "work")
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
    try:
        run_all(build, data, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


class Corpus:
    """One corpus copied to the work folder: its big file and its folder of small pages."""

    def __init__(self, key, title, data, work, table, codepage):
        self.key, self.title, self.data, self.codepage = key, title, data, codepage
        self.table = os.path.join(data, table)
        self.work = os.path.join(work, key)
        os.makedirs(self.work)
        self.small = os.path.join(self.work, "small")
        shutil.copytree(os.path.join(data, "small"), self.small)
        self.small_files = sorted(os.path.join(self.small, n) for n in os.listdir(self.small)
                                  if n.endswith(".html"))
        self.big = os.path.join(self.work, "corpus.html")
        shutil.copyfile(os.path.join(data, "corpus.html"), self.big)
        self.size = os.path.getsize(self.big)
        self.small_bytes = sum(os.path.getsize(n) for n in self.small_files)
        # The small files as a NUL-separated list, for commands that split them over two
        # processes.
        self.small_list = os.path.join(self.work, "small.list")
        with open(self.small_list, "wb") as f:
            f.write(b"".join(os.fsencode(n) + b"\0" for n in self.small_files))
        self.half = str((len(self.small_files) + 1) // 2)
        self.sink = os.path.join(self.work, "out.txt")
        self.fresh = remove_outputs(self.work, ".txt")
        self.fresh_small = remove_outputs(self.small, ".txt")
        self.rows = sum(1 for line in open(self.table, "rb").read().split(b"\r\n") if line)
        self.table_args = ["--codepage", codepage, "--table", self.table]
        # The peers pass over an occurrence on a second byte the way tavrin does under 932.
        self.peer_args = ["--codepage", "932"] if codepage == "932" else []


def first_cases(c, convert, tags_c, perl, python, empty, adversarial, adversarial_txt,
                adversarial_size):
    big, size, n = c.big, c.size, len(c.small_files)
    table, table_args = c.table, c.table_args
    return [
        Case("cat > /dev/null", ["cat", big], size),
        Case("cat IN > OUT", ["cat", big], size, output=c.sink),
        Case("tavrin-convert, empty table (tag removal)",
             [convert, "-j", "1", "--codepage", "1252", "--table", empty, big], size,
             prepare=c.fresh),
        Case("C byte loop, tag removal", [tags_c, big], size, output=c.sink),
        Case("sed 's/<[^>]*>//g' (line by line)", ["sed", "s/<[^>]*>//g", big], size,
             output=c.sink),
        Case("perl, tag removal", [perl, os.path.join(HERE, "tags.pl"), big], size, output=c.sink),
        Case("tavrin-convert, 252-row table", [convert, "-j", "1"] + table_args + [big], size,
             prepare=c.fresh),
        Case("tavrin-convert -j 2, 252-row table (one file, two threads)",
             [convert, "-j", "2"] + table_args + [big], size, prepare=c.fresh),
        Case("tavrin-convert, 252-row table, Shift-JIS lead bytes",
             [convert, "-j", "1", "--codepage", "932", "--table", table, big], size,
             prepare=c.fresh),
        Case("perl, 252-row table", [perl, os.path.join(HERE, "convert.pl"), table, big], size,
             prepare=c.fresh),
        Case("python, 252-row table", [python, os.path.join(HERE, "convert.py"), table, big],
             size, prepare=c.fresh),
        Case("tavrin-convert, adversarial (64 MiB of 0x83, row 0x83)",
             [convert, "-j", "1", "--codepage", "932", "--table", adversarial_txt, adversarial],
             adversarial_size, prepare=c.fresh),
        Case("cat, small files (one process, read only)", ["cat"] + c.small_files, files=n),
        Case("cat, small files, two processes (xargs -P 2)",
             ["xargs", "-0", "-P", "2", "-n", c.half, "-a", c.small_list, "cat"], files=n),
        Case("tavrin-convert, small files, 252-row table",
             [convert, "-j", "1"] + table_args + c.small_files, files=n, prepare=c.fresh_small),
        Case("tavrin-convert -j 2, small files, 252-row table",
             [convert, "-j", "2"] + table_args + c.small_files, files=n, prepare=c.fresh_small),
        Case("tavrin-convert -j 1 in two processes, small files (xargs -P 2)",
             ["xargs", "-0", "-P", "2", "-n", c.half, "-a", c.small_list, convert, "-j", "1"]
             + table_args, files=n, prepare=c.fresh_small),
        Case("perl, small files, 252-row table",
             [perl, os.path.join(HERE, "convert.pl"), table] + c.small_files, files=n,
             prepare=c.fresh_small),
    ]


def file_work_cases(c, beside):
    """The small files' file work without the conversion (beside.c: read each file, write a third
    of it to a new file beside it), on one thread and on two: the most two workers can gain in one
    folder of this file system."""
    return [Case(f"file work alone, small files, {j} thread{'s' if j > 1 else ''} (beside.c)",
                 [beside, str(j)] + c.small_files, files=len(c.small_files),
                 prepare=c.fresh_small) for j in (1, 2)]


def dense_cases(c, convert, tags_c):
    """The goals' commands alone: perl takes a minute on this corpus (with the lead-byte rule)
    and is timed once, by the check of the outputs."""
    big, size, n, rows = c.big, c.size, len(c.small_files), c.rows
    return [
        Case("cat IN > OUT", ["cat", big], size, output=c.sink),
        Case("C byte loop, tag removal", [tags_c, big], size, output=c.sink),
        Case(f"tavrin-convert, empty table (tag removal), --codepage {c.codepage}",
             [convert, "-j", "1", "--codepage", c.codepage, "--table",
              os.path.join(os.path.dirname(c.data), "empty.txt"), big], size, prepare=c.fresh),
        Case(f"tavrin-convert, {rows}-row table", [convert, "-j", "1"] + c.table_args + [big],
             size, prepare=c.fresh),
        Case(f"tavrin-convert -j 2, {rows}-row table (one file, two threads)",
             [convert, "-j", "2"] + c.table_args + [big], size, prepare=c.fresh),
        Case("cat, small files (one process, read only)", ["cat"] + c.small_files, files=n),
        Case("cat, small files, two processes (xargs -P 2)",
             ["xargs", "-0", "-P", "2", "-n", c.half, "-a", c.small_list, "cat"], files=n),
        Case(f"tavrin-convert, small files, {rows}-row table",
             [convert, "-j", "1"] + c.table_args + c.small_files, files=n,
             prepare=c.fresh_small),
        Case(f"tavrin-convert -j 2, small files, {rows}-row table",
             [convert, "-j", "2"] + c.table_args + c.small_files, files=n,
             prepare=c.fresh_small),
        Case("tavrin-convert -j 1 in two processes, small files (xargs -P 2)",
             ["xargs", "-0", "-P", "2", "-n", c.half, "-a", c.small_list, convert, "-j", "1"]
             + c.table_args, files=n, prepare=c.fresh_small),
    ]


def check_outputs(c, convert, perl, python):
    """Converts the big file with tavrin-convert and the two peers (under the same lead-byte
    rule); returns whether all three outputs agree and perl's wall seconds."""
    same, perl_seconds = {}, None
    for name, argv in (
            ("tavrin", [convert, "-j", "1"] + c.table_args + [c.big]),
            ("perl", [perl, os.path.join(HERE, "convert.pl")] + c.peer_args + [c.table, c.big]),
            ("python",
             [python, os.path.join(HERE, "convert.py")] + c.peer_args + [c.table, c.big])):
        c.fresh()
        wall, _ = timed(argv)
        if name == "perl":
            perl_seconds = wall
        with open(c.big + ".txt", "rb") as f:
            same[name] = f.read()
    c.fresh()
    return same["tavrin"] == same["perl"] == same["python"], perl_seconds


def peak_memory(c, convert):
    """Peak resident bytes by /usr/bin/time: the rusage of a child of this process would count
    the memory of this process, which the child had before its exec."""
    peaks = []
    if not shutil.which("/usr/bin/time"):
        return peaks
    for what, argv, prepare in (
            ("big file, -j 1", [convert, "-j", "1"] + c.table_args + [c.big], c.fresh),
            ("big file, -j 2", [convert, "-j", "2"] + c.table_args + [c.big], c.fresh),
            ("small files, -j 1", [convert, "-j", "1"] + c.table_args + c.small_files,
             c.fresh_small),
            ("small files, -j 2", [convert, "-j", "2"] + c.table_args + c.small_files,
             c.fresh_small)):
        prepare()
        report = subprocess.run(["/usr/bin/time", "-v"] + argv, capture_output=True,
                                text=True, check=True, env=ENV).stderr
        for line in report.splitlines():
            if "Maximum resident set size" in line:
                peaks.append((what, int(line.split(":")[1]) * 1024))
    prepare()
    return peaks


def run_all(build, data, work):
    convert = os.path.join(build, "cli", "tavrin-convert")
    bench = os.path.join(build, "bench", "tavrin_bench")
    tags_c = os.path.join(work, "tags")
    subprocess.run(["cc", "-O2", "-o", tags_c, os.path.join(HERE, "tags.c")], check=True)
    beside = os.path.join(work, "beside")
    subprocess.run(["cc", "-O2", "-pthread", "-o", beside, os.path.join(HERE, "beside.c")],
                   check=True)
    empty = os.path.join(data, "empty.txt")
    perl, python = shutil.which("perl"), shutil.which("python3")
    adversarial = os.path.join(work, "adversarial.bin")
    shutil.copyfile(os.path.join(data, "adversarial.bin"), adversarial)
    adversarial_size = os.path.getsize(adversarial)

    corpora = [Corpus("first", "first corpus (UTF-8 documentation)", data, work, "CEntity.txt",
                      "1252")]
    # The second corpus is a Japanese user's: pages partly in Shift-JIS, the table saved in
    # code page 932, and tavrin-convert told so (as the locale of a Shift-JIS desktop would).
    if os.path.exists(os.path.join(data, "dense", "corpus.html")):
        corpora.append(Corpus("dense", "second corpus (dense markup, a third Shift-JIS)",
                              os.path.join(data, "dense"), work, "CEntity.txt", "932"))
    cases = []
    for c in corpora:
        own = first_cases(c, convert, tags_c, perl, python, empty, adversarial,
                          os.path.join(data, "adversarial.txt"), adversarial_size) \
            if c is corpora[0] else dense_cases(c, convert, tags_c)
        for case in own + file_work_cases(c, beside):
            case.corpus = c
            cases.append(case)

    # A fresh order every round, the same on every machine: what one command leaves behind (the
    # memory a big perl run freed, writes still going to disk) falls on a different next one.
    # Both corpora share the rounds, so their figures meet the same load.
    started = time.monotonic()
    stolen_before = stolen_ticks()
    noisy = 0
    for n in range(RUNS):
        print(f"run.py: round {n + 1} of {RUNS}", file=sys.stderr)
        order = list(cases)
        random.Random(n).shuffle(order)
        for case in order:
            noisy += not wait_for_quiet()
            case.run()
    rounds_seconds = time.monotonic() - started
    stolen_after = stolen_ticks()
    # An idle processor shows no steal: the share counts against the time the rounds kept busy.
    stolen = (stolen_after[0] - stolen_before[0]) / max(1, stolen_after[1] - stolen_before[1])

    checks = {c.key: check_outputs(c, convert, perl, python) for c in corpora}
    peaks = {c.key: peak_memory(c, convert) for c in corpora}
    gbench = google_benchmarks(bench, corpora[0].big, work)
    window = window_figures(build, [(c.title, c.small) for c in corpora])

    load = os.getloadavg()
    print(f"\n{RUNS} runs of each command, median (min-max) by wall clock; CPU = user + system "
          f"time. The rounds took {rounds_seconds:.0f} s; runs begun without the processors "
          f"idle: {noisy} of {RUNS * len(cases)}; load average at the end {load[0]:.1f}, "
          f"{load[1]:.1f}, {load[2]:.1f}; the host of this virtual machine took {stolen:.0%} of "
          f"the processors' time during the rounds (steal).")
    goals = {}
    for c in corpora:
        goals[c.key] = report_corpus(c, [k for k in cases if k.corpus is c], checks[c.key],
                                     peaks[c.key])
    report_goals(corpora, goals, window)

    print("\n| In process (Google Benchmark, first corpus in memory) | median MB/s | min-max | "
          "runs |")
    print("|---|---:|---:|---:|")
    for name, (median, low, high, count) in gbench.items():
        print(f"| {name} | {median:,.0f} | {low:,.0f}-{high:,.0f} | {count} |")


def report_corpus(c, cases, check, peaks):
    """Prints the table of one corpus; returns its figures for the goals."""
    by_name = {k.name: k for k in cases}
    agree, perl_seconds = check
    n = len(c.small_files)
    print(f"\n## {c.title}: {c.size:,} bytes in one file, {n} small files "
          f"({c.small_bytes / 1e6:.1f} MB); {c.rows}-row table, --codepage {c.codepage}\n")
    perl_all = by_name.get(f"perl, {c.rows}-row table")
    perl_rate = perl_all.row()[0] if perl_all else c.size / 1e6 / perl_seconds
    perl_tags = by_name.get("perl, tag removal")
    perl_small = by_name.get(f"perl, small files, {c.rows}-row table")
    print("| Whole process | median | min-max | by CPU time | vs perl |")
    print("|---|---:|---:|---:|---:|")
    for k in cases:
        median, low, high, cpu = k.row()
        unit = "files/s" if k.files else "MB/s"
        if k.files:
            ratio = f"{median / perl_small.row()[0]:.1f}x" if perl_small else "-"
        elif "table" in k.name and "empty" not in k.name:
            ratio = f"{median / perl_rate:.1f}x"
        else:
            ratio = f"{median / perl_tags.row()[0]:.1f}x" if perl_tags else "-"
        print(f"| {k.name} | {median:,.0f} {unit} | {low:,.0f}-{high:,.0f} | {cpu:,.0f} | "
              f"{ratio} |")
    if not perl_all:
        print(f"| perl, {c.rows}-row table, lead bytes of 932 (one run, the check below) | "
              f"{perl_rate:,.1f} MB/s | - | - | 1.0x |")
    print("\nRatios: conversions against perl's conversion, tag removal and cat against perl's "
          "tag removal, small files against perl on the same files.")
    rule = " (the peers passing over second bytes of Shift-JIS as tavrin does)" if c.peer_args \
        else ""
    print(f"Outputs of tavrin-convert, perl and python on the big file{rule} identical: "
          f"{'yes' if agree else 'NO'}")
    for what, peak in peaks:
        print(f"Peak memory of tavrin-convert, {what} (/usr/bin/time -v): {peak / 1e6:.1f} MB")

    def seconds(name):
        return statistics.median(by_name[name].walls)

    j1 = seconds(f"tavrin-convert, small files, {c.rows}-row table")
    j2 = seconds(f"tavrin-convert -j 2, small files, {c.rows}-row table")
    big1 = seconds(f"tavrin-convert, {c.rows}-row table")
    big2 = seconds(f"tavrin-convert -j 2, {c.rows}-row table (one file, two threads)")
    return {
        "cat": seconds("cat IN > OUT"), "big1": big1, "big2": big2, "j1": j1, "j2": j2,
        "two": seconds("tavrin-convert -j 1 in two processes, small files (xargs -P 2)"),
        "cat1": seconds("cat, small files (one process, read only)"),
        "cat2": seconds("cat, small files, two processes (xargs -P 2)"),
        "work1": seconds("file work alone, small files, 1 thread (beside.c)"),
        "work2": seconds("file work alone, small files, 2 threads (beside.c)"),
        "files": n, "peak": max((p for _, p in peaks), default=0), "agree": agree,
        "perl": (c.size / 1e6 / big1) / perl_rate,
    }


def report_goals(corpora, goals, window):
    print("\n## Against the goals (medians of the same rounds)\n")
    print("| Goal | " + " | ".join(c.title for c in corpora) + " |")
    print("|---|" + "---|" * len(corpora))

    def row(goal, cell):
        print(f"| {goal} | " + " | ".join(cell(goals[c.key]) for c in corpora) + " |")

    row("One big file, -j 2, within 1.5x of `cat IN > OUT`",
        lambda g: f"**{g['big2'] / g['cat']:.2f}x** ({g['big2'] * 1e3:.0f} ms against "
                  f"{g['cat'] * 1e3:.0f} ms)")
    row("One big file, -j 1, against `cat IN > OUT`",
        lambda g: f"{g['big1'] / g['cat']:.2f}x ({g['big1'] * 1e3:.0f} ms)")
    row("Many files: -j 2 at least 1.7x -j 1",
        lambda g: f"**{g['j1'] / g['j2']:.2f}x** (two -j 1 processes on the halves: "
                  f"{g['j1'] / g['two']:.2f}x; cat on two processes: "
                  f"{g['cat1'] / g['cat2']:.2f}x; the file work alone, two threads against one: "
                  f"{g['work1'] / g['work2']:.2f}x, and one thread's file work is "
                  f"{g['work1'] / g['j1']:.0%} of -j 1's time)")
    row("Many files: at least 16,000 files/s with -j 1",
        lambda g: f"{g['files'] / g['j1']:,.0f} files/s (-j 2 {g['files'] / g['j2']:,.0f})")
    row("Any size in at most 256 MB (peak resident, big file and small files, -j 1 and -j 2)",
        lambda g: f"{g['peak'] / 1e6:.1f} MB at most")
    row("Whole conversion at least 10x perl (-j 1)", lambda g: f"{g['perl']:.1f}x")
    row("Outputs equal to the peers'", lambda g: "yes" if g["agree"] else "**NO**")

    if not window:
        return
    print("\nThe window (bench/window/tavrin-window-bench, same run):")
    one = {}
    for what, jobs, lines in window:
        label = f"{what}, --jobs {jobs}" if jobs else what
        for line in lines:
            print(f"- {label}: {line}")
        if jobs == 1:
            one[what] = (window_seconds(lines), window_seconds(lines, "tavrin-convert"))
        elif jobs == 2 and one.get(what) and window_seconds(lines):
            paired = [re.search(r"window ([0-9.]+)x as fast, tavrin-convert ([0-9.]+)x", line)
                      for line in lines]
            paired = [m for m in paired if m]
            if paired:
                speedup, command = float(paired[0].group(1)), float(paired[0].group(2))
                how = "pair by pair in the same rounds"
            else:
                speedup = one[what][0] / window_seconds(lines)
                command = one[what][1] / window_seconds(lines, "tavrin-convert")
                how = "medians of two runs of the bench"
            print(f"- {what}: the window's Run with two jobs {speedup:.2f}x as fast as with one "
                  f"(goal: at least 1.6x; tavrin-convert {command:.2f}x; {how})")


if __name__ == "__main__":
    main()
