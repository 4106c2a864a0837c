#!/usr/bin/env python3
"""Assembles the one table of scripts/bench from Google Benchmark's JSON.

Usage: bench_table.py RESULT.json... [--doc docs/performance.md]

Every figure is the median of the repetitions of one run, in CPU time per
operation (the process's own time, which other work on the machine does
not inflate); the two-process rows are wall-clock throughput. Rows name
our benchmark, the floor measured in the same run, the peers where they
apply, and the targets; every other benchmark found follows with its
median alone. With --doc, the part of that file between the two table
markers is replaced by the table and the machine it came from.
"""

import json
import os
import platform
import re
import subprocess
import sys
import time

SIZES = (100, 1000, 10000)
BEGIN = "<!-- bench table begin -->"
END = "<!-- bench table end -->"


def load(paths):
    """Median CPU time (ns) and median counters of every benchmark."""
    medians, counters, seen = {}, {}, set()
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for b in data.get("benchmarks", []):
            if b.get("error_occurred"):
                print(f"bench: {b['name']}: {b.get('error_message')}", file=sys.stderr)
                continue
            name = b.get("run_name", b["name"])
            single = b.get("run_type") == "iteration" and name not in seen
            if b.get("aggregate_name") != "median" and not single:
                continue
            seen.add(name)
            name = re.sub(r"/(real_time|manual_time)$", "", name)
            medians[name] = b["cpu_time"] * scale[b.get("time_unit", "ns")]
            counters[name] = {
                k: v for k, v in b.items()
                if isinstance(v, (int, float)) and k not in (
                    "cpu_time", "real_time", "iterations", "repetitions",
                    "repetition_index", "threads", "family_index",
                    "per_family_instance_index")
            }
    return medians, counters


def ns(value):
    if value is None:
        return "–"
    if value >= 1e6:
        return f"{value / 1e6:.2f} ms"
    if value >= 1e4:
        return f"{value / 1e3:.1f} µs"
    if value >= 1e3:
        return f"{value / 1e3:.2f} µs"
    return f"{value:.0f} ns"


class Table:
    def __init__(self, medians, counters):
        self.medians, self.counters, self.used = medians, counters, set()
        self.lines = []
        self.missed = []

    def get(self, name):
        if name is None:
            return None
        self.used.add(name)
        return self.medians.get(name)

    def row(self, op, ours, floor=None, peers=(), targets=(), ours_value=None,
            floor_value=None):
        """peers: (label, benchmark). targets: (text, kind, argument), where
        kind is 'floor' (ours / floor at most argument), 'below' (ours /
        floor under 1), or a peer label (peer / ours at least argument;
        argument 1.0 means faster than the peer)."""
        o = ours_value if ours_value is not None else self.get(ours)
        f = floor_value if floor_value is not None else self.get(floor)
        peer_values = {label: self.get(bench) for label, bench in peers}
        cells = [op, ns(o), ns(f), f"{o / f:.2f}×" if o and f else "–"]
        for label in ("LMDB", "SQLite", "Boost"):
            p = peer_values.get(label)
            cells.append(f"{ns(p)} ({p / o:.1f}×)" if p and o else ns(p))
        verdicts = []
        for text, kind, argument in targets:
            if kind in ("floor", "below"):
                value = o / f if o and f else None
                ok = value is not None and (value <= argument if kind == "floor"
                                            else value < 1.0)
            else:
                p = peer_values.get(kind)
                value = p / o if p and o else None
                ok = value is not None and (value >= argument if argument > 1.0
                                            else value > 1.0)
            if value is None:
                verdicts.append(f"{text}: not measured")
            elif ok:
                verdicts.append(f"{text}: met")
            else:
                verdicts.append(f"{text}: **missed** ({value:.2f}×)")
                self.missed.append(f"{op}: {text} ({value:.2f}×)")
        cells.append("; ".join(verdicts) if verdicts else "")
        self.lines.append("| " + " | ".join(cells) + " |")

    def render(self, title_rows):
        head = ("| Operation | Ours | Floor | Ours ÷ floor | LMDB (÷ ours) | "
                "SQLite (÷ ours) | Boost (÷ ours) | Targets |")
        rule = "|" + "---|" * 8
        return "\n".join(title_rows + ["", head, rule] + self.lines)


