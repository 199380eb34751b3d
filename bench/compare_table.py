#!/usr/bin/env python3
"""compare_fio's table: blockmeter's two runs beside fio's two replays.

usage: compare_table.py BLOCK_SIZE ROWS1 ROWS2 FIO1 FIO2 [ERR1 ERR2]

ROWS1 and ROWS2 hold blockmeter's rows, one per line: "seq|rand key reads ms
speed" (key: blocks per read, or the random range). FIO1 and FIO2 hold, line
for line, fio's replay of the same row: "io_bytes runtime_ms total_ios p50_ns
p99_ns" (the percentiles of its completion latencies, "-" where it gave none).
ERR1 and ERR2 are blockmeter's standard error of the two runs, with its read
times per row. Prints one line per row and the verdicts on the targets; then,
where blockmeter gave read times, its p50 and p99 beside fio's for each random
row.
"""
import math
import re
import sys

MIB = 1048576
SHORT_MS = 100  # under this, a 1 ms tick is more than 1 % of the row


def read_columns(path):
    with open(path, encoding="utf-8") as file:
        return [line.split() for line in file if line.strip()]


def pooled(bm1, bm2, fio1, fio2):
    """The row's figures, each side's two runs pooled; None without reads."""
    r1, ms1, s1 = int(bm1[2]), int(bm1[3]), float(bm1[4])
    r2, ms2, s2 = int(bm2[2]), int(bm2[3]), float(bm2[4])
    fb1, fms1, fn1 = (float(v) for v in fio1[:3])
    fb2, fms2, fn2 = (float(v) for v in fio2[:3])
    if r1 + r2 == 0 or fn1 + fn2 == 0:
        return None
    # blockmeter counts only whole blocks read in its speed; keep its bytes.
    bm_bytes = (s1 * ms1 + s2 * ms2) * MIB / 1000
    bm_ms = ms1 + ms2
    f_ms = max(fms1 + fms2, 1)
    row = {
        "bm_ms": bm_ms,
        "bm_rate": bm_bytes / MIB / (bm_ms / 1000),
        "bm_us": bm_ms * 1000 / (r1 + r2),
        "fio_rate": (fb1 + fb2) / MIB / (f_ms / 1000),
        "fio_us": f_ms * 1000 / (fn1 + fn2),
        "fio_reads": fn1,
        "short": ms1 < SHORT_MS or ms2 < SHORT_MS,
    }
    row["ratio"] = row["bm_rate"] / row["fio_rate"] if row["fio_rate"] > 0 else 0
    # The larger difference between one side's two runs, in % of their mean.
    spread = 200 * abs(s1 - s2) / (s1 + s2) if s1 + s2 > 0 else 0
    if fms1 > 0 and fms2 > 0:
        fr1, fr2 = fb1 / fms1, fb2 / fms2
        spread = max(spread, 200 * abs(fr1 - fr2) / (fr1 + fr2))
    row["spread"] = spread
    return row


def print_table(block_size, rows1, rows2, fio1, fio2):
    print("%-4s %9s %8s %8s | %10s %9s | %10s %9s | %6s %6s" % (
        "kind", "blk/range", "reads", "fio reads", "bm MiB/s", "bm us/rd", "fio MiB/s", "fio us/rd",
        "spread", "ratio"))
    log_sum, n_long = 0.0, 0
    low, high, cached, off_us = [], [], [], []
    for bm1, bm2, f1, f2 in zip(rows1, rows2, fio1, fio2):
        kind, key = bm1[0], bm1[1]
        label = key + " blk" if kind == "seq" else key
        row = pooled(bm1, bm2, f1, f2)
        if row is None:
            print("%-4s %9s %8d %8s | no reads to compare" % (kind, label, int(bm1[2]), "-"))
            continue
        name = kind + ":" + key
        note = ""
        if row["short"]:
            # A ms tick on each side of each run: this share of the row is unknown.
            note = "  short, tick +-%.0f%%" % (100 * 2 / row["bm_ms"])
        elif row["ratio"] > 0:
            n_long += 1
            log_sum += math.log(row["ratio"])
            if row["ratio"] < 0.85:
                low.append(name)
            if kind == "rand" and abs(row["bm_us"] - row["fio_us"]) > 0.15 * row["fio_us"]:
                off_us.append(name)
        if kind == "rand" and row["ratio"] > 3:
            high.append(name)
        if kind == "rand" and block_size == 512 and row["bm_rate"] > 30:
            cached.append(name)
        print("%-4s %9s %8d %8d | %10.2f %9.1f | %10.2f %9.1f | %5.0f%% %6.3f%s" % (
            kind, label, int(bm1[2]), row["fio_reads"], row["bm_rate"], row["bm_us"], row["fio_rate"],
            row["fio_us"], row["spread"], row["ratio"], note))

    print()
    if n_long == 0:
        print("no row long enough to judge (all under 100 ms)")
        return
    mean = math.exp(log_sum / n_long)
    print("geometric mean of blockmeter / fio over %d rows not short: %.3f" % (n_long, mean))
    print("target: geometric mean >= 0.97: %s" % ("met" if mean >= 0.97 else "MISSED"))
    print("target: no row not short below 0.85: %s" % ("met" if not low else "MISSED (" + " ".join(low) + ")"))
    print("target: no random row above 3x fio: %s" % ("met" if not high else "MISSED (" + " ".join(high) + ")"))
    print("target: random rows not short within 15%% of fio's us per read: %s" % (
        "met" if not off_us else "MISSED (" + " ".join(off_us) + ")"))
    if cached:
        print("note: 512-byte random reads above 30 MiB/s came from a cache: " + " ".join(cached))


