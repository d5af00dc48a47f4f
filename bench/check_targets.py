#!/usr/bin/env python3
"""Checks the performance targets against the JSON that hadrok_bench wrote.

Usage: check_targets.py BENCH_JSON [HOST_WAIT_JSON]

Every target is a ratio of two benchmarks of the same run, so it holds on a
busy machine. With repetitions the median of each benchmark is used, else its
single run. Paths that stay in memory are compared by CPU time, which other
processes on the machine disturb least; the save and the load are compared by
wall-clock time, since their cost to the host is mostly waiting for the disk.
Prints each target with its measured ratio and PASS or FAIL, and exits 1 when
any target fails (2 when a benchmark is missing).
"""

import json
import re
import sys

NS_PER_UNIT = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load_runs(path):
    """Run name -> the run to use (its median, or its only iteration run)."""
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    medians, singles = {}, {}
    for b in data.get("benchmarks", []):
        if b.get("error_occurred"):
            print(f"error in {b['name']}: {b.get('error_message', '')}")
            continue
        # Names without the "/repeats:N", "/iterations:N" and "/manual_time"
        # that the suite's settings add to some.
        name = re.sub(r"/(repeats:\d+|iterations:\d+|manual_time)", "",
                      b.get("run_name", b["name"]))
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[name] = b
        else:
            singles.setdefault(name, b)
    runs = dict(singles)
    runs.update(medians)
    return data.get("context", {}), runs


class Checker:
    def __init__(self, runs):
        self.runs = runs
        self.failed = False
        self.missing = False
        self.rows = []

    def run(self, name):
        if name not in self.runs:
            self.missing = True
            return None
        return self.runs[name]

    def time(self, name, clock):
        r = self.run(name)
        if r is None:
            return None
        return r[clock] * NS_PER_UNIT[r.get("time_unit", "ns")]

    def counter(self, name, key):
        r = self.run(name)
        return None if r is None or key not in r else float(r[key])

    def add(self, target, measured, limit, passed, note=""):
        if measured is None:
            status = "MISSING"
            self.failed = True
        elif passed is None:
            status = "info"
        else:
            status = "PASS" if passed else "FAIL"
            if not passed:
                self.failed = True
        self.rows.append((target, measured, limit, status, note))

    def at_most(self, target, numerator, denominator, clock, limit):
        a, b = self.time(numerator, clock), self.time(denominator, clock)
        ratio = None if a is None or b is None else a / b
        note = f"{clock.replace('_time', '')}: {fmt_ns(a)} / {fmt_ns(b)}"
        self.add(target, ratio, f"<= {limit:.2f}x", None if ratio is None else ratio <= limit, note)

    def print(self):
        width = max(len(r[0]) for r in self.rows)
        print(f"{'target':<{width}}  {'measured':>10}  {'limit':>10}  {'result':<7}  basis")
        for target, measured, limit, status, note in self.rows:
            m = "-" if measured is None else f"{measured:.3f}"
            print(f"{target:<{width}}  {m:>10}  {limit:>10}  {status:<7}  {note}")


COUNTERS = ("bytes_per_second", "items_per_second", "heap_bytes_per_record",
            "mallinfo_bytes_per_record", "ms_wall", "ms_cpu", "baseline_ms_wall",
            "baseline_ms_cpu", "ratio_wall", "ratio_cpu")


def print_medians(runs):
    """One line per benchmark: the figures the targets are computed from."""
    names = sorted(runs)
    width = max(len(n) for n in names)
    print(f"{'benchmark (median)':<{width}}  {'wall':>10}  {'cpu':>10}  counters")
    for name in names:
        r = runs[name]
        scale = NS_PER_UNIT[r.get("time_unit", "ns")]
        extra = []
        for key in COUNTERS:
            if key in r:
                value = float(r[key])
                if key.endswith("_per_second"):
                    unit = "B/s" if key.startswith("bytes") else "/s"
                    extra.append(f"{value / 1e6:.1f} M{unit}")
                elif key.startswith("ratio"):
                    extra.append(f"{key}={value:.3f}")
                elif key.startswith(("ms_", "baseline_ms_")):
                    extra.append(f"{key}={value:.4g}")
                else:
                    extra.append(f"{key}={value:.1f}")
        wall, cpu = r["real_time"] * scale, r["cpu_time"] * scale
        if "ms_wall" in r:
            # A paired benchmark: its own clocks cover the operation and its
            # baseline together, so show the operation's.
            wall, cpu = float(r["ms_wall"]) * 1e6, float(r["ms_cpu"]) * 1e6
        print(f"{name:<{width}}  {fmt_ns(wall):>10}  {fmt_ns(cpu):>10}  {', '.join(extra)}")


