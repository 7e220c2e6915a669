// The printer takes PDF itself: each page is rendered onto the card and
// handed to the driver's raster callbacks, as PAPPL hands JPEG and PNG
// pictures over.
#pragma once

#include <pappl/pappl.h>

// The document format the app renders itself.
#define VKR_PDF_FORMAT "application/pdf"

// PAPPL's filter callback for a PDF document (papplSystemAddMIMEFilter):
// renders every page at the card's resolution, turned and scaled onto the
// card, through the driver's start job, start page, write line, end page and
// end job callbacks. A document that cannot be read ends the job.
bool CardPrintPdf(pappl_job_t* job, pappl_device_t* device, void* data);
