#include "enrichment.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <system_error>

namespace {

// Sums stop once a term is this small next to the sum: the terms left decrease geometrically,
// so what they add is far below a double's precision.
constexpr double kNegligibleTerm = 1e-20;
// Up to this, the factorials are exact in a double (20! is 2^18 times an odd number below 2^53).
constexpr int64_t kLargestExactFactorial = 20;

// ln(n!), thread-safe (std::lgamma writes the global signgam): exact factorials for small n, the
// Stirling series beyond, whose first omitted term is below 1e-15 from n = 21 on.
double logFactorial(int64_t n) {
    if (n <= kLargestExactFactorial) {
        uint64_t factorial = 1;
        for (int64_t i = 2; i <= n; i++) factorial *= static_cast<uint64_t>(i);
        return std::log(static_cast<double>(factorial));
    }
    const double x = static_cast<double>(n);
    const double inverse = 1.0 / x;
    const double inverse2 = inverse * inverse;
    const double series =
        inverse * (1.0 / 12 - inverse2 * (1.0 / 360 - inverse2 * (1.0 / 1260 - inverse2 / 1680)));
    return (x + 0.5) * std::log(x) - x + 0.5 * std::log(2 * std::numbers::pi) + series;
}

double logBinomial(int64_t n, int64_t r) {
    return logFactorial(n) - logFactorial(r) - logFactorial(n - r);
}

// Number X of input sequences among the sequences holding the model, when n of the n+m sequences
// are drawn and K of them hold it.
class Hypergeometric {
  public:
    Hypergeometric(int64_t holding, int64_t inputs, int64_t controls)
        : K_(holding), n_(inputs), m_(controls) {}

    int64_t lowest() const { return std::max<int64_t>(0, K_ - m_); }
    int64_t highest() const { return std::min(K_, n_); }
    // floor((n+1)(K+1)/(N+2)); in doubles, as being off by one only moves where the sums start.
    int64_t mode() const {
        const double mode = std::floor((n_ + 1.0) * (K_ + 1.0) / (n_ + m_ + 2.0));
        return std::clamp(static_cast<int64_t>(mode), lowest(), highest());
    }
    double logPmf(int64_t x) const {
        return logBinomial(n_, x) + logBinomial(m_, K_ - x) - logBinomial(n_ + m_, K_);
    }
    // P(x+1) / P(x) and P(x-1) / P(x).
    double ratioUp(int64_t x) const {
        return static_cast<double>(K_ - x) * static_cast<double>(n_ - x) /
               (static_cast<double>(x + 1) * static_cast<double>(m_ - K_ + x + 1));
    }
    double ratioDown(int64_t x) const {
        return static_cast<double>(x) * static_cast<double>(m_ - K_ + x) /
               (static_cast<double>(K_ - x + 1) * static_cast<double>(n_ - x + 1));
    }

    // ln P(from <= X <= to), summed outwards from start, the largest term of the range or near it.
    double logRange(int64_t from, int64_t to, int64_t start) const {
        double sum = 1;
        double term = 1;
        for (int64_t x = start; x < to; x++) {
            term *= ratioUp(x);
            sum += term;
            if (term < kNegligibleTerm * sum) break;
        }
        term = 1;
        for (int64_t x = start; x > from; x--) {
            term *= ratioDown(x);
            sum += term;
            if (term < kNegligibleTerm * sum) break;
        }
        return logPmf(start) + std::log(sum);
    }

  private:
    int64_t K_, n_, m_;
};

void requireValidTable(int64_t k, int64_t n, int64_t c, int64_t m) {
    if (k < 0 || c < 0 || k > n || c > m) {
        throw std::invalid_argument("contingency table needs 0 <= k <= n and 0 <= c <= m");
    }
}

}  // namespace

double log10FisherUpperTail(int64_t k, int64_t n, int64_t c, int64_t m) {
    requireValidTable(k, n, c, m);
    const Hypergeometric law(k + c, n, m);
    if (k <= law.lowest()) return 0;
    const int64_t mode = law.mode();
    if (k <= mode) {
        // The tail holds the bulk: 1 minus the lower tail keeps log p accurate as p nears 1.
        const double lowerTail = std::exp(law.logRange(law.lowest(), k - 1, k - 1));
        if (lowerTail == 0) return 0;  // p rounds to 1; log1p(-0) would give -0
        if (lowerTail <= 0.5) return std::log1p(-lowerTail) / std::numbers::ln10;
    }
    return law.logRange(k, law.highest(), std::max(k, mode)) / std::numbers::ln10;
}

Enrichment enrichmentOf(int64_t k, int64_t n, int64_t c, int64_t m, int64_t modelsWritten) {
    if (modelsWritten < 1) throw std::invalid_argument("enrichment needs at least one model written");
    Enrichment scores{};
    scores.log10P = log10FisherUpperTail(k, n, c, m);
    scores.pValue = std::pow(10.0, scores.log10P);
    scores.log10E = scores.log10P + std::log10(static_cast<double>(modelsWritten));
    scores.eValue = std::pow(10.0, scores.log10E);
    if (n > 0) {
        const double inputFrequency = static_cast<double>(k) / static_cast<double>(n);
        const double controlFrequency = static_cast<double>(c + 1) / static_cast<double>(m + 1);
        scores.enrichment = inputFrequency / controlFrequency;
    }
    return scores;
}

std::string formatNumber(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
    if (value == 0) return "0";
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    if (error != std::errc()) throw std::logic_error("formatNumber: buffer too small");
    return std::string(text, end);
}
