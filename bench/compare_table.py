#!/usr/bin/env python3
"""compare_fio's table: blockmeter's two runs beside fio's two replays.

usage: compare_table.py BLOCK_SIZE ROWS1 ROWS2 FIO1 FIO2

ROWS1 and ROWS2 hold blockmeter's rows, one per line: "seq|rand key reads ms
speed" (key: blocks per read, or the random range). FIO1 and FIO2 hold, line
for line, fio's replay of the same row: "io_bytes runtime_ms total_ios".
Prints one line per row and the verdicts on the targets.
"""
import math
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
    fb1, fms1, fn1 = (float(v) for v in fio1)
    fb2, fms2, fn2 = (float(v) for v in fio2)
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


def main(args):
    if len(args) != 5:
        sys.exit(__doc__.strip().splitlines()[2])
    block_size = int(args[0])
    print_table(block_size, *(read_columns(path) for path in args[1:]))


if __name__ == "__main__":
    main(sys.argv[1:])
