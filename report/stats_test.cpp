// The statistics against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "stats.h"

namespace {

struct rank_case {
  std::vector<double> a, b;
  double p;
};

// Exact two-sided p-values: 2 * min(P(W <= w), P(W >= w)) over the C(n, na)
// equally likely ways to place a's ranks. {1,2,4} / {3,5,6}: W = 7, and only
// {1,2,3} and {1,2,4} of the 20 ways sum to 7 or less. {1,2,2} / {2,3,3}:
// mean ranks 1, 3, 3, 3, 5.5, 5.5; W = 7, reached or undercut by 3 of 20 ways.
TEST(stats, rank_test_is_exact_for_small_samples_with_and_without_ties) {
  const rank_case cases[] = {
      {{1, 2, 3}, {4, 5, 6}, 2.0 / 20},
      {{6, 5, 4}, {3, 2, 1}, 2.0 / 20},
      {{1, 2, 4}, {3, 5, 6}, 4.0 / 20},
      {{1, 2, 3, 4}, {5, 6, 7, 8}, 2.0 / 70},
      {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}, 2.0 / 252},
      {{1, 2, 2}, {2, 3, 3}, 6.0 / 20},
      {{5, 5, 5}, {5, 5, 5}, 1},
      {{1}, {2}, 1},
      {{}, {2}, 1},
  };
  for (const rank_case &c : cases)
    EXPECT_NEAR(c.p, rank_test_p(c.a.data(), (int)c.a.size(), c.b.data(), (int)c.b.size()), 1e-12)
        << c.a.size() << " against " << c.b.size() << ", first " << (c.a.empty() ? 0 : c.a[0]);
  EXPECT_NEAR(0.1, smallest_rank_test_p(3, 3), 1e-12);
  EXPECT_NEAR(2.0 / 70, smallest_rank_test_p(4, 4), 1e-12);
}

// 40 against 40, past the exact limit: a = 1..40, b = 21.5..60.5, so a's
// values 22..40 each beat k - 21 of b's: U = 190, against a mean of 800 and
// a variance of 40 * 40 * 81 / 12; z = (610 - 0.5) / sqrt(10800) = 5.86492.
TEST(stats, rank_test_of_large_samples_is_the_normal_approximation) {
  std::vector<double> a, b;
  for (int i = 1; i <= 40; ++i) a.push_back(i), b.push_back(i + 20.5);
  EXPECT_NEAR(4.4936e-9, rank_test_p(a.data(), 40, b.data(), 40), 0.0001e-9);
}

TEST(stats, median_and_fit) {
  EXPECT_EQ(2, median_of({3, 1, 2}));
  EXPECT_EQ(2.5, median_of({4, 1, 3, 2}));
  EXPECT_EQ(0, median_of({}));
  // Through (1,1), (2,3), (3,2): b = 1/2, a = 1, r2 = sxy^2 / (sxx syy) = 1 / 4.
  const double x[] = {1, 2, 3}, y[] = {1, 3, 2};
  double a = 0, b = 0, r2 = 0;
  ASSERT_EQ(0, fit_line(x, y, 3, &a, &b, &r2));
  EXPECT_DOUBLE_EQ(1, a);
  EXPECT_DOUBLE_EQ(0.5, b);
  EXPECT_DOUBLE_EQ(0.25, r2);
  EXPECT_EQ(-1, fit_line(x, y, 1, &a, &b, &r2));
}

// b's U counts the pairs in which b's value is larger, ties as halves:
// {1,2,4} / {3,5,6}: 3 beats 1 and 2, 5 and 6 beat all three: U = 8 of 9.
// {1,2,2} / {2,3,3}: 2 beats 1 and ties two 2s (1 + 2 halves), each 3 beats
// all three: U = 8. Equal samples lean neither way.
TEST(stats, rank_test_leans_the_way_of_its_statistic) {
  const struct {
    std::vector<double> a, b;
    double u;
    int direction;
  } cases[] = {
      {{1, 2, 4}, {3, 5, 6}, 8, 1},
      {{3, 5, 6}, {1, 2, 4}, 1, -1},
      {{1, 2, 2}, {2, 3, 3}, 8, 1},
      {{5, 5}, {5, 5, 5}, 3, 0},
  };
  for (const auto &c : cases) {
    rank_test test;
    test_ranks(c.a.data(), (int)c.a.size(), c.b.data(), (int)c.b.size(), &test);
    EXPECT_DOUBLE_EQ(c.u, test.u) << "first of a " << c.a[0];
    EXPECT_EQ(c.direction, rank_test_direction(&test, (int)c.a.size(), (int)c.b.size()))
        << "first of a " << c.a[0];
  }
}

// Exact wherever one side is small: the smaller count times the total at
// most 2000. Each case is a side wholly below the other, whose exact p is
// 2 / C(n, k): one run against 61 (2 / 62), 2 against 99 (2 / 5050), 20
// against 80 (2 / C(100, 20) = 3.7315e-21). At 21 against 80 the normal
// approximation takes over: z = (840 - 0.5) / sqrt(21 * 80 * 102 / 12) =
// 7.02517, p = 2.1381e-12, where the exact count would give 7.76e-22.
TEST(stats, rank_test_is_exact_where_one_side_is_small) {
  const struct {
    int na, nb;
    double p;
    bool exact;
  } cases[] = {
      {1, 61, 2.0 / 62, true},
      {2, 99, 2.0 / 5050, true},
      {20, 80, 3.731459053465037e-21, true},
      {21, 80, 2.1381174385760137e-12, false},
  };
  for (const auto &c : cases) {
    std::vector<double> a, b;
    for (int i = 0; i < c.na; ++i) a.push_back(i);
    for (int i = 0; i < c.nb; ++i) b.push_back(1000 + i);
    rank_test test;
    test_ranks(a.data(), c.na, b.data(), c.nb, &test);
    EXPECT_EQ(c.exact, test.exact) << c.na << " against " << c.nb;
    EXPECT_NEAR(c.p, test.p, c.p * 1e-4) << c.na << " against " << c.nb;
    EXPECT_NEAR(c.p, smallest_rank_test_p(c.na, c.nb), c.p * 1e-4) << c.na << " against " << c.nb;
  }
  // One run against 60 could never reach 0.05 by the normal approximation (0.0938).
  EXPECT_LT(smallest_rank_test_p(1, 60), 0.05);
}

