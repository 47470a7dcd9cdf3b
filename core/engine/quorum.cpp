#include "quorum.h"

#include <climits>
#include <cmath>

#include "global.h"

namespace {

constexpr int kDefaultQuorumPercent = 70;

}  // namespace

int computeQuorum(float percent, int n) {
    double q;
    if (percent == 0)
        q = std::ceil(static_cast<double>(static_cast<long long>(kDefaultQuorumPercent) * n) / 100);
    else
        q = std::ceil(n * static_cast<double>(percent) / 100);
    if (std::isnan(q)) return 0;
    if (q >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (q <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(q);
}

void checkQuorum(int quorum, const DriverMessages& m) {
    if (quorum == 1) warning(m.quorumIsOne);
    if (quorum < 1) fatalError(m.quorumBelowOne);
}