def pairs_time(counters, name):
    rate = counters.get(name, {}).get("pairs_per_second")
    return 1e9 / rate if rate else None


def build(medians, counters):
    t = Table(medians, counters)
    t.row("Lock + unlock (floor: a bare process-shared pthread mutex)", "Ours_Lock",
          "Floor_Lock", peers=[("Boost", "Peer_Boost_Lock")],
          targets=[("≤ 1.5× floor", "floor", 1.5)])
    t.row("Lock + unlock (against a bare kernel file lock, for reference)", "Ours_Lock",
          "Floor_KernelLock")
    t.row("Lock + unlock with the closed-journal check (floor: without it)", "Ours_Lock",
          "Ours_LockNoJournal", targets=[("≤ 1.1× without", "floor", 1.1)])
    for label, name in (("Header read", "BM_HeaderRead"),
                        ("Lock, header read, unlock (three calls)", "BM_LockedHeaderRead"),
                        ("Tuning block write with its flush", "BM_TuningWrite")):
        c = counters.get(name, {})
        t.used.add(name)
        t.row(f"{label}, through the shared library (floor: the same under a bare pthread "
              "mutex)", None, None, ours_value=c.get("library_ns"), floor_value=c.get("bare_ns"))
    t.row("Copy of one record (1144 bytes)", None, "Floor_Copy")
    for n in SIZES:
        t.row(f"Flush after a change, {n} repositories", f"Ours_Flush/{n}",
              f"Floor_Msync/{n}")
    for n in SIZES:
        t.row(f"Read one record by slot, {n}", f"Ours_ReadBySlot/{n}",
              f"Floor_ReadBySlot/{n}", targets=[("≤ 1.5× floor", "floor", 1.5)])
    for n in SIZES:
        t.row(f"Change one record by slot, {n}", f"Ours_ChangeBySlot/{n}",
              f"Floor_ChangeBySlot/{n}",
              peers=[("LMDB", f"Peer_LMDB_Change/{n}"), ("SQLite", f"Peer_SQLite_Change/{n}")],
              targets=[("≤ 1.2× floor", "floor", 1.2), ("≥ 10× LMDB", "LMDB", 10.0),
                       ("≥ 30× SQLite", "SQLite", 30.0)])
    for n in SIZES:
        t.row(f"Read one record by slot, {n}, with the journal (floor: without it)",
              f"Ours_ReadBySlot/{n}", f"Ours_ReadBySlotNoJournal/{n}",
              targets=[("≤ 1.05× without", "floor", 1.05)])
    for n in SIZES:
        t.row(f"Change one record by slot, {n}, with the journal (floor: without it)",
              f"Ours_ChangeBySlot/{n}", f"Ours_ChangeBySlotNoJournal/{n}",
              targets=[("≤ 1.3× without", "floor", 1.3)])
    for n in SIZES:
        targets = [("< byte loop", "below", None)]
        if n == 100:
            targets += [("faster than LMDB", "LMDB", 1.0), ("≥ 5× SQLite", "SQLite", 5.0)]
        t.row(f"Search by name, {n}", f"Ours_SearchByName/{n}", f"Floor_NameLoop/{n}",
              peers=[("LMDB", f"Peer_LMDB_FindByName/{n}"),
                     ("SQLite", f"Peer_SQLite_FindByName/{n}")],
              targets=targets)
    t.used.update({"Ours_Contended", "Floor_Contended"})
    t.row("Two processes: read + change, wall time per pair", None, None,
          ours_value=pairs_time(counters, "Ours_Contended"),
          floor_value=pairs_time(counters, "Floor_Contended"),
          targets=[("≤ 1.3× floor", "floor", 1.3)])
    small, large = t.get("Ours_AddFileSetsUnderOneHold/1000"), t.get(
        "Ours_AddFileSetsUnderOneHold/10000")
    if small or large:
        t.row("Add file sets under one hold: per file set at 10,000 (floor column: at 1,000)",
              None, None, ours_value=large / 10000 if large else None,
              floor_value=small / 1000 if small else None,
              targets=[("flat within 10%", "floor", 1.10)])
    small, large = t.get("Floor_AddFileSetsUnderOneHold/1000"), t.get(
        "Floor_AddFileSetsUnderOneHold/10000")
    if small or large:
        t.row("Floor of those adds, the same memory writes alone: per file set at 10,000 "
              "(floor column: at 1,000)", None, None,
              ours_value=large / 10000 if large else None,
              floor_value=small / 1000 if small else None)
    load_save_rows(t, medians)
    return t


