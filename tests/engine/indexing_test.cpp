// The window the suffix tree is truncated at: the longest span a model can cover.

#include "indexing.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "criteres.h"

namespace {

// A criteria record with the given totals and, for two boxes or more, box maxima and spacer maxima.
struct WindowCase {
    int nbbloc;
    int maxlong;
    std::vector<int> boxMax;
    std::vector<int> spacerMax;
    int window;
};

// A criteria record with its per-box arrays, released with the test.
struct BoxedCriteres {
    explicit BoxedCriteres(int nbbloc) {
        cr.nbbloc = static_cast<signed char>(nbbloc);
        allocBloc(&cr, nbbloc);
    }
    ~BoxedCriteres() {
        free(cr.compobloc);
        free(cr.errbloc);
        free(cr.bornesbloc);
        free(cr.sauts);
        free(cr.flagcompobloc);
        free(cr.palbloc);
    }
    BoxedCriteres(const BoxedCriteres&) = delete;
    BoxedCriteres& operator=(const BoxedCriteres&) = delete;
    Criteres cr{};
};

TEST(WindowTest, LongestSpanOfAModel) {
    const WindowCase cases[] = {
        {1, 20, {}, {}, 20},
        {1, 0, {}, {}, INT_MAX},
        {1, -5, {}, {}, 1},
        {2, 15, {10, 12}, {5}, 27},
        {2, 30, {10, 12}, {5}, 35},
        {2, 20, {8, 8}, {30}, 50},
        {2, 20, {8, 0}, {30}, INT_MAX},
        {2, 0, {8, 8}, {30}, INT_MAX},
        {3, 5, {1, 2, 3}, {4, 6}, 16},
        {3, 5, {INT_MAX, INT_MAX, 1}, {INT_MAX, 3}, INT_MAX},
    };
    for (const WindowCase& c : cases) {
        BoxedCriteres boxed(c.nbbloc);
        Criteres& cr = boxed.cr;
        cr.maxlong = c.maxlong;
        for (size_t b = 0; b < c.boxMax.size(); b++) cr.bornesbloc[b].max = c.boxMax[b];
        for (size_t s = 0; s < c.spacerMax.size(); s++) cr.sauts[s].max = c.spacerMax[s];
        EXPECT_EQ(windowLength(cr), c.window) << c.nbbloc << " boxes, total max " << c.maxlong;
    }
}

TEST(WindowTest, SingleBoxIgnoresTheUnreadBoxBounds) {
    BoxedCriteres boxed(1);
    Criteres& cr = boxed.cr;
    cr.bornesbloc[0].max = 0;  // never read from the command line with one box
    cr.maxlong = 12;
    EXPECT_EQ(windowLength(cr), 12);
}

}  // namespace
