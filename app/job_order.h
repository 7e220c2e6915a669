// Jobs print one at a time on each printer, in the order they were
// submitted. PAPPL 1.3 starts a thread for the newest waiting job, and that
// thread marks the printer busy only once it runs: two looks for the next
// job close together (a status query giving the printer back as a job
// arrives) start two jobs on one printer. So every job thread first takes
// its printer's turn, and then prints the oldest waiting job, whichever job
// PAPPL started it for; a thread that finds the turn taken leaves its job
// waiting, and the thread that has the turn looks again as it ends.
#pragma once

#include <pappl/pappl.h>

// PAPPL's own steps that the turn wraps.
struct JobSteps {
  void (*process)(pappl_job_t* job);                           // prints a spooled job
  void (*processStreamed)(pappl_job_t* job, pappl_client_t*);  // prints a job as its client sends it
  void (*checkJobs)(pappl_printer_t* printer);                 // looks for the next job
};

// On the thread PAPPL started for `job`: prints the printer's oldest waiting
// job if the printer's turn is free, else returns at once.
void RunOldestJob(pappl_job_t* job, const JobSteps& steps);
// On the client's thread: prints a streamed job once the printer's turn is free.
void RunStreamedJob(pappl_job_t* job, pappl_client_t* client, const JobSteps& steps);
// As PAPPL looks for the next job: a job that has ended gives its turn back first.
void BeforeJobCheck(pappl_printer_t* printer);
// The oldest of the printer's jobs that are spooled and waiting, or null.
pappl_job_t* OldestWaitingJob(pappl_printer_t* printer);
