// The completion wait. Not written yet: the job ends at once with status 0.
#include "filter/filter.h"

// Waits until the printer reports that the job has ended; ends the process.
int CompletionWait(FilterJob&) { return 0; }
