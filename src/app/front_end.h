// The command-line front end: banner, about box, and the choice between
// running a job script and unpacking a named archive.
#pragma once

// Runs the program for its command line; returns the exit status
// (0 clean, 1 a file changed while it was packed, 2 something failed).
int RunVarkel(int argc, char** argv);
