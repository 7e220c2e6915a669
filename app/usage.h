// The --help text: the sub-commands, the server's options and the card
// options a job or the printer's defaults take.
#pragma once

// Prints the help to standard output (papplMainloop's usage callback).
void PrintCardUsage(void* data);

// The job options a card takes, one a line with their values (after
// "Job options:" in --help, and after PAPPL's list in `options`).
void PrintCardJobOptions();
