#!/usr/bin/env python3
"""Times pelfry-cli's whole-archive work against tar and cp on the same files, made first, and
the window's batch commands against pelfry-cli's.

    bench/cli/bench_cli.py [--cli PATH] [--before PATH] [--build DIR] [--work DIR] [--repeat N]
                           [--only NAME,...]

Builds pelfry-cli, the input maker bench_cli_inputs and the headless window bench_window in the
Release build DIR (build-rel unless told; configured when missing), makes the inputs in a temporary folder (or --work),
runs each command --repeat times (3 unless told) and keeps the fastest run, then prints a
table of the figures against their targets. --cli times another pelfry-cli (an older build,
say) on the same inputs; --before times another pelfry-cli too, each benchmark run by both in
turn on the same files, and the table has a row for each. Inputs made in a --work folder are
kept there for the next run. The machine's load average is printed with each figure: times
taken while other work runs are not the program's own.

Benchmarks (names for --only):
  extract   extract of 2,000 entries of 1 to 60 KB, against tar -x of the same files
  export    export of 5,000 entries (images, sprites, other files), against tar -x of them
  rebuild   rebuild from logs of 10,000 and of 40,000 small entries: the ratio of the times
  add       add of one entry to a 500 MB archive, against cp of the archive (and cp then
            sync); the peak resident memory of add
  thumbnail thumbnail of a 1 GB archive whose first picture is its last entry: the time and the
            peak resident memory, against cat of the archive (which reads it all)
  jobs      rebuild --recreate-all of an image-heavy export with --jobs 1 and with one job per
            core: the ratio, and whether both archives are the same bytes
  memory    extract and export (--jobs 1 and 2) of a 1 GB archive of entries of up to 2 MiB,
            one in four a picture: the peak resident memory, and whether each passes within
            300 MB of address space (ulimit -v 300000)
  window    the window's "Extract, convert, log" of the 5,000 entries of export and "Extract
            from directory" of the 2,000 of extract, driven headless through the toolkit
            (bench_window), against pelfry-cli export and extract; and whether they wrote the
            same files
"""
import argparse
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def load():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def run(command, check=True):
    """Runs `command`; returns its wall time and its processor time (user and system) in
    seconds, and its peak resident memory in MB (and, unless `check`, whether it succeeded
    rather than stopping the benchmarks when it fails)."""
    start = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                             stderr=None if check else subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    ok = os.waitstatus_to_exitcode(status) == 0
    if check and not ok:
        sys.exit("failed: " + " ".join(command))
    figures = seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024
    return figures if check else figures + (ok,)


def best(command, repeat, prepare=None, cpu=None):
    """The fastest of `repeat` runs (with `prepare` before each, untimed) and the peak memory;
    the least processor time goes into the list `cpu` when given."""
    times, cpus, memory = [], [], 0.0
    for _ in range(repeat):
        if prepare:
            prepare()
        seconds, processor, mb = run(command)
        times.append(seconds)
        cpus.append(processor)
        memory = max(memory, mb)
    if cpu is not None:
        cpu.append(min(cpus))
    return min(times), memory


def fresh_folder(path):
    def prepare():
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
    return prepare


def gone(path):
    def prepare():
        if os.path.exists(path):
            os.remove(path)
    return prepare


