#!/usr/bin/env python3
"""What fio's JSON report (--output-format=json) says of its reads.

As a program: prints "io_bytes runtime_ms total_ios error" for each report
named, summed over its jobs, or "x x x x" for a report that cannot be read.
As a module: read_totals(path) returns the same four numbers, or None.
"""
import json
import sys


def read_totals(path):
    """(io_bytes, runtime_ms, total_ios, error) of the reads of all jobs."""
    try:
        with open(path, encoding="utf-8", errors="replace") as file:
            text = file.read()
        # Some fio versions put notes before the document itself.
        report = json.loads(text[text.index("{"):])
        jobs = report["jobs"]
        return (
            sum(job["read"]["io_bytes"] for job in jobs),
            sum(job["read"]["runtime"] for job in jobs),
            sum(job["read"]["total_ios"] for job in jobs),
            max((job["error"] for job in jobs), default=0),
        )
    except (OSError, ValueError, KeyError, TypeError):
        return None


def main(paths):
    for path in paths:
        totals = read_totals(path)
        print("x x x x" if totals is None else " ".join(str(n) for n in totals))


if __name__ == "__main__":
    main(sys.argv[1:])
