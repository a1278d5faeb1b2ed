#!/usr/bin/env python3
"""Prints the benchmark's figures from the lines bench.sh collected.

    report.py RESULTS REPEATS
"""
import re
import statistics
import sys


def fields(line):
    return dict(re.findall(r"(\w+)=(\S+)", line))


def summary(values):
    m = statistics.median(values)
    return m, min(values), max(values)


NAMES = {"a": "Vanish uninstall.exe /X", "b": "NSIS uninstaller /S _?=",
         "c": "floor with checks", "c0": "bare floor"}


def removal(app, runs):
    print("\n== Removal of the whole %s application (wall time from start to exit, ms)" % app)
    medians = {}
    for v in ("a", "b", "c", "c0"):
        if v not in runs:
            continue
        times = [float(r["ms"]) for r in runs[v]]
        m, lo, hi = summary(times)
        medians[v] = m
        left = sorted(set("files=%s folders=%s key=%s shared=%s" % (r.get("files"), r.get("folders"),
                      r.get("key"), r.get("shared")) for r in runs[v]))
        exits = sorted(set(r.get("exit") for r in runs[v]))
        print("  %-3s %-26s median %8.1f  min %8.1f  max %8.1f  spread %4.1f%%  (n=%d, exit %s)"
              % (v, NAMES[v], m, lo, hi, 100.0 * (hi - lo) / m, len(times), ",".join(exits)))
        print("      left: %s" % "; ".join(left))
    ratios = ["a/%s = %.2f" % (v, medians["a"] / medians[v]) for v in ("b", "c", "c0")
              if "a" in medians and v in medians]
    if ratios:
        print("  %s: %s" % (app, ", ".join(ratios)))


def main():
    path = sys.argv[1]
    runs, startup, load, sizes, other = {}, {}, [], [], []
    calls, calls_left = {}, []
    for line in open(path):
        word, _, rest = line.strip().partition(" ")
        if word in ("a", "b", "c", "c0"):
            run = fields(rest)
            runs.setdefault(run.get("app", "app"), {}).setdefault(word, []).append(run)
        elif word.startswith("startup-"):
            startup.setdefault(word[8:], []).append(float(fields(rest)["ms"]))
        elif word == "load":
            load.append(fields(rest))
        elif word == "size":
            sizes.append(rest)
        elif word == "calls":
            v, count, name = rest.split()
            calls.setdefault(name, {})[v] = int(count)
        elif word == "calls-left":
            calls_left.append(rest)
        else:
            other.append(line.strip())

    names = {"a": "Vanish uninstall.exe /X", "b": "NSIS uninstaller /S _?=",
             "c": "floor with checks", "c0": "bare floor"}
    for app, app_runs in runs.items():
        removal(app, app_runs)

    print("\n== Start-up, empty block against an empty NSIS uninstaller (ms)")
    for v, label in (("a", "Vanish, empty block, /X"), ("b", "NSIS, empty, /S _?=")):
        if v in startup:
            m, lo, hi = summary(startup[v])
            print("  %-26s median %7.1f  min %7.1f  max %7.1f  (n=%d)" % (label, m, lo, hi, len(startup[v])))
    if "a" in startup and "b" in startup:
        print("  Vanish/NSIS = %.2f" % (statistics.median(startup["a"]) / statistics.median(startup["b"])))

    if load:
        print("\n== The loader (in process, median of 9 loads)")
        xs, ys = [], []
        for r in load:
            n, ms = int(r["entries"]), float(r["median_ms"])
            xs.append(n)
            ys.append(ms)
            print("  %6d entries (%8s bytes): %8.2f ms  (min %.2f, max %.2f)  %.2f us/entry  "
                  "%s private bytes/entry" % (n, r["bytes"], ms, float(r["min_ms"]),
                  float(r["max_ms"]), 1000.0 * ms / n, r["private_per_entry"]))
        if len(xs) > 1:
            slope, intercept = statistics.linear_regression(xs, ys)
            fit = [slope * x + intercept for x in xs]
            worst = max(abs(f - y) / y for f, y in zip(fit, ys))
            print("  linear fit: %.2f us/entry + %.2f ms; largest deviation from it %.1f%%; "
                  "time(%d)/time(%d) = %.2f for %.0fx the entries"
                  % (1000 * slope, intercept, 100 * worst, xs[-1], xs[0], ys[-1] / ys[0], xs[-1] / xs[0]))

    if calls:
        print("\n== System calls of each remover's own code, a tenth of the application "
              "(Wine relay trace)")
        print("  %-36s %8s %8s %8s %8s" % ("function", "a", "b", "c", "c0"))
        order = sorted(calls, key=lambda n: -max(calls[n].values()))
        helpers = ("Rtl", "GetProcessHeap", "Heap", "lstr", "CharNext", "CharPrev", "wsprintf")
        system = lambda n: not n.split(".")[1].startswith(helpers)
        totals = {v: 0 for v in ("a", "b", "c", "c0")}
        for name in order:
            row = calls[name]
            if system(name):
                for v in totals:
                    totals[v] += row.get(v, 0)
            if max(row.values()) >= 10:
                print("  %-36s %8s %8s %8s %8s" % (name, *(row.get(v, "") for v in ("a", "b", "c", "c0"))))
        print("  %-36s %8d %8d %8d %8d" % ("all but heap and string helpers", *(totals[v] for v in ("a", "b", "c", "c0"))))
        for left in calls_left:
            print("  left by " + left)

    print("\n== Sizes (bytes)")
    for s in sizes:
        print("  " + s)
    for o in other:
        print("  " + o)


if __name__ == "__main__":
    main()
