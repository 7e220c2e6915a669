// vkr-printer-app: the card printer's IPP Everywhere Printer Application.
// The driver (driver.cpp), the raster job callbacks (raster_job.cpp) and the
// printer's status, identify and self-test actions (status.cpp).
#pragma once

#include <pappl/pappl.h>

// The driver's name and description.
#define VKR_DRIVER_NAME "vk4400"
#define VKR_DRIVER_DESCRIPTION "Generic VK4400 Card Printer"
// The IEEE 1284 device ID the printer reports over USB; a printer whose ID
// names this manufacturer and model gets the driver when added as "auto".
#define VKR_DEVICE_ID "MFG:Generic;MDL:VK4400;CMD:VKR;"

// The one card size: 643 x 1013 pixels at 300 dpi, borderless.
#define VKR_CARD_MEDIA "om_card_54.45x85.8mm"

// Fills the driver data and attributes of a vk4400 printer.
bool CardDriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                        const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs,
                        void* cbdata);

// Raster job callbacks: start job, start page, write line, end page, end job.
bool CardStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool CardStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page);
bool CardWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned y, const unsigned char* line);
bool CardEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                 unsigned page);
bool CardEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// Ends a job whose document is none of the formats the printer takes: the
// printer has no raw format, so nothing goes to it.
bool CardRefuseDocument(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// The printer's state and ribbon as the background queries last found them.
bool CardStatus(pappl_printer_t* printer);
// Starts a background status query of every printer that is due one and
// that nothing else talks to (status.cpp).
void PollPrinterStatus(pappl_system_t* system);
// How many background status queries are under way.
int StatusQueriesRunning();
// As a printer is deleted: starts no more status, identify or self-test
// conversations with it, and waits for those under way to end (each ends
// within its few bounded commands).
void EndPrinterConversations(pappl_printer_t* printer);
// Beeps the printer.
void CardIdentify(pappl_printer_t* printer, pappl_identify_actions_t actions, const char* message);
// Asks the printer for its self-test card.
const char* CardTestPage(pappl_printer_t* printer, char* buffer, size_t bufsize);
