// Varkel: a console file archiver driven by job scripts.
#include "app/front_end.h"

int main(int argc, char** argv) { return RunVarkel(argc, argv); }
