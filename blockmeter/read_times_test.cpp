// The histogram of read times against exact percentiles, and against values
// worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "read_times.h"

namespace {

const int per_milles[] = {1, 100, 250, 500, 750, 900, 990, 999, 1000};

// The nearest-rank percentile of sorted values: the smallest with at least
// per_mille / 1000 of them at or below it.
uint64_t exact_percentile(const std::vector<uint64_t> &sorted, int per_mille) {
  size_t rank = 1;
  while (rank * 1000 < (size_t)per_mille * sorted.size()) ++rank;
  return sorted[rank - 1];
}

struct sample {
  const char *name;
  std::vector<uint64_t> values;
};

std::vector<uint64_t> spread(uint64_t from, uint64_t to, size_t n) {
  std::vector<uint64_t> values;
  for (size_t i = 0; i < n; ++i) values.push_back(from + (to - from) * i / (n - 1));
  return values;
}

std::vector<uint64_t> joined(std::vector<uint64_t> a, const std::vector<uint64_t> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Every power of two from 2^7 to 2^36, a value either side of it, and the
// ends of the range kept, in no order.
std::vector<uint64_t> bucket_limits() {
  std::vector<uint64_t> values = {
      read_time_least_ns, read_time_most_ns, read_time_most_ns - 1, 255, 256, 257};
  for (int k = 7; k <= 36; ++k)
    for (uint64_t v : {(1ull << k) - 1, 1ull << k, (1ull << k) + 1}) values.push_back(v);
  std::reverse(values.begin() + 3, values.end());
  return values;
}

class read_time_samples : public testing::TestWithParam<sample> {};

// Within 0.2 %: a bucket's midpoint is that close to every value in it.
TEST_P(read_time_samples, percentiles_are_within_0_2_percent_of_the_exact_ones) {
  const std::vector<uint64_t> &values = GetParam().values;
  static read_times times;
  start_read_times(&times);
  for (uint64_t v : values) add_read_time(&times, v);
  std::vector<uint64_t> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(values.size(), times.count);
  EXPECT_EQ(values.front(), times.first_ns);
  EXPECT_EQ(sorted.front(), times.min_ns);
  EXPECT_EQ(sorted.back(), times.max_ns);
  for (int per_mille : per_milles) {
    double exact = (double)exact_percentile(sorted, per_mille);
    EXPECT_NEAR(exact, read_time_percentile(&times, per_mille), exact * 0.002) << "per mille " << per_mille;
  }
}

INSTANTIATE_TEST_SUITE_P(
    , read_time_samples,
    testing::Values(sample{"constant", std::vector<uint64_t>(1000, 87654)},
                    sample{"uniform", spread(40000, 400000, 100001)},
                    sample{"bimodal", joined(spread(90000, 110000, 900), spread(8000000, 12000000, 100))},
                    sample{"huge_outlier", joined(spread(100000, 120000, 9999), {99000000000})},
                    sample{"single", {123456789}}, sample{"bucket_limits", bucket_limits()}),
    [](const testing::TestParamInfo<sample> &info) { return std::string(info.param.name); });

// The rank is ceil(p × n), in whole numbers: 99.9 % of 1000 values is the
// 999th, of 1001 values the 1000th; 10 % of 9 values is the first.
TEST(read_times, ranks_are_the_nearest_ranks) {
  static read_times times;
  const struct {
    uint64_t n;
    int per_mille;
    double expected_us;
  } cases[] = {{1000, 999, 999}, {1001, 999, 1000}, {1000, 500, 500}, {1001, 500, 501},
               {9, 100, 1},      {10, 100, 1},      {11, 100, 2},     {100, 990, 99}};
  for (const auto &c : cases) {
    start_read_times(&times);
    for (uint64_t us = c.n; us >= 1; --us) add_read_time(&times, us * 1000);  // 1..n µs, reversed
    EXPECT_NEAR(c.expected_us * 1000, read_time_percentile(&times, c.per_mille), c.expected_us * 2)
        << c.per_mille << " per mille of " << c.n;
  }
}

// Outside 100 ns to 100 s a time counts in the end bucket, and a percentile
// there is that bucket's midpoint kept within the smallest and largest time.
TEST(read_times, times_outside_the_range_count_at_its_ends) {
  static read_times times;
  start_read_times(&times);
  for (uint64_t ns : {30, 40, 1000}) add_read_time(&times, ns);
  EXPECT_EQ(100, read_time_percentile(&times, 500)) << "30 and 40 ns count as 100";
  EXPECT_EQ(100, read_time_percentile(&times, 1)) << "the smallest is 30 ns, its bucket 100 ns";
  EXPECT_EQ(1000, read_time_percentile(&times, 1000));
  EXPECT_EQ(30u, times.min_ns);

  start_read_times(&times);
  for (uint64_t ns : {50, 60}) add_read_time(&times, ns);
  EXPECT_EQ(60, read_time_percentile(&times, 500)) << "the midpoint 100, kept within 50..60";

  start_read_times(&times);
  for (uint64_t s : {150, 300}) add_read_time(&times, s * 1000000000);
  EXPECT_EQ(150e9, read_time_percentile(&times, 1000)) << "the bucket of 100 s, kept within 150..300 s";
  EXPECT_EQ(300000000000u, times.max_ns);
  EXPECT_EQ(
      "first 150000000.0, min 150000000.0, p10 150000000.0, p25 150000000.0, p50 150000000.0, "
      "p75 150000000.0, p90 150000000.0, p99 150000000.0, p99.9 150000000.0, max 300000000.0",
      describe_read_times(&times));
}

// Tenths of a microsecond, halves up: 250 ns, a bucket of its own, is 0.25 µs;
// 0 ns counts as 100 ns, and is the smallest exactly.
TEST(read_times, describes_the_times_in_tenths_of_a_microsecond) {
  static read_times times;
  start_read_times(&times);
  add_read_time(&times, 250);
  add_read_time(&times, 0);
  EXPECT_EQ("first 0.3, min 0.0, p10 0.1, p25 0.1, p50 0.1, p75 0.3, p90 0.3, p99 0.3, p99.9 0.3, max 0.3",
            describe_read_times(&times));
}

}  // namespace