def fmt_ns(ns):
    if ns is None:
        return "?"
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    context, runs = load_runs(sys.argv[1])
    for more in sys.argv[2:]:
        runs.update(load_runs(more)[1])
    c = Checker(runs)
    small, large = 100, 65536

    # 1. The floor every event pays: talk in the loaded plug-in, unknown code.
    floor = c.time("BM_DispatchFloor_talk", "cpu_time")
    c.add("1 dispatch floor, talk (ns)", floor, "-", None, "dlopen'd hadrok.so, cpu")
    c.add("1 dispatch floor, handleEvent (ns)",
          c.time("BM_DispatchFloor_handleEvent", "cpu_time"), "-", None, "in process, cpu")

    # 2. Admission at the largest registry against the small one.
    for kind in ("Admitted", "Refused"):
        c.at_most(f"2 admission {kind.lower()}, 65536 vs 100 records",
                  f"BM_Admission_{kind}/{large}", f"BM_Admission_{kind}/{small}", "cpu_time", 1.5)

    # 3. !fjoin, with the audit log off and on (on is the default setting).
    for audit, label in ((0, "audit log off"), (1, "audit log on"),
                         (2, "audit log on, every join a line")):
        c.at_most(f"3 !fjoin {label}, 65536 vs 100 records",
                  f"BM_Fjoin/{large}/{audit}", f"BM_Fjoin/{small}/{audit}", "cpu_time", 1.5)

    # 3. !fjoin with a 30,000-byte password against the hash of those bytes
    # alone, paired in each round (see bench/event_bench.cpp); the same join
    # against the library MD5 of this run beside it.
    name = "BM_FjoinLongPasswordVsHash"
    ratio = c.counter(name, "ratio_cpu")
    join_ms, hash_ms = c.counter(name, "ms_cpu"), c.counter(name, "baseline_ms_cpu")
    c.add("3 !fjoin 30000-byte password vs its hash alone", ratio, "<= 1.30x",
          None if ratio is None else ratio <= 1.3,
          f"cpu: {fmt_ns(join_ms and join_ms * 1e6)} / {fmt_ns(hash_ms and hash_ms * 1e6)}")
    md5 = c.time("BM_OpenSslMd5/30000", "cpu_time")
    c.add("3 !fjoin 30000-byte password vs library MD5 (x)",
          None if join_ms is None or md5 is None else join_ms * 1e6 / md5, "-", None,
          f"cpu: {fmt_ns(join_ms and join_ms * 1e6)} / {fmt_ns(md5)}")

    # 4. The expiry pass, per invite; beside it the same test over a plain array.
    invites = c.counter("BM_TickExpiryPass", "invites")
    pass_ns = c.time("BM_TickExpiryPass", "cpu_time")
    per_invite = None if pass_ns is None or not invites else pass_ns / invites
    c.add("4 tick expiry pass, ns per invite", per_invite, "-", None,
          f"{fmt_ns(pass_ns)} for {invites and int(invites)} invites, cpu")
    scan = c.time("BM_ExpiryScanBaseline", "cpu_time")
    c.add("4 expiry pass vs plain array scan (x)",
          None if pass_ns is None or scan is None else pass_ns / scan, "-", None, "cpu")

    # 5. The registry file at 65,536 records against the bare file work,
    # measured in pairs within each round (see bench/file_bench.cpp).
    for op, base in (("save", "one write+fsync+rename"), ("load", "read+unscramble")):
        name = f"BM_{op.capitalize()}VsBaseline"
        ratio = c.counter(name, "ratio_wall")
        c.add(f"5 {op} vs {base}", ratio, "<= 1.50x", None if ratio is None else ratio <= 1.5,
              f"wall: {c.counter(name, 'ms_wall') or 0:.1f} ms / "
              f"{c.counter(name, 'baseline_ms_wall') or 0:.1f} ms")
        c.add(f"5 {op} vs baseline, cpu time (x)", c.counter(name, "ratio_cpu"), "-", None,
              f"cpu: {c.counter(name, 'ms_cpu') or 0:.1f} ms / "
              f"{c.counter(name, 'baseline_ms_cpu') or 0:.1f} ms")

    # 8. teams recover: twenty side files of changes merged into a registry of
    # 65,536 records, against reading the same files, paired in each round
    # (see bench/recover_bench.cpp). Its time grows as what it reads does: the
    # ratio at 65,536 changes a file is no larger than at 16,384 (a merge that
    # looked back at earlier files would make it grow with their number).
    name = f"BM_RecoverVsRead/{large}"
    ratio = c.counter(name, "ratio_cpu")
    c.add("8 recover of 20 side files vs reading them", ratio, "<= 5.00x",
          None if ratio is None else ratio <= 5.0,
          f"cpu: {c.counter(name, 'ms_cpu') or 0:.1f} ms / "
          f"{c.counter(name, 'baseline_ms_cpu') or 0:.1f} ms")
    quarter = c.counter("BM_RecoverVsRead/16384", "ratio_cpu")
    growth = None if ratio is None or not quarter else ratio / quarter
    c.add("8 recover vs reading, 65536 vs 16384 changes a file (x)", growth, "<= 1.50x",
          None if growth is None else growth <= 1.5, "in proportion: 1x or less")

    # 6. hashPassword throughput against the library MD5: same bytes, so the
    # throughput ratio is the inverse of the time ratio.
    for size in (64, 30000):
        ours = c.time(f"BM_HashPassword/{size}", "cpu_time")
        ref = c.time(f"BM_OpenSslMd5/{size}", "cpu_time")
        ratio = None if ours is None or ref is None else ref / ours
        c.add(f"6 hashPassword/{size} throughput vs library MD5", ratio, ">= 0.70x",
              None if ratio is None else ratio >= 0.7,
              f"cpu: {fmt_ns(ours)} vs {fmt_ns(ref)}")

    # 7. Heap per loaded record.
    limit = 1.15 * 284
    per_record = c.counter("BM_MemoryPerLoadedRecord", "heap_bytes_per_record")
    c.add("7 heap bytes per loaded record", per_record, f"<= {limit:.1f}",
          None if per_record is None else per_record <= limit,
          "?" if per_record is None else
          f"{per_record / 284:.3f}x of 284, counting operator new")
    c.add("7 arena bytes per loaded record (mallinfo2)",
          c.counter("BM_MemoryPerLoadedRecord", "mallinfo_bytes_per_record"),
          "-", None, "cross-check")

    # 8. What the host itself waits for, through the plug-in as it loads it
    # (bench/host_wait_bench.cpp), each against the raw work of the same round.
    if len(sys.argv) > 2:
        for name, label, base in (
                ("BM_HostWait_Load", "load, dlopen to first event, less without registry",
                 "read+unscramble"),
                ("BM_HostWait_SavingTick", "a saving Tick", "write+fsync+rename"),
                ("BM_HostWait_Unload", "the unload with its save", "write+fsync+rename")):
            ratio = c.counter(name, "ratio_wall")
            c.add(f"8 {label} vs {base}", ratio, "<= 1.20x",
                  None if ratio is None else ratio <= 1.2,
                  f"wall: {c.counter(name, 'ms_wall') or 0:.1f} ms / "
                  f"{c.counter(name, 'baseline_ms_wall') or 0:.1f} ms, "
                  f"cpu ratio {c.counter(name, 'ratio_cpu') or 0:.2f}")
        per_record = c.counter("BM_HostWait_Load", "heap_bytes_per_record")
        c.add("8 heap per record held after the load", per_record, f"<= {limit:.1f}",
              None if per_record is None else per_record <= limit,
              "?" if per_record is None else f"{per_record / 284:.3f}x of 284, mallinfo2")

    print()
    print_medians(runs)
    print(f"\nTargets ({context.get('date', '')}, {context.get('num_cpus', '?')} cpus, "
          f"load average {context.get('load_avg', '?')}):")
    c.print()
    if c.missing:
        print("some benchmarks are missing from the JSON")
        return 2
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main())
