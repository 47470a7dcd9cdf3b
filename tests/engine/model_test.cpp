#include "model.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "build_traits.h"
#include "occ.h"

namespace {

struct OwnedModel {
    Model* m = allocModel();
    ~OwnedModel() {
        free(m->name);
        free(m);
    }
};

TEST(Model, NewModelIsEmptyAndZeroed) {
    static_assert(kModelGrowth == 100, "motbox grows its model by 100 symbols");
    OwnedModel o;
    EXPECT_EQ(o.m->longueur, 0);
    EXPECT_EQ(o.m->taille, kModelGrowth);
    for (int i = 0; i < kModelGrowth; ++i) ASSERT_EQ(o.m->name[i], 0) << i;
}

// The array grows as soon as only two free entries would remain: the 99th symbol (stored at
// index 98) is the first that needs the second block, the 199th the third.
TEST(Model, ChangeModelGrowsWhileTwoEntriesAreStillFree) {
    struct Step {
        int calls;
        int taille;
    };
    const Step steps[] = {{1, 100}, {98, 100}, {99, 200}, {100, 200}, {198, 200}, {199, 300}, {250, 300}};
    OwnedModel o;
    int done = 0;
    for (const Step& step : steps) {
        for (; done < step.calls; ++done) ASSERT_EQ(changeModel(o.m, 1000 + done), 1000 + done);
        EXPECT_EQ(o.m->longueur, step.calls);
        EXPECT_EQ(o.m->taille, step.taille) << "after " << step.calls << " symbols";
    }
    for (int i = 0; i < done; ++i)
        ASSERT_EQ(o.m->name[i], 1000 + i) << "symbol " << i << " lost by the growth";
}

TEST(Model, DecrModelStopsAtZeroAndKeepsStorage) {
    OwnedModel o;
    decrModel(o.m);
    EXPECT_EQ(o.m->longueur, 0);

    changeModel(o.m, 7);
    changeModel(o.m, 8);
    decrModel(o.m);
    EXPECT_EQ(o.m->longueur, 1);
    EXPECT_EQ(o.m->name[1], 8);  // beyond longueur the old value stays
    changeModel(o.m, 9);
    EXPECT_EQ(o.m->name[1], 9);
    decrModel(o.m);
    decrModel(o.m);
    decrModel(o.m);
    EXPECT_EQ(o.m->longueur, 0);
    EXPECT_EQ(o.m->taille, kModelGrowth);
}

TEST(Model, AfficheModelWritesNumbersWithoutSeparator) {
    OwnedModel o;
    for (int s : {1, 12, 3, 0}) changeModel(o.m, s);
    testing::internal::CaptureStdout();
    AfficheModel(o.m);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "11230\n");
}

TEST(Occ, InitOccResetsEveryField) {
    Occ o{reinterpret_cast<Noeud*>(&o), 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(initOcc(&o), &o);
    EXPECT_EQ(o.noeudpere, nullptr);
    EXPECT_EQ(o.pos, -1);
    EXPECT_EQ(o.nberr, -1);
    EXPECT_EQ(o.longsaut, 0);
    EXPECT_EQ(o.nberrbloc, -1);
    EXPECT_EQ(o.codesaut, 0);
    EXPECT_EQ(o.lettre, -1);
}

}  // namespace
