#include "global_variables.h"

#include <cstdlib>

namespace {

TreeState processTree;

}  // namespace

constinit thread_local TreeState* treeInUse = &processTree;

void freeTreeTexts() {
    free(treeState().Sequence);
    treeState().Sequence = nullptr;
}
