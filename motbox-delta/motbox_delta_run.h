#pragma once
// The whole run of one motbox-delta command line, argv[0] included.  A refusal or a failure ends it with a
// RunExit (see run_exit.h); call it through runProgramInARun (run.h), which gives it a run of its own and
// writes what a refusal says, as the program does.
int motboxDeltaRun(int argc, char** argv);
