#pragma once
#include <cstdint>
#include <string>

// Ranking of a model against a control set.  A model held by k of the n input sequences and by c of the
// m control sequences is scored by the one-sided Fisher exact test of the table [k, n-k; c, m-c]: the
// chance that, of the k+c sequences holding it, k or more fall among the input when n of the n+m
// sequences are drawn at random.  Everything is computed in log space, because strongly enriched models
// of large sets have p-values far below the smallest double.

// log10 of P(X >= k), X hypergeometric with n+m sequences, k+c of them holding the model, n drawn.
// 0 (p = 1) when k is at the lower end of X's range or below.  Needs 0 <= k <= n and 0 <= c <= m;
// throws std::invalid_argument otherwise.
double log10FisherUpperTail(int64_t k, int64_t n, int64_t c, int64_t m);

struct Enrichment {
    double log10P;      // log10 of the Fisher p-value; finite for every valid table
    double pValue;      // 10^log10P, 0 once that is below the smallest double
    double log10E;      // log10P + log10(models written)
    double eValue;      // expected number of models as enriched among those written, by chance
    double enrichment;  // input frequency over the control frequency, the control count taken as c+1 of m+1
};

// Scores of a model among modelsWritten models (at least 1).  With no input sequence the enrichment
// is 0.  Throws std::invalid_argument on an invalid table or modelsWritten < 1.
Enrichment enrichmentOf(int64_t k, int64_t n, int64_t c, int64_t m, int64_t modelsWritten);

// "%.6g" whatever the process locale ("1.23457e-05", "0.5", "1e+06"), with -0 written "0", so that R,
// pandas and spreadsheets read the columns as numbers.  Infinities and NaN come out as "Inf", "-Inf"
// and "NaN", which R and pandas read; the scores above never produce them.
std::string formatNumber(double value);