def load_save_rows(t, medians):
    """Per file set: the loads and the save at 1,000 and at 10,000 file
    sets, in one repository and spread over 100 (transfer_bench's runs,
    named BM_<operation>/<repositories>/<file sets each>)."""
    operations = (
        ("Load from the configuration files, every arc new", "BM_LoadFromConfigIntoEmptyRegion"),
        ("Load from the configuration files, every arc matched",
         "BM_LoadFromConfigMatchingEveryFileSet"),
        ("Save to the configuration files", "BM_SaveToConfig"),
    )
    layouts = (("one repository", 1, 1000, 10000), ("100 repositories", 100, 10, 100))
    for op, stem in operations:
        for label, repositories, small_each, large_each in layouts:
            small = t.get(f"{stem}/{repositories}/{small_each}")
            large = t.get(f"{stem}/{repositories}/{large_each}")
            if small is None and large is None:
                continue
            per_small = small / (repositories * small_each) if small else None
            per_large = large / (repositories * large_each) if large else None
            t.row(f"{op}, {label}: per file set at 10,000 (floor column: at 1,000)", None,
                  None, ours_value=per_large, floor_value=per_small,
                  targets=[("flat within 10%", "floor", 1.10)])


def machine():
    model = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    load = os.getloadavg()[0] if hasattr(os, "getloadavg") else float("nan")
    return [
        f"Machine: {os.cpu_count()} CPUs (nproc), {model}, kernel {platform.release()}; "
        f"load average {load:.1f} at the end of the run; {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}.",
        "Figures: median of the repetitions, CPU time per operation (two-process row: "
        "wall time per pair). Peer columns: the peer's time and how many times ours "
        "it takes.",
    ]


def others(t):
    """Every benchmark not in the rows above; one named NameFloor[/arg]
    is shown as the floor of Name[/arg]."""
    def floor_of(name):
        base, _, arg = name.partition("/")
        return base + "Floor" + ("/" + arg if arg else "")

    lines = []
    for name in sorted(t.medians):
        if name in t.used or re.match(r"^[^/]*Floor(/|$)", name) and not name.startswith("Floor_"):
            continue
        value = t.medians[name]
        floor = t.medians.get(floor_of(name))
        ratio = f"{value / floor:.2f}×" if floor else "–"
        extra = ", ".join(f"{k}={v:.4g}" for k, v in sorted(t.counters.get(name, {}).items()))
        lines.append(f"| {name} | {ns(value)} | {ns(floor)} | {ratio} | {extra} |")
    if not lines:
        return []
    return ["", "Other benchmarks of bench/ (median CPU time; floor: the benchmark of the "
            "same name with Floor added):", "",
            "| Benchmark | Median | Floor | Ratio | Counters |", "|---|---|---|---|---|"] + lines


def main(argv):
    doc = None
    if "--doc" in argv:
        i = argv.index("--doc")
        doc = argv[i + 1]
        argv = argv[:i] + argv[i + 2:]
    medians, counters = load(argv)
    t = build(medians, counters)
    text = t.render(machine()) + "\n" + "\n".join(others(t))
    if t.missed:
        text += "\n\nTargets missed in this run:\n" + "\n".join(f"- {m}" for m in t.missed)
    print(text)
    if doc:
        with open(doc) as f:
            content = f.read()
        start, end = content.find(BEGIN), content.find(END)
        if start < 0 or end < start:
            print(f"bench: {doc} has no table markers; not updated", file=sys.stderr)
            return 1
        content = content[:start + len(BEGIN)] + "\n" + text + "\n" + content[end:]
        with open(doc, "w") as f:
            f.write(content)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
