#!/usr/bin/env python3
"""priority_effect's table: µs per read under each scheduling setting.

usage: priority_table.py RUNS

RUNS lists fio's runs in the order they ran, one per line: the setting, a tab,
and fio's JSON report of the run. Prints one line per setting, in the order
the settings first ran: µs per read in each round, their mean, and the mean
against the first setting's (normal scheduling).
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fio_json import read_totals  # noqa: E402


def us_per_read(report):
    totals = read_totals(report)
    if totals is None or totals[2] == 0 or totals[3] != 0:
        return None
    return totals[1] * 1000 / totals[2]


def main(args):
    if len(args) != 1:
        sys.exit("usage: priority_table.py RUNS")
    rounds = {}
    with open(args[0], encoding="utf-8") as file:
        for line in file:
            setting, report = line.rstrip("\n").split("\t")
            rounds.setdefault(setting, []).append(us_per_read(report))
    width = max(len(setting) for setting in rounds)
    n_rounds = max(len(figures) for figures in rounds.values())
    print("%-*s | %s | %8s | %s" % (width, "setting", " ".join("%8s" % ("round %d" % (i + 1))
                                                                for i in range(n_rounds)),
                                    "mean", "vs normal"))
    base = None
    for setting, figures in rounds.items():
        valid = [us for us in figures if us is not None]
        mean = sum(valid) / len(valid) if valid else None
        if base is None:
            base = mean
        cells = " ".join("%8s" % ("%.1f" % us if us is not None else "failed") for us in figures)
        versus = "%.2fx" % (mean / base) if mean is not None and base else "-"
        print("%-*s | %s | %8s | %s" % (width, setting, cells, "%.1f" % mean if mean else "-", versus))
    print()
    print("µs per read: fio's run time / its reads; above 1x in the last column, slower than normal")


if __name__ == "__main__":
    main(sys.argv[1:])