class Bench:
    def __init__(self, cli, inputs, work, repeat, rows, label=""):
        self.cli, self.inputs, self.work, self.repeat = cli, inputs, work, repeat
        self.rows, self.label = rows, label
        help_text = subprocess.run([cli, "rebuild", "--help"], capture_output=True, text=True).stdout
        self.has_jobs = "--jobs" in help_text

    def make(self, kind, folder, *args):
        """Makes the inputs of `kind` in `folder`, unless a run before made them there."""
        made = os.path.join(folder, ".made")
        if not os.path.exists(made):
            subprocess.run([self.inputs, kind, folder, *args], check=True)
            open(made, "w").close()

    def row(self, name, ours, reference, ratio, target, met, note=""):
        if self.label:
            name = f"{name} ({self.label})"
        self.rows.append((name, ours, reference, ratio, target, "yes" if met else "NO", note,
                          load()))
        print(f"{name}: {ours} against {reference}: {ratio} (target {target}) load {load()}",
              flush=True)

    def versus(self, name, ours, reference, out, limit):
        mine, _ = best(ours, self.repeat, fresh_folder(out))
        theirs, _ = best(reference, self.repeat, fresh_folder(out))
        ratio = mine / theirs
        self.row(name, f"{mine:.2f} s", f"{theirs:.2f} s", f"{ratio:.1f}x", f"<= {limit}x",
                 ratio <= limit)

    def extract(self):
        d = os.path.join(self.work, "extract") + "/"
        self.make("extract", d)
        subprocess.run(["tar", "-cf", d + "extract.tar", "-C", d + "extract", "."], check=True)
        out = d + "out"
        self.versus("extract 2,000 entries", [self.cli, "extract", "-q", d + "extract.DIR", out],
                    ["tar", "-xf", d + "extract.tar", "-C", out], out, 2)

    def export(self):
        d = os.path.join(self.work, "mixed") + "/"
        self.make("mixed", d)
        subprocess.run(["tar", "-cf", d + "mixed.tar", "-C", d + "mixed", "."], check=True)
        out = d + "out"
        self.versus("export 5,000 entries", [self.cli, "export", "-q", d + "mixed.DIR", out],
                    ["tar", "-xf", d + "mixed.tar", "-C", out], out, 5)

    def rebuild(self):
        times, cpu = [], []
        for count in (10000, 40000):
            d = os.path.join(self.work, f"log{count}") + "/"
            self.make("log", d, str(count))
            # Runs of a fraction of a second: more of them, for a fair best one.
            seconds, _ = best([self.cli, "rebuild", "-q", d + "L.DIR.txt", d + "out.DIR"],
                              3 * self.repeat, gone(d + "out.DIR"), cpu)
            times.append(seconds)
        ratio = times[1] / times[0]
        self.row("rebuild 40,000 / 10,000 entries", f"{times[1]:.2f} s", f"{times[0]:.2f} s",
                 f"{ratio:.1f}", "<= 5", ratio <= 5,
                 f"processor time {cpu[1]:.2f} s / {cpu[0]:.2f} s: {cpu[1] / cpu[0]:.1f}")

    def add(self):
        d = os.path.join(self.work, "large") + "/"
        self.make("large", d, "500")
        mine, memory = best([self.cli, "add", d + "large.DIR", d + "new.bin"], self.repeat)
        cp, _ = best(["cp", d + "large.DIR", d + "copy.DIR"], self.repeat, gone(d + "copy.DIR"))
        synced, _ = best(["sh", "-c", f"cp {d}large.DIR {d}copy.DIR && sync {d}copy.DIR"],
                         self.repeat, gone(d + "copy.DIR"))
        self.row("add 1 entry to 500 MB", f"{mine:.2f} s", f"cp {cp:.2f} s", f"{mine / cp:.1f}x",
                 "<= 1.5x", mine / cp <= 1.5,
                 f"cp + sync {synced:.2f} s: {mine / synced:.1f}x")
        self.row("add: peak memory", f"{memory:.0f} MB", "", "", "<= 100 MB", memory <= 100)

    def thumbnail(self):
        d = os.path.join(self.work, "thumbnail") + "/"
        self.make("thumbnail", d, "1024")
        archive, out = d + "thumbnail.DIR", d + "thumbnail.png"
        mine, memory = best([self.cli, "thumbnail", archive, out], 3 * self.repeat)
        cat, _ = best(["cat", archive], self.repeat)
        self.row("thumbnail of a 1 GB archive", f"{mine:.3f} s", f"cat {cat:.2f} s",
                 f"{mine / cat:.2f}x", "<= 0.1 s", mine <= 0.1, "the directory and one entry read")
        self.row("thumbnail: peak memory", f"{memory:.0f} MB", "", "", "<= 30 MB", memory <= 30)

    def jobs(self):
        d = os.path.join(self.work, "pictures") + "/"
        self.make("pictures", d, "300")
        cores = os.cpu_count() or 1
        one = [self.cli, "rebuild", "-q", "--recreate-all"]
        if not self.has_jobs:
            seconds, _ = best(one + [d + "P.DIR.txt", d + "one.DIR"], self.repeat)
            self.row("rebuild --recreate-all", f"{seconds:.2f} s", "", "", ">= 1.6x", False,
                     "no --jobs: one core")
            return
        single, _ = best(one + ["--jobs", "1", d + "P.DIR.txt", d + "one.DIR"], self.repeat)
        many, _ = best(one + ["--jobs", str(cores), d + "P.DIR.txt", d + "all.DIR"], self.repeat)
        same = filecmp.cmp(d + "one.DIR", d + "all.DIR", shallow=False)
        ratio = single / many
        self.row(f"rebuild --recreate-all, --jobs 1 / {cores}", f"{many:.2f} s",
                 f"{single:.2f} s", f"{ratio:.2f}x", ">= 1.6x", ratio >= 1.6 and same,
                 "identical archives" if same else "ARCHIVES DIFFER")


    def memory(self):
        d = os.path.join(self.work, "huge") + "/"
        self.make("huge", d, "1024")
        out = d + "out"
        limited = ["sh", "-c", 'ulimit -v 300000 && exec "$0" "$@"']
        for command, jobs in (("extract", []), ("export", ["-j", "1"]), ("export", ["-j", "2"])):
            ours = [self.cli, command, "-q"] + jobs + [d + "huge.DIR", out]
            fresh_folder(out)()
            _, _, mb, ok = run(ours, check=False)
            fresh_folder(out)()
            passes = run(limited + ours, check=False)[3]
            name = " ".join([command] + jobs) + " of 1 GB"
            self.row(f"{name}: peak memory", f"{mb:.0f} MB", "", "", "<= 100 MB",
                     ok and mb <= 100, "" if ok else "FAILED")
            self.row(f"{name}: within ulimit -v 300000", "passes" if passes else "FAILS", "", "",
                     "passes", passes)
        shutil.rmtree(out, ignore_errors=True)

    def window(self):
        window = os.path.join(os.path.dirname(self.inputs), "bench_window")
        for kind, command, name, count in (("mixed", "export", "Extract, convert, log", "5,000"),
                                           ("extract", "extract", "Extract from directory",
                                            "2,000")):
            d = os.path.join(self.work, kind) + "/"
            self.make(kind, d)
            archive, ours, theirs = d + kind + ".DIR", d + "window", d + "cli"
            mine, _ = best([window, command, archive, ours], self.repeat, fresh_folder(ours))
            cli, _ = best([self.cli, command, "-q", archive, theirs], self.repeat,
                          fresh_folder(theirs))
            same = not filecmp.dircmp(ours, theirs).diff_files and sorted(
                os.listdir(ours)) == sorted(os.listdir(theirs))
            ratio = mine / cli
            self.row(f"window: {name}, {count} entries", f"{mine:.2f} s", f"cli {cli:.2f} s",
                     f"{ratio:.1f}x", "<= 2x", ratio <= 2 and same,
                     "same files" if same else "FILES DIFFER")


