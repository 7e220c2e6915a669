// Jobs print in the order they were submitted, on each printer. PAPPL picks
// the newest of a printer's pending jobs when one ends; so when a job ends,
// every pending job but the oldest is held for the moment, and the job that
// starts next releases them again.
#pragma once

#include <pappl/pappl.h>

// Called as a job ends: holds the printer's pending jobs but the oldest.
void KeepSubmissionOrder(pappl_printer_t* printer, pappl_job_t* ending);
// Called as a job starts: releases the jobs held for the order's sake.
void ReleaseHeldJobs(pappl_printer_t* printer);
