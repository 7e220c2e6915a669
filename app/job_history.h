// The printer's jobs with what became of them, on a web page of the
// printer's own: PAPPL's job list shows a failed job's state and time, not
// why it failed.
#pragma once

#include <pappl/pappl.h>

// Adds the page ("/NAME/history") and a link to it on the printer's page.
void AddJobHistoryPage(pappl_printer_t* printer);
// The same for every printer of the system (a state just loaded).
void AddJobHistoryPages(pappl_system_t* system);
