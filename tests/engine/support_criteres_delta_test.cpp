// The criteria record in the motbox-delta build of the library: allocBloc also
// allocates and clears the spacer window half-widths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "criteres.h"

static_assert(MOTBOX_DELTA, "this test links the motbox-delta build of the library");

namespace {

// Frees what allocBloc allocated (no setCompoPal rows here).
void freeRecord(Criteres& cr) {
    free(cr.deltas);
    free(cr.errbloc);
    free(cr.bornesbloc);
    free(cr.sauts);
    free(cr.flagcompobloc);
    free(cr.compobloc);
    free(cr.palbloc);
}

}  // namespace

TEST(AllocBlocDelta, DeltasStartAtZero) {
    Criteres cr;
    memset(&cr, 0xff, sizeof cr);
    cr.nbbloc = 3;
    allocBloc(&cr, 3);
    ASSERT_NE(cr.deltas, nullptr);
    for (int b = 0; b < 3; b++) {
        EXPECT_EQ(cr.deltas[b], 0);
        EXPECT_EQ(cr.errbloc[b], -1);
        EXPECT_EQ(cr.bornesbloc[b].min, -1);
        EXPECT_EQ(cr.bornesbloc[b].max, -1);
        EXPECT_EQ(cr.sauts[b].min, 0);
        EXPECT_EQ(cr.sauts[b].max, 0);
        EXPECT_EQ(cr.palbloc[b], -1);
    }
    EXPECT_EQ(cr.flagpal, 0);
    freeRecord(cr);
}

TEST(SpacerTableDelta, SameTableInBothBuilds) {
    Criteres cr;
    memset(&cr, 0, sizeof cr);
    cr.nbbloc = 3;
    allocBloc(&cr, 3);
    cr.sauts[0] = {2, 4};
    cr.sauts[1] = {0, 1};
    ::testing::internal::CaptureStdout();
    initTabSauts(&cr);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\n\n");
    const int expected[6][2] = {{2, 0}, {2, 1}, {3, 0}, {3, 1}, {4, 0}, {4, 1}};
    for (int r = 0; r < 6; r++) {
        EXPECT_EQ(spacerCodes().code2Sauts[r][0], expected[r][0]);
        EXPECT_EQ(spacerCodes().code2Sauts[r][1], expected[r][1]);
        free(spacerCodes().code2Sauts[r]);
    }
    free(spacerCodes().code2Sauts);
    spacerCodes().code2Sauts = nullptr;
    freeRecord(cr);
}
