// The card worker's entry (worker_process.h): one printer conversation in a
// process of its own, with the filter's own steps.
#pragma once

// Runs the worker: argv[0] is the mode, then its arguments.
//   job JOB USER TITLE OPTIONS  the card job: preflight, the card options
//                               (PPD-named, as the filter takes them), the
//                               pages from standard input, the completion wait
//   status                      the printer's job status and ribbon
//   identify                    the printer's buzzer
//   selftest                    the printer's self-test card
// Returns the exit status: 0 when the conversation succeeded.
int RunCardWorker(int argc, char** argv);
