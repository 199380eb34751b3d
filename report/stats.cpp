#include "stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

double median_of(std::vector<double> values) {
  if (values.empty()) return 0;
  size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + middle, values.end());
  double upper = values[middle];
  if (values.size() % 2 != 0) return upper;
  double lower = *std::max_element(values.begin(), values.begin() + middle);
  return lower + (upper - lower) / 2;
}

int fit_line(const double *x, const double *y, int n, double *a, double *b, double *r2) {
  if (n < 2) return -1;
  double mean_x = 0, mean_y = 0;
  for (int i = 0; i < n; ++i) mean_x += x[i], mean_y += y[i];
  mean_x /= n, mean_y /= n;
  // Sums of deviations from the means, which keep their precision where
  // the raw sums of squares of large byte counts would not.
  double sxx = 0, sxy = 0, syy = 0;
  for (int i = 0; i < n; ++i) {
    sxx += (x[i] - mean_x) * (x[i] - mean_x);
    sxy += (x[i] - mean_x) * (y[i] - mean_y);
    syy += (y[i] - mean_y) * (y[i] - mean_y);
  }
  if (!(sxx > 0)) return -1;
  *b = sxy / sxx;
  *a = mean_y - *b * mean_x;
  *r2 = syy > 0 ? sxy * sxy / (sxx * syy) : 1;
  return 0;
}

// C(n, k) as a double: exact up to 2^53, which every use here stays under.
static double choose(int n, int k) {
  double result = 1;
  for (int i = 1; i <= k; ++i) result = result * (n - k + i) / i;
  return std::round(result);
}

bool rank_test_is_exact(int na, int nb) {
  return (int64_t)std::min(na, nb) * (na + nb) <= exact_rank_test_work;
}

// The normal approximation's p for a's U, with a continuity correction.
static double normal_p(double u_a, int na, int nb, double tie_term) {
  int n = na + nb;
  double mean = (double)na * nb / 2;
  double variance = (double)na * nb / 12 * ((n + 1) - tie_term / ((double)n * (n - 1)));
  if (!(variance > 0)) return 1;
  double z = std::max(0.0, std::fabs(u_a - mean) - 0.5) / std::sqrt(variance);
  return std::min(1.0, std::erfc(z / std::sqrt(2.0)));
}

double smallest_rank_test_p(int na, int nb) {
  if (na <= 0 || nb <= 0) return 1;
  if (rank_test_is_exact(na, nb)) return std::min(1.0, 2 / choose(na + nb, na));
  return normal_p(0, na, nb, 0);
}

// Ranks of the pooled values, doubled so that the mean rank of a tie stays
// an integer; the first na are a's. *tie_term gets the sum of t^3 - t over
// the groups of t tied values.
static std::vector<int64_t> doubled_ranks(const double *a, int na, const double *b, int nb,
                                          double *tie_term) {
  int n = na + nb;
  std::vector<double> values(a, a + na);
  values.insert(values.end(), b, b + nb);
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int i, int j) { return values[i] < values[j]; });
  std::vector<int64_t> ranks(n);
  *tie_term = 0;
  for (int start = 0; start < n;) {
    int end = start + 1;
    while (end < n && values[order[end]] == values[order[start]]) ++end;
    // Positions start+1 .. end share the rank (start + 1 + end) / 2.
    for (int i = start; i < end; ++i) ranks[order[i]] = start + 1 + end;
    double t = end - start;
    *tie_term += t * t * t - t;
    start = end;
  }
  return ranks;
}