def table(rows):
    print("\n| benchmark | pelfry-cli | reference | ratio | target | met | note | load |")
    print("| --- | --- | --- | --- | --- | --- | --- | --- |")
    for r in rows:
        print("| " + " | ".join(r) + " |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cli", help="the pelfry-cli to time (default: BUILD/bin/pelfry-cli)")
    parser.add_argument("--before", help="another pelfry-cli to time beside it, on the same files")
    parser.add_argument("--build", default=os.path.join(ROOT, "build-rel"))
    parser.add_argument("--work", help="where to make the inputs (default: a temporary folder)")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--only", default="extract,export,rebuild,add,thumbnail,jobs,memory,window")
    args = parser.parse_args()

    if not os.path.exists(os.path.join(args.build, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", args.build, "-DCMAKE_BUILD_TYPE=Release",
                        "-DPELFRY_TESTS=OFF", "-DPELFRY_GUI=OFF"], check=True)
    subprocess.run(["cmake", "--build", args.build, "--target", "bench_cli_inputs", "pelfry-cli",
                    "bench_window", "-j", str(os.cpu_count() or 1)], check=True)
    cli = os.path.abspath(args.cli or os.path.join(args.build, "bin", "pelfry-cli"))
    inputs = os.path.join(args.build, "bin", "bench_cli_inputs")

    work = args.work or tempfile.mkdtemp(prefix="pelfry-bench-")
    try:
        rows = []
        benches = [Bench(cli, inputs, work, args.repeat, rows)]
        if args.before:
            before = os.path.abspath(args.before)
            benches = [Bench(before, inputs, work, args.repeat, rows, "before"),
                       Bench(cli, inputs, work, args.repeat, rows, "after")]
        for bench in benches:
            print(f"timing {bench.cli} on {os.cpu_count()} cores, best of {args.repeat}")
        for name in args.only.split(","):
            for bench in benches:
                getattr(bench, name)()
        table(rows)
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
