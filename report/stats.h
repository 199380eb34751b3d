// The statistics the report rests on: plain numbers in, plain numbers out.
#pragma once

#include <cstdint>
#include <vector>

// The median of values (the mean of the middle two for an even count); 0 for
// none.
double median_of(std::vector<double> values);

// A least-squares line y = a + b * x through n points, and its coefficient of
// determination r2 (1 when every y lies on the line; 1 too when every y is
// equal). Returns 0, or -1, leaving the outputs untouched, when fewer than
// two distinct x values are given.
int fit_line(const double *x, const double *y, int n, double *a, double *b, double *r2);

// The two-sided p-value of the Mann-Whitney U test (the Wilcoxon rank-sum
// test) of samples a and b: the chance, were both drawn from one population,
// of rank sums as far from the middle as these or further. Ties take the
// mean of their ranks. Exact (the permutation distribution of the rank sum,
// ties included) wherever rank_test_is_exact says; beyond, the normal
// approximation with the tie correction and a continuity correction.
// Returns 1 when either sample is empty.
double rank_test_p(const double *a, int na, const double *b, int nb);

// Whether samples of na and nb values are tested exactly: where one side is
// small, the smaller count times the total at most exact_rank_test_work (the
// exact count's cost grows as its square). That covers every pair of 60
// values or fewer in all, and one run against up to 1999, where the normal
// approximation could never reach 0.05.
constexpr int exact_rank_test_work = 2000;
bool rank_test_is_exact(int na, int nb);

// The same test with its statistic: which way it leans, not only how far.
struct rank_test {
  double p;    // as rank_test_p gives it
  double u;    // b's U: the pairs of a value of a and one of b in which b's is larger, plus half the
               // tied pairs; na * nb / 2 when neither sample leans either way
  bool exact;  // p is from the exact distribution, not the normal approximation
};
void test_ranks(const double *a, int na, const double *b, int nb, rank_test *result);

// Which way b lies from a by the rank test: 1 when its values tend to be
// larger (u over na * nb / 2), -1 smaller, 0 neither.
int rank_test_direction(const rank_test *test, int na, int nb);

// The smallest p-value the test can give for samples of na and nb values
// with no two tied (ties raise it), by the method it uses for them: exact,
// 2 / C(na + nb, na); else the normal approximation's at U = 0. 1 when
// either is empty.
double smallest_rank_test_p(int na, int nb);

// The permutation test of a table of two sides' runs: whether one side's runs
// are as a whole slower than the other's, with one p-value, so that the
// chance of a false alarm over a table is alpha, not alpha per row. values
// holds n_base + n_new runs, the base's first, each the rows values of one
// run (all above 0). The statistic is the mean over the rows of
// log(median of the new runs' values / median of the base runs'); p is the
// share of the ways to split the runs into n_base and n_new whose statistic
// is as far from 0 as the observed one or further (equal within a relative
// permutation_tolerance), the observed split among them. Every split is
// counted where there are at most exact_permutation_limit; beyond, a sample
// of sampled_permutations random splits, drawn from seed, and the observed.
constexpr int64_t exact_permutation_limit = 200000;
constexpr int64_t sampled_permutations = 100000;
constexpr double permutation_tolerance = 1e-9;

struct permutation_test {
  double statistic;   // the observed split's
  double p;           // two-sided
  bool exact;         // every split counted; else a sample and the observed
  int64_t splits;     // the splits counted
  double all_splits;  // C(n_base + n_new, n_base)
};

// Returns 0, or -1 (leaving *result as it was) when a side has no runs or
// there are no rows.
int test_permutations(const double *values, int n_base, int n_new, int rows, uint64_t seed,
                      permutation_test *result);