// Base runs (10, 100), (12, 90), (11, 120) against new runs (14, 130), (16,
// 125), two rows. Observed: log(15 / 11) and log(127.5 / 100), mean 0.27655.
// Of the C(5, 3) = 10 ways to pick the base's three runs, every other one
// gives a mean nearer 0 (the largest, base {0, 1, 3}: 0.1604; the most
// negative, base {2, 3, 4}: -0.2578): p = 1 / 10.
TEST(stats, permutation_test_counts_every_split_of_whole_runs) {
  const double runs[] = {10, 100, 12, 90, 11, 120, 14, 130, 16, 125};
  permutation_test test;
  ASSERT_EQ(0, test_permutations(runs, 3, 2, 2, 1, &test));
  EXPECT_NEAR((std::log(15.0 / 11) + std::log(127.5 / 100)) / 2, test.statistic, 1e-12);
  EXPECT_TRUE(test.exact);
  EXPECT_EQ(10, test.splits);
  EXPECT_DOUBLE_EQ(0.1, test.p);

  // Base {11, 11} against new {7, 7}: the observed log(7 / 11) and its
  // mirror log(11 / 7) are as far from 0, though their doubles differ in the
  // last bit; the four mixed splits give 0. p = 2 / 6.
  const double mirror[] = {11, 11, 7, 7};
  ASSERT_EQ(0, test_permutations(mirror, 2, 2, 1, 1, &test));
  EXPECT_DOUBLE_EQ(2.0 / 6, test.p);

  // No runs on a side, or no rows: nothing to test.
  EXPECT_EQ(-1, test_permutations(runs, 5, 0, 2, 1, &test));
  EXPECT_EQ(-1, test_permutations(runs, 3, 2, 0, 1, &test));
}

// 12 against 12 runs: C(24, 12) = 2704156 splits, past the limit, so a
// sample of 100000 and the observed. The base's runs all take 1, the new's 2:
// a split that gives the base k of the new's runs has medians 1 and 2 (k
// under 6), 1.5 and 1.5 (k = 6) or 2 and 1 (k over 6), so all but the
// C(12, 6)^2 = 853776 splits of k = 6 are as far from 0 as the observed:
// p = 1850380 / 2704156 = 0.68427, which the sample must come within four
// of its standard errors (0.0015) of. The same seed gives the same p.
TEST(stats, permutation_test_samples_splits_past_the_limit) {
  std::vector<double> runs(24, 1.0);
  std::fill(runs.begin() + 12, runs.end(), 2.0);
  permutation_test test, again;
  ASSERT_EQ(0, test_permutations(runs.data(), 12, 12, 1, 7, &test));
  EXPECT_FALSE(test.exact);
  EXPECT_EQ(100001, test.splits);
  EXPECT_DOUBLE_EQ(2704156, test.all_splits);
  EXPECT_DOUBLE_EQ(std::log(2.0), test.statistic);
  EXPECT_NEAR(1850380.0 / 2704156, test.p, 0.006);
  ASSERT_EQ(0, test_permutations(runs.data(), 12, 12, 1, 7, &again));
  EXPECT_EQ(test.p, again.p);
}

// Both sides drawn alike, 400 times: 5 runs a side, 10 rows, each run slowed
// or sped as a whole (its own factor, spread 20 %) and each row by noise of
// its own (10 %). The table's verdict must be a false alarm about as often as
// alpha says, and no more: 5 + 5 runs give p in steps of 2 / 252, so at most
// 12 / 252 = 4.8 % of them fall under 0.05.
TEST(stats, permutation_test_raises_false_alarms_at_the_rate_of_alpha) {
  std::mt19937_64 generator(20261210);
  auto normal = [&generator]() {
    double u = ((double)(generator() >> 11) + 0.5) / 9007199254740992.0;
    double v = ((double)(generator() >> 11) + 0.5) / 9007199254740992.0;
    return std::sqrt(-2 * std::log(u)) * std::cos(2 * 3.141592653589793 * v);
  };
  const int trials = 400, runs = 10, rows = 10;
  int alarms = 0;
  for (int trial = 0; trial < trials; ++trial) {
    std::vector<double> values(runs * rows);
    for (int run = 0; run < runs; ++run) {
      double run_factor = std::exp(0.2 * normal());
      for (int row = 0; row < rows; ++row)
        values[run * rows + row] = (100 + 20 * row) * run_factor * std::exp(0.1 * normal());
    }
    permutation_test test;
    ASSERT_EQ(0, test_permutations(values.data(), 5, 5, rows, 1, &test));
    alarms += test.p < 0.05;
  }
  double rate = (double)alarms / trials;
  // 400 draws of a rate of 4.8 % lie within 2.4 % of it but once in 200.
  EXPECT_LE(rate, 0.072) << alarms << " false alarms in " << trials;
  EXPECT_GE(rate, 0.024) << alarms << " false alarms in " << trials << ": the test cannot tell anything";
}

}  // namespace
