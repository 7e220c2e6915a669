// A printer's claim by its jobs. PAPPL 1.3 can start a streamed raster job
// while a spooled one of the same printer is already printing (its check
// for a busy printer and its start of the next job race), and it then
// hands both the same device, and lets a status query open a second one.
// A job claims its printer for as long as it talks to it: a second job
// waits for the first to end, and no status query or service command
// opens the device while a job has it.
#pragma once

#include <pappl/pappl.h>

// Waits until no other job of the printer has it, then claims it.
void ClaimPrinterForJob(pappl_printer_t* printer);
// Gives the printer back after a job.
void ReleasePrinterFromJob(pappl_printer_t* printer);
// Whether a job of ours has the printer now.
bool PrinterClaimedByJob(pappl_printer_t* printer);
