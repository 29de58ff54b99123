// The outcome of a run: the worst failure seen, returned by main as the exit
// status so that scripts calling Varkel can tell a failed job from a clean one.
#pragma once

enum class Outcome : int {
    Clean = 0,        // nothing failed
    FileChanged = 1,  // a file changed while it was packed; its record holds what was read
    Failed = 2,       // something the job asked for was not done
};

// Records a failure; the outcome only ever gets worse.
void ReportOutcome(Outcome outcome);
Outcome RunOutcome();
// Back to Clean; for tests.
void ResetOutcome();
