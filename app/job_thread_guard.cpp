// PAPPL 1.3 starts a thread per job with `_papplJobProcess`, prints a
// streamed raster job with `_papplJobProcessRaster` and looks for the next
// job with `_papplPrinterCheckJobs`, each called through the dynamic linker.
// The program's own definitions come first in its lookup: they keep one job
// at a time per printer, in submission order, and hand on to PAPPL's.
#include "app/job_order.h"
#include "app/next_definition.h"

extern "C" {
void* _papplJobProcess(pappl_job_t* job);
void _papplJobProcessRaster(pappl_job_t* job, pappl_client_t* client);
void _papplPrinterCheckJobs(pappl_printer_t* printer);
}

namespace {

void processSpooled(pappl_job_t* job) {
  static const auto real = NextDefinition(_papplJobProcess, "_papplJobProcess");
  real(job);
}

void processStreamed(pappl_job_t* job, pappl_client_t* client) {
  static const auto real = NextDefinition(_papplJobProcessRaster, "_papplJobProcessRaster");
  real(job, client);
}

void checkJobs(pappl_printer_t* printer) {
  static const auto real = NextDefinition(_papplPrinterCheckJobs, "_papplPrinterCheckJobs");
  BeforeJobCheck(printer);
  real(printer);
}

const JobSteps kSteps{processSpooled, processStreamed, checkJobs};

}  // namespace

void* _papplJobProcess(pappl_job_t* job) {
  RunOldestJob(job, kSteps);
  return nullptr;
}

void _papplJobProcessRaster(pappl_job_t* job, pappl_client_t* client) {
  RunStreamedJob(job, client, kSteps);
}

void _papplPrinterCheckJobs(pappl_printer_t* printer) { checkJobs(printer); }
