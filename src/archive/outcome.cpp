#include "archive/outcome.h"

namespace {
Outcome worst_outcome = Outcome::Clean;
}

void ReportOutcome(Outcome outcome) {
    if (static_cast<int>(outcome) > static_cast<int>(worst_outcome)) worst_outcome = outcome;
}

Outcome RunOutcome() { return worst_outcome; }

void ResetOutcome() { worst_outcome = Outcome::Clean; }
