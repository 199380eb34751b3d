// The statistics against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>

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
    EXPECT_EQ(c.direction, rank_test_direction(&test, (int)c.a.size(), (int)c.b.size())) << "first of a " << c.a[0];
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

}  // namespace
