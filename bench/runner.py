#!/usr/bin/env python3
"""Runs every benchmark program of bench/ several times and prints one table of their figures.

Called by bench/run, which builds the programs and starts the throwaway database servers first;
see bench/run for the options. Each program prints, besides its own text, one line per figure:

    @figure {"id": ..., "title": ..., "value": ..., "unit": ..., "baseline": ...,
             "baseline_name": ..., "target_ratio": ..., "target_max": ..., "check": true}

The table holds, per figure, the median of the runs' values, baselines and ratios (value /
baseline), its target and whether the median meets it. A missed target is reported, not failed:
the exit status is 1 only when a program fails or a figure's check is false, 2 for a bad
command line.
"""
import argparse
import datetime
import glob
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import time

# name, program, arguments of a full run, arguments of a smoke run (tiny sizes, checks only).
BENCHMARKS = [
    ("export", "bench_export", [],
     ["--invoices", "300", "--small", "2", "--large", "5", "--page-size", "200"]),
    ("export-by-invoices", "bench_export", ["--by-invoices"],
     ["--by-invoices", "--small", "300", "--large", "900", "--page-size", "500"]),
    ("export-postgresql", "bench_export", ["--engine", "postgresql"],
     ["--engine", "postgresql", "--invoices", "300", "--large", "5", "--page-size", "200"]),
    ("export-by-invoices-postgresql", "bench_export", ["--by-invoices", "--engine", "postgresql"],
     ["--by-invoices", "--engine", "postgresql", "--large", "900", "--page-size", "500"]),
    ("server", "bench_server", [], ["--invoices", "300", "--page-size", "200"]),
    ("rpc", "bench_rpc", [], ["--lines", "1000", "--rounds", "3", "--seconds", "0.2"]),
    ("layout", "bench_layout", [], ["--invoices", "2000", "--runs", "1"]),
    ("datapacket", "bench_datapacket", [], ["--rows", "1000", "--runs", "1"]),
    ("grid", "bench_invoicegrid", [], ["--invoices", "500", "--repeats", "1"]),
    ("screen", "bench_exportscreen", [], ["--invoices", "300", "--page-size", "200"]),
    ("headless", "bench_headless", [], ["--invoices", "300"]),
    ("clients-sqlite", "bench_clients", [],
     ["--clients", "4", "--invoices", "50", "--page-size", "100"]),
    ("load", "bench_load", [], ["--clients", "5", "--calls", "20", "--invoices", "300"]),
    ("clients-postgresql", "bench_clients", ["--engine", "postgresql"],
     ["--engine", "postgresql", "--clients", "4", "--invoices", "50", "--page-size", "100"]),
]

FIGURE = re.compile(r"^@figure (\{.*\})\s*$")


def programs_in_tree(source):
    """The benchmark programs bench/ holds, one per bench/<folder>/bench_<name>.cpp."""
    return {os.path.splitext(os.path.basename(p))[0]
            for p in glob.glob(os.path.join(source, "bench", "*", "bench_*.cpp"))}


class Failure(Exception):
    pass


def run_once(name, program, args, bin_dir, log_path, timeout):
    """Runs the program once; returns its figures. Raises Failure when it does not run through."""
    started = time.monotonic()
    with open(log_path, "w") as log:
        try:
            done = subprocess.run([os.path.join(bin_dir, program)] + args, stdout=subprocess.PIPE,
                                  stderr=log, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"{name}: no end after {timeout} s (log {log_path})")
        log.write("\n--- stdout ---\n" + done.stdout)
    figures = []
    for line in done.stdout.splitlines():
        m = FIGURE.match(line)
        if m:
            try:
                figures.append(json.loads(m.group(1)))
            except json.JSONDecodeError as e:
                raise Failure(f"{name}: a figure line that is no JSON ({e}): {line}")
    elapsed = time.monotonic() - started
    checks_failed = [f for f in figures if not f.get("check")]
    if done.returncode != 0 and not checks_failed:
        raise Failure(f"{name}: exit status {done.returncode} (log {log_path})")
    if not figures:
        raise Failure(f"{name}: printed no figure (log {log_path})")
    for f in figures:
        missing = {"id", "title", "value", "unit", "check"} - f.keys()
        if missing:
            raise Failure(f"{name}: figure {f.get('id')} lacks {', '.join(sorted(missing))}")
    return figures, elapsed


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


class Row:
    """One figure over the runs."""

    def __init__(self, first):
        self.id = first["id"]
        self.title = first["title"]
        self.unit = first["unit"]
        self.baseline_name = first.get("baseline_name")
        self.target_ratio = first.get("target_ratio")
        self.target_max = first.get("target_max")
        self.values, self.baselines, self.ratios = [], [], []
        self.failures = []

    def add(self, f):
        value, baseline = f.get("value"), f.get("baseline")
        self.values.append(value)
        self.baselines.append(baseline)
        self.ratios.append(value / baseline if value is not None and baseline else None)
        if not f.get("check"):
            self.failures.append(f.get("check_detail") or "check false")

    def judge(self, smoke):
        if self.failures:
            return "CHECK FAILED"
        if smoke:
            return "checked"
        value, ratio = median(self.values), median(self.ratios)
        if value is None:
            return "CHECK FAILED"
        ok = True
        if self.target_ratio is not None:
            ok = ok and ratio is not None and ratio <= self.target_ratio
        if self.target_max is not None:
            ok = ok and value <= self.target_max
        if self.target_ratio is None and self.target_max is None:
            return "-"
        return "pass" if ok else "MISS"

    def target(self):
        parts = []
        if self.target_ratio is not None:
            parts.append(f"ratio <= {self.target_ratio:g}")
        if self.target_max is not None:
            parts.append(f"<= {self.target_max:g} {self.unit}")
        return ", ".join(parts) or "-"


