#include "motbox_run.h"
#include "run.h"

int main(int argc, char** argv) {
    return runProgramAsTheProcess(motboxRun, argc, argv);
}