// The exact permutation distribution of the doubled rank sum of k values
// drawn from ranks, and the two-sided p of observed in it. ways[j][t] counts
// the j-subsets of the ranks taken so far whose sum is the least sum of j
// ranks plus t: a j-subset's sum spans at most 2j(n - j) above that least,
// so the counts take k^2 n^2 steps, not the square of every sum.
static double exact_p(std::vector<int64_t> ranks, int k, int64_t observed) {
  std::sort(ranks.begin(), ranks.end());
  int n = (int)ranks.size();
  std::vector<int64_t> prefix(n + 1, 0);
  for (int i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + ranks[i];
  std::vector<std::vector<double>> ways(k + 1);
  for (int j = 0; j <= k; ++j) ways[j].assign((size_t)(prefix[n] - prefix[n - j] - prefix[j] + 1), 0);
  ways[0][0] = 1;
  for (int i = 0; i < n; ++i) {
    for (int j = std::min(k, i + 1); j >= 1; --j) {
      const std::vector<double> &from = ways[j - 1];
      std::vector<double> &to = ways[j];
      // The largest (j-1)-subset sum of the first i ranks bounds what from holds.
      int64_t top = prefix[i] - prefix[i - (j - 1)] - prefix[j - 1];
      int64_t shift = ranks[i] - ranks[j - 1];
      for (int64_t t = 0; t <= top; ++t) to[(size_t)(t + shift)] += from[(size_t)t];
    }
  }
  double below = 0, above = 0, all = 0;
  int64_t observed_t = observed - prefix[k];
  for (size_t t = 0; t < ways[k].size(); ++t) {
    double count = ways[k][t];
    all += count;
    if ((int64_t)t <= observed_t) below += count;
    if ((int64_t)t >= observed_t) above += count;
  }
  return std::min(1.0, 2 * std::min(below, above) / all);
}

void test_ranks(const double *a, int na, const double *b, int nb, rank_test *result) {
  result->p = 1;
  result->u = (double)na * nb / 2;
  result->exact = rank_test_is_exact(na, nb);
  if (na <= 0 || nb <= 0) return;
  double tie_term = 0;
  std::vector<int64_t> ranks = doubled_ranks(a, na, b, nb, &tie_term);
  int64_t doubled_sum = 0, total = 0;
  for (int i = 0; i < na + nb; ++i) (i < na ? doubled_sum : total) += ranks[i];
  total += doubled_sum;
  // a's U from its rank sum; b's is what is left of the na * nb pairs.
  double u_a = (double)doubled_sum / 2 - (double)na * (na + 1) / 2;
  result->u = (double)na * nb - u_a;
  if (!result->exact) {
    result->p = normal_p(u_a, na, nb, tie_term);
    return;
  }
  // The smaller side's sum tells the same, in fewer steps.
  result->p = na <= nb ? exact_p(ranks, na, doubled_sum) : exact_p(ranks, nb, total - doubled_sum);
}

double rank_test_p(const double *a, int na, const double *b, int nb) {
  rank_test test;
  test_ranks(a, na, b, nb, &test);
  return test.p;
}

int rank_test_direction(const rank_test *test, int na, int nb) {
  double middle = (double)na * nb / 2;
  return test->u > middle ? 1 : test->u < middle ? -1 : 0;
}

// The statistic of one split: in_base marks the base's runs. Each row's
// runs are taken in the order of their values (order[row]), so that each
// side's median is found in one walk, without sorting again per split.
static double split_statistic(const double *values, int n, int rows,
                              const std::vector<std::vector<int>> &order, const std::vector<char> &in_base,
                              int n_base) {
  int n_new = n - n_base;
  double sum = 0;
  for (int row = 0; row < rows; ++row) {
    // The middle one or two of each side, by rank within the side.
    double base_low = 0, base_high = 0, new_low = 0, new_high = 0;
    int base_seen = 0, new_seen = 0;
    for (int run : order[row]) {
      double value = values[(size_t)run * rows + row];
      if (in_base[run]) {
        if (base_seen == (n_base - 1) / 2) base_low = value;
        if (base_seen == n_base / 2) base_high = value;
        ++base_seen;
      } else {
        if (new_seen == (n_new - 1) / 2) new_low = value;
        if (new_seen == n_new / 2) new_high = value;
        ++new_seen;
      }
    }
    double base_median = base_low + (base_high - base_low) / 2,
           new_median = new_low + (new_high - new_low) / 2;
    sum += std::log(new_median / base_median);
  }
  return sum / rows;
}

// splitmix64: a small generator whose sequence is the same on every system,
// so that a sampled p is the same wherever the report is made.
static uint64_t next_random(uint64_t *state) {
  uint64_t z = (*state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

int test_permutations(const double *values, int n_base, int n_new, int rows, uint64_t seed,
                      permutation_test *result) {
  if (n_base <= 0 || n_new <= 0 || rows <= 0) return -1;
  int n = n_base + n_new;
  std::vector<std::vector<int>> order(rows, std::vector<int>(n));
  for (int row = 0; row < rows; ++row) {
    std::iota(order[row].begin(), order[row].end(), 0);
    std::stable_sort(order[row].begin(), order[row].end(), [&](int a, int b) {
      return values[(size_t)a * rows + row] < values[(size_t)b * rows + row];
    });
  }
  std::vector<char> in_base(n, 0);
  std::fill(in_base.begin(), in_base.begin() + n_base, 1);
  *result = permutation_test{};
  result->statistic = split_statistic(values, n, rows, order, in_base, n_base);
  result->all_splits = choose(n, n_base);
  double bar = std::fabs(result->statistic) * (1 - permutation_tolerance);
  int64_t as_far = 0;
  if (result->all_splits <= (double)exact_permutation_limit) {
    // Every combination of n_base runs for the base, in lexicographic order.
    std::vector<int> pick(n_base);
    std::iota(pick.begin(), pick.end(), 0);
    for (;;) {
      std::fill(in_base.begin(), in_base.end(), 0);
      for (int run : pick) in_base[run] = 1;
      as_far += std::fabs(split_statistic(values, n, rows, order, in_base, n_base)) >= bar;
      ++result->splits;
      int i = n_base - 1;
      while (i >= 0 && pick[i] == n - n_base + i) --i;
      if (i < 0) break;
      ++pick[i];
      for (int j = i + 1; j < n_base; ++j) pick[j] = pick[j - 1] + 1;
    }
    result->exact = true;
  } else {
    uint64_t state = seed;
    std::vector<int> runs(n);
    std::iota(runs.begin(), runs.end(), 0);
    for (int64_t s = 0; s < sampled_permutations; ++s) {
      // The first n_base of a partial shuffle are a uniform draw of them.
      for (int i = 0; i < n_base; ++i)
        std::swap(runs[i], runs[i + (int)(next_random(&state) % (uint64_t)(n - i))]);
      std::fill(in_base.begin(), in_base.end(), 0);
      for (int i = 0; i < n_base; ++i) in_base[runs[i]] = 1;
      as_far += std::fabs(split_statistic(values, n, rows, order, in_base, n_base)) >= bar;
    }
    // The observed split counts as one of them: a p of 0 cannot be.
    result->splits = sampled_permutations + 1;
    as_far += 1;
  }
  result->p = std::min(1.0, (double)as_far / (double)result->splits);
  return 0;
}