def number(v):
    if v is None:
        return "-"
    a = abs(v)
    if a >= 100:
        return f"{v:.0f}"
    if a >= 10:
        return f"{v:.1f}"
    if a >= 1:
        return f"{v:.2f}"
    if a >= 0.01:
        return f"{v:.3f}"
    return f"{v:.2g}"


def table(rows, smoke, runs):
    header = ["figure", "value", "baseline", "ratio", "target", "result"]
    lines = []
    for r in rows:
        value = median(r.values)
        baseline = median(r.baselines)
        lines.append([r.id, f"{number(value)} {r.unit}",
                      f"{number(baseline)} {r.unit}" if baseline is not None else "-",
                      number(median(r.ratios)), r.target(), r.judge(smoke)])
    widths = [max(len(x[i]) for x in lines + [header]) for i in range(len(header))]
    out = [f"median of {runs} run{'s' if runs != 1 else ''} of each benchmark"
           + (" (smoke: tiny sizes, targets not judged)" if smoke else ""), ""]
    fmt = "  ".join("{:<%d}" % w for w in widths)
    out.append(fmt.format(*header))
    out.append(fmt.format(*["-" * w for w in widths]))
    out += [fmt.format(*line) for line in lines]
    out.append("")
    for r in rows:
        base = f"; baseline: {r.baseline_name}" if r.baseline_name else ""
        out.append(f"  {r.id}: {r.title}{base}")
        for detail in dict.fromkeys(r.failures):
            out.append(f"      check failed: {detail}")
    return "\n".join(out)


def machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = "unknown memory"
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemTotal:"):
                    memory = f"{int(line.split()[1]) / 1024 / 1024:.1f} GiB"
                    break
    except OSError:
        pass
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    return (f"machine: {os.cpu_count()} cores (nproc), {model}, {memory} memory, "
            f"{platform.system()} {platform.release()}; load average now {load}")


def parse_args():
    p = argparse.ArgumentParser(description="Runs the benchmarks and prints their figures.")
    p.add_argument("--build-dir", required=True)
    p.add_argument("--source-dir", required=True)
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--smoke", action="store_true")
    p.add_argument("--only", help="run only the benchmarks whose name matches this expression")
    p.add_argument("--started", type=float, help="when bench/run started (seconds since 1970)")
    a = p.parse_args()
    if a.runs < 1:
        p.error("--runs must be at least 1")
    return a


def run_all(a, selected, bin_dir, log_dir):
    """Runs the benchmarks; returns the rows in order and the failures to run."""
    rows, failed = {}, []
    timeout = 600 if a.smoke else 3600
    for name, program, full, smoke in selected:
        args = smoke if a.smoke else full
        for n in range(1, a.runs + 1):
            log_path = os.path.join(log_dir, f"{name}-{n}.log")
            print(f"bench: {name} run {n}/{a.runs} ...", end="", file=sys.stderr, flush=True)
            try:
                figures, elapsed = run_once(name, program, args, bin_dir, log_path, timeout)
            except Failure as e:
                print(" FAILED", file=sys.stderr)
                failed.append(str(e))
                break
            print(f" {elapsed:.1f} s", file=sys.stderr)
            for f in figures:
                rows.setdefault(f["id"], Row(f)).add(f)
    return list(rows.values()), failed


def main():
    a = parse_args()
    started = a.started or time.time()
    bin_dir = os.path.join(a.build_dir, "bin")
    unknown = programs_in_tree(a.source_dir) - {b[1] for b in BENCHMARKS}
    if unknown:
        print(f"bench: not run by bench/run: {', '.join(sorted(unknown))}", file=sys.stderr)
        return 1
    selected = [b for b in BENCHMARKS if not a.only or re.search(a.only, b[0])]
    if not selected:
        print(f"bench: no benchmark matches {a.only}", file=sys.stderr)
        return 2
    runs = 1 if a.smoke else a.runs
    a.runs = runs
    log_dir = os.path.join(a.build_dir, "bench-logs")
    os.makedirs(log_dir, exist_ok=True)
    rows, failed = run_all(a, selected, bin_dir, log_dir)

    print(table(rows, a.smoke, runs))
    print()
    print(machine())
    print(f"date: {datetime.datetime.now().astimezone().isoformat(timespec='seconds')}; "
          f"bench/run took {time.time() - started:.0f} s (build and servers included); "
          f"logs in {log_dir}")
    for f in failed:
        print(f"FAILED: {f}")
    bad_checks = [r.id for r in rows if r.failures]
    if bad_checks:
        print(f"FAILED checks: {', '.join(bad_checks)}")
    return 1 if failed or bad_checks else 0


if __name__ == "__main__":
    sys.exit(main())
