// The printer's job history page.
#include "app/job_history.h"

#include <cstdint>
#include <vector>

namespace {

const char* stateText(ipp_jstate_t state) {
  switch (state) {
    case IPP_JSTATE_PENDING: return "Waiting";
    case IPP_JSTATE_HELD: return "Held";
    case IPP_JSTATE_PROCESSING: return "Printing";
    case IPP_JSTATE_STOPPED: return "Stopped";
    case IPP_JSTATE_CANCELED: return "Canceled";
    case IPP_JSTATE_ABORTED: return "Failed";
    case IPP_JSTATE_COMPLETED: return "Printed";
  }
  return "";
}

// One row: the job, its state and its job-state-message (every text
// escaped by PAPPL's HTML printf).
void jobRow(pappl_job_t* job, void* data) {
  auto* client = static_cast<pappl_client_t*>(data);
  const char* message = papplJobGetMessage(job);
  papplClientHTMLPrintf(client, "<tr><td>%d</td><td>%s</td><td>%s</td><td>%s</td><td>%s</td></tr>\n",
                        papplJobGetID(job), papplJobGetName(job) ? papplJobGetName(job) : "",
                        papplJobGetUsername(job) ? papplJobGetUsername(job) : "",
                        stateText(papplJobGetState(job)), message ? message : "");
}

// The page; the printer is found by its id at each request, so a deleted
// printer's page answers "not found".
bool historyPage(pappl_client_t* client, void* data) {
  const int id = int(reinterpret_cast<intptr_t>(data));
  pappl_printer_t* printer = papplSystemFindPrinter(papplClientGetSystem(client), nullptr, id, nullptr);
  if (printer == nullptr) return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  // The header answers the request (200, HTML) itself.
  papplClientHTMLPrinterHeader(client, printer, "Jobs and why they ended", 10, nullptr, nullptr);
  papplClientHTMLPuts(client,
                      "<div class=\"row\"><div class=\"col-12\"><table class=\"list\" summary=\"Jobs\">"
                      "<thead><tr><th>Job</th><th>Name</th><th>User</th><th>State</th><th>Why</th></tr>"
                      "</thead><tbody>\n");
  papplPrinterIterateAllJobs(printer, jobRow, client, 1, 0);
  papplClientHTMLPuts(client, "</tbody></table></div></div>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

void collectPrinter(pappl_printer_t* printer, void* data) {
  static_cast<std::vector<pappl_printer_t*>*>(data)->push_back(printer);
}

}  // namespace

void AddJobHistoryPage(pappl_printer_t* printer) {
  char path[256];
  papplPrinterGetPath(printer, "history", path, sizeof(path));
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", historyPage,
                                 reinterpret_cast<void*>(intptr_t(papplPrinterGetID(printer))));
  papplPrinterAddLink(printer, "Jobs and why they ended", path,
                      pappl_loptions_t(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_JOB));
}

// The printers are gathered first: adding a page locks the system, which
// the iteration holds.
void AddJobHistoryPages(pappl_system_t* system) {
  std::vector<pappl_printer_t*> printers;
  papplSystemIteratePrinters(system, collectPrinter, &printers);
  for (pappl_printer_t* printer : printers) AddJobHistoryPage(printer);
}
