#include "motbox_delta_run.h"
#include "run.h"

int main(int argc, char** argv) {
    return runProgramInARun(motboxDeltaRun, argc, argv);
}
