// Fisher p-values against exact integer sums, on the transposed table, and on extreme tables.
#include "enrichment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

using Wide = unsigned __int128;

Wide binomial(int a, int b) {
    if (b < 0 || b > a) return 0;
    Wide value = 1;
    for (int i = 1; i <= b; i++) value = value * (a - b + i) / i;  // C(a-b+i, i), exact at every step
    return value;
}

// log10 P(X >= k) from exact integer sums (tables up to 60 sequences), through the complement near p = 1.
double exactLog10(int k, int n, int c, int m) {
    Wide tail = 0;
    for (int x = k; x <= n; x++) tail += binomial(n, x) * binomial(m, k + c - x);
    const Wide total = binomial(n + m, k + c);
    const auto ratio = [&](Wide a) { return static_cast<long double>(a) / static_cast<long double>(total); };
    return 2 * tail > total ? std::log1p(-ratio(total - tail)) / std::log(10.0L) : std::log10(ratio(tail));
}

TEST(FisherUpperTail, MatchesExactSumsOnEverySmallTable) {
    const int sizes[] = {0, 1, 2, 3, 5, 8, 13, 21, 30};
    for (int n : sizes)
        for (int m : sizes)
            for (int k = 0; k <= n; k++)
                for (int c = 0; c <= m; c++) {
                    const double exact =
                        exactLog10(k, n, c, m);  // 0 exactly when k is at the support's low end
                    ASSERT_NEAR(log10FisherUpperTail(k, n, c, m), exact, 1e-10 * std::abs(exact))
                        << k << "/" << n << " vs " << c << "/" << m;
                }
}

TEST(FisherUpperTail, LargeTablesAgreeWithTheTransposedTable) {
    const int64_t tables[][4] = {{1030, 10000, 3000, 30000}, {900, 10000, 3000, 30000},
                                 {1, 10000, 3000, 30000},    {9000, 10000, 0, 30000},
                                 {3, 50000, 1, 70000},       {20, 40, 25, 60}};
    for (const auto& [k, n, c, m] : tables) {
        const double log10P = log10FisherUpperTail(k, n, c, m);
        EXPECT_NEAR(log10FisherUpperTail(k, k + c, n - k, n + m - k - c), log10P, 1e-9 * std::abs(log10P))
            << k;
    }
}

TEST(FisherUpperTail, ExtremeTablesStayFiniteAndMonotone) {
    long double log10Binomial = 0;  // k = n, c = 0: p = 1 / C(n+m, n)
    for (int i = 1; i <= 10000; i++) log10Binomial += std::log10((30000.0L + i) / i);
    EXPECT_NEAR(log10FisherUpperTail(10000, 10000, 0, 30000), -log10Binomial, 1e-9 * log10Binomial);

    double previous = 0;
    for (int64_t k = 0; k <= 10000; k += 125) {
        const double log10P = log10FisherUpperTail(k, 10000, 40, 30000);
        ASSERT_TRUE(std::isfinite(log10P) && log10P <= previous) << k;
        previous = log10P;
    }
    EXPECT_LT(previous, -5000);
}

TEST(FisherUpperTail, PIsOneWithoutEvidenceAndBadTablesThrow) {
    const int64_t noEvidence[][4] = {{0, 10, 5, 20}, {0, 0, 3, 9}, {4, 4, 0, 0}, {7, 7, 5, 5}, {0, 0, 0, 0}};
    for (const auto& [k, n, c, m] : noEvidence)
        EXPECT_EQ(log10FisherUpperTail(k, n, c, m), 0.0) << k << "/" << n;
    EXPECT_THROW(log10FisherUpperTail(3, 2, 0, 5), std::invalid_argument);
    EXPECT_THROW(log10FisherUpperTail(1, 2, -1, 5), std::invalid_argument);
    EXPECT_THROW(enrichmentOf(1, 2, 0, 5, 0), std::invalid_argument);
}

TEST(Enrichment, ScoresFollowTheLogPValueAndWriteAsNumbers) {
    const Enrichment mild = enrichmentOf(5, 10, 1, 19, 100);
    EXPECT_NEAR(mild.pValue, std::pow(10.0, exactLog10(5, 10, 1, 19)), 1e-12 * mild.pValue);
    EXPECT_NEAR(mild.eValue, 100 * mild.pValue, 1e-12 * mild.eValue);
    EXPECT_DOUBLE_EQ(mild.log10E, mild.log10P + 2);
    EXPECT_DOUBLE_EQ(mild.enrichment, 5.0);  // (5/10) / (2/20)
    const Enrichment extreme = enrichmentOf(10000, 10000, 0, 30000, 1000000);
    EXPECT_EQ(extreme.pValue, 0.0);
    EXPECT_DOUBLE_EQ(extreme.log10E, extreme.log10P + 6);
    for (const Enrichment& e : {mild, extreme, enrichmentOf(0, 0, 0, 0, 1), enrichmentOf(0, 3, 3, 3, 1)})
        for (double v : {e.log10P, e.pValue, e.log10E, e.eValue, e.enrichment})
            EXPECT_EQ(formatNumber(v).find_first_of("IN"), std::string::npos)
                << formatNumber(v);  // no Inf, NaN

    const std::pair<double, const char*> formats[] = {{0.000123456789, "0.000123457"},
                                                      {1234567.0, "1.23457e+06"},
                                                      {-9766.425387, "-9766.43"},
                                                      {-0.0, "0"},
                                                      {1e-5, "1e-05"},
                                                      {NAN, "NaN"}};
    for (const auto& [value, text] : formats) EXPECT_EQ(formatNumber(value), text);
}

}  // namespace
