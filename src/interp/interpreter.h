// The job interpreter: runs one job script from its first line to its last,
// one command per line.
#pragma once

#include <string>

// Loads the script and carries out each line's command in order. When the
// script cannot be opened, nothing runs; a missing script is reported only
// when `report_missing_script` is set (a script the user named), since the
// default script is looked for on every start without arguments.
void create_actions_from_script(std::string path, bool report_missing_script = true);