# "blockmeter: ROOT: random range 4096: read time us: first 61.3, min 41.2, p10 ..."
TIMES_LINE = re.compile(r"^blockmeter: .*: (sequential (\d+) blocks|random range (\d+)): read time us: (.*)$")


def read_times(path):
    """{(kind, key): {name: µs}} of blockmeter's lines of read times."""
    times = {}
    with open(path, encoding="utf-8", errors="replace") as file:
        for line in file:
            match = TIMES_LINE.match(line.rstrip("\n"))
            if not match:
                continue
            kind, key = ("seq", match.group(2)) if match.group(2) else ("rand", match.group(3))
            values = {}
            for field in match.group(4).split(", "):
                name, _, value = field.partition(" ")
                values[name] = float(value)
            times[(kind, key)] = values
    return times


def fio_us(row, column):
    """One of fio's percentiles in a replay's line, in µs; None where absent."""
    return float(row[column]) / 1000 if len(row) > column and row[column] != "-" else None


def geomean(values):
    values = [v for v in values if v]
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else None


def print_percentiles(rows1, rows2, fio1, fio2, times1, times2):
    """blockmeter's p50 and p99 of each run beside fio's completion latency
    percentiles of each pass, for each random row; each side's two runs are
    joined by their geometric mean, which one disturbed run sways less."""
    if not times1 and not times2:
        print("no read times in blockmeter's standard error: no percentiles to compare")
        return
    print("read time percentiles of the random rows, in µs: blockmeter's read times (runs 1 and 2) beside")
    print("fio's completion latencies (clat, passes 1 and 2); ratio: blockmeter / fio, each side's two runs")
    print("joined by their geometric mean")
    print("%9s %8s | %17s %17s %6s | %17s %17s %6s" % (
        "range", "reads", "bm p50", "fio p50", "ratio", "bm p99", "fio p99", "ratio"))
    judged, p50_off, p99_off = 0, [], []
    for bm1, bm2, f1, f2 in zip(rows1, rows2, fio1, fio2):
        kind, key = bm1[0], bm1[1]
        if kind != "rand":
            continue
        t1, t2 = times1.get((kind, key), {}), times2.get((kind, key), {})
        short = int(bm1[3]) < SHORT_MS or int(bm2[3]) < SHORT_MS
        cells, ratio = [], {}
        for p, column in (("p50", 3), ("p99", 4)):
            bm, fio = (t1.get(p), t2.get(p)), (fio_us(f1, column), fio_us(f2, column))
            both = geomean(bm), geomean(fio)
            ratio[p] = both[0] / both[1] if None not in both else None
            cells += [" ".join("%8.1f" % v if v is not None else "%8s" % "-" for v in pair) for pair in (bm, fio)]
            cells.append("%6.3f" % ratio[p] if ratio[p] is not None else "%6s" % "-")
        print("%9s %8d | %s %s %s | %s %s %s%s" % (key, int(bm1[2]), *cells, "  short" if short else ""))
        if short or None in ratio.values():
            continue
        judged += 1
        if abs(ratio["p50"] - 1) > 0.20:
            p50_off.append(key)
        if not 0.5 <= ratio["p99"] <= 2:
            p99_off.append(key)
    print()
    if judged == 0:
        print("no random row of 100 ms or more with percentiles on both sides")
        return
    print("target: p50 within 20%% of fio's on the %d random rows of 100 ms or more: %s" % (
        judged, "met" if not p50_off else "MISSED (" + " ".join(p50_off) + ")"))
    print("target: p99 within a factor of two of fio's on those rows: %s" % (
        "met" if not p99_off else "MISSED (" + " ".join(p99_off) + ")"))


def main(args):
    if len(args) not in (5, 7):
        sys.exit(__doc__.strip().splitlines()[2])
    block_size = int(args[0])
    rows1, rows2, fio1, fio2 = (read_columns(path) for path in args[1:5])
    print_table(block_size, rows1, rows2, fio1, fio2)
    if len(args) == 7:
        print()
        print_percentiles(rows1, rows2, fio1, fio2, read_times(args[5]), read_times(args[6]))


if __name__ == "__main__":
    main(sys.argv[1:])
