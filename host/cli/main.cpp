// tarvok: the command-line program around the Tarvok library.
#include "cli/Cli.h"

int main(int argc, char** argv) { return tarvok::RunCommandLine(argc, argv); }
