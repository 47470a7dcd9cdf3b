#include "motbox_delta_run.h"
#include "run.h"

int main(int argc, char** argv) {
    return runProgramAsTheProcess(motboxDeltaRun, argc, argv);
}
