// The process launcher: starts another program from one command-line string.
#pragma once

#include <string>

#include "host/host.h"

// Starts the program and waits for it to end. The first token of the command
// line is the program; double quotes group a token that holds blanks.
// Backslashes in every token become '/' on their way to the host.
host::Result<host::ProcessEnd> RunEXEWait(std::string command_line);
// Starts the program and returns at once; window states mean nothing here.
void RunEXE(std::string command_line, std::string window_mode);
