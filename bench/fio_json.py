#!/usr/bin/env python3
"""What fio's JSON report (--output-format=json) says of its reads.

As a program: prints "io_bytes runtime_ms total_ios error p50_ns p99_ns" for
each report named, summed over its jobs (p50_ns and p99_ns: the completion
latency percentiles of its first job's reads, "-" where it gives none), or
"x x x x - -" for a report that cannot be read.
As a module: read_totals(path) returns the first four numbers, or None;
read_clat_percentiles(path) the completion latency percentiles, or None.
"""
import json
import sys


def read_report(path):
    """fio's report as a dict, or None when it cannot be read."""
    try:
        with open(path, encoding="utf-8", errors="replace") as file:
            text = file.read()
        # Some fio versions put notes before the document itself.
        return json.loads(text[text.index("{"):])
    except (OSError, ValueError):
        return None


def read_totals(path):
    """(io_bytes, runtime_ms, total_ios, error) of the reads of all jobs."""
    report = read_report(path)
    try:
        jobs = report["jobs"]
        return (
            sum(job["read"]["io_bytes"] for job in jobs),
            sum(job["read"]["runtime"] for job in jobs),
            sum(job["read"]["total_ios"] for job in jobs),
            max((job["error"] for job in jobs), default=0),
        )
    except (KeyError, TypeError):
        return None


def read_clat_percentiles(path):
    """{percent: ns} of the first job's read completion latencies (fio's
    clat_ns, asked for with --percentile_list), or None. With the sync
    engine, completion latency is the read call's whole time."""
    report = read_report(path)
    try:
        percentiles = report["jobs"][0]["read"]["clat_ns"]["percentile"]
        return {float(percent): float(ns) for percent, ns in percentiles.items()}
    except (KeyError, TypeError, IndexError, ValueError, AttributeError):
        return None


def main(paths):
    for path in paths:
        totals = read_totals(path)
        clat = read_clat_percentiles(path) or {}
        words = ["x"] * 4 if totals is None else [str(n) for n in totals]
        for percent in (50.0, 99.0):
            words.append("%.0f" % clat[percent] if percent in clat else "-")
        print(" ".join(words))


if __name__ == "__main__":
    main(sys.argv[1:])
