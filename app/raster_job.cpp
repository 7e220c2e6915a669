// The raster job callbacks of the vk4400 driver. A job's card work runs in a
// card worker process of its own (conversation.h): the start of the job
// starts the worker, which runs the filter's preflight at once; each page
// PAPPL hands over is written to the worker as CUPS raster, and the worker
// turns it into a card side as the filter does; the end of the job closes
// the document and waits for the worker, which sends the last card and waits
// until the printer has finished it. Everything the job builds lives and
// dies with its worker, and the job holds only its own printer.
//
// A page's last line is kept back until the page is known to be whole (the
// next page begins, or the job ends without PAPPL finding the document cut
// short): a page that arrives with fewer lines than its header promises
// reaches the worker cut, and the worker refuses it before anything of it
// is sent.
#include <pappl/pappl.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "app/card_job.h"
#include "app/card_options.h"
#include "app/halftone.h"
#include "app/printer_claim.h"
#include "app/raster_headers.h"
#include "app/server_life.h"
#include "app/vk4400_app.h"
#include "app/worker_link.h"

namespace {

CardJob* cardJob(pappl_job_t* job) { return static_cast<CardJob*>(papplJobGetData(job)); }

// What the raster writer gives is collected and goes to the worker's pages
// pipe a block at a time, not a line at a time.
const size_t kPagesBlock = 64 * 1024;

ssize_t writePages(void* context, unsigned char* bytes, size_t count) {
  CardJob* cj = static_cast<CardJob*>(context);
  cj->pending.insert(cj->pending.end(), bytes, bytes + count);
  if (cj->pending.size() >= kPagesBlock && !FlushPages(*cj)) return -1;
  return ssize_t(count);
}

// Sends the kept-back last line of the page in hand.
bool sendHeldLine(CardJob* cj) {
  if (!cj->holding) return true;
  cj->holding = false;
  return cupsRasterWritePixels(cj->raster, cj->held.data(), unsigned(cj->held.size())) ==
         cj->held.size();
}

// Ends the job and forgets it; returns what the callback returns.
bool endJob(pappl_job_t* job) {
  CardJob* cj = cardJob(job);
  if (cj == nullptr) return false;
  const bool printed = FinishCardJob(*cj);
  delete cj;
  papplJobSetData(job, nullptr);
  ReleasePrinterFromJob(papplJobGetPrinter(job));
  return printed;
}

}  // namespace

bool CardStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  ClaimPrinterForJob(papplJobGetPrinter(job));
  auto* cj = new CardJob(job, device);
  papplJobSetData(job, cj);
  cj->twoSided = options->sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE;
  const std::string cardOptions = CardOptionTextForJob(
      options->num_vendor, options->vendor, options->print_color_mode,
      papplPrinterGetDriverAttributes(papplJobGetPrinter(job)), options->media.type);
  if (!StartCardJob(*cj, cardOptions)) return endJob(job);
  SaveServerState(papplPrinterGetSystem(papplJobGetPrinter(job)));
  cj->raster = cupsRasterOpenIO(writePages, cj, CUPS_RASTER_WRITE);
  if (cj->raster == nullptr) return endJob(job);
  return true;
}

bool CardStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  CardJob* cj = cardJob(job);
  if (cj == nullptr) return false;
  DocumentActivity(*cj, true);
  // The page before this one came whole.
  if (!sendHeldLine(cj) || !FlushPages(*cj)) return endJob(job);
  ++cj->page;
  // PAPPL hands over the page's raster lines and nothing around them, while
  // a PWG raster document's page size is in whole points (a pixel or two
  // short of its lines): the page is the raster, half a pixel added so that
  // the filter's truncation lands on it.
  cups_page_header2_t header = options->header;
  // A streamed page of 1 or 16 bits a colour goes to the worker as it is
  // (raster_guard.cpp); PAPPL hands over its lines unchanged.
  cups_page_header2_t streamed;
  if (TakeStreamedHeader(&streamed) &&
      (streamed.cupsBitsPerColor == 16 || streamed.cupsBitsPerPixel < 8))
    header = streamed;
  for (int i = 0; i < 2; ++i) {
    const unsigned pixels = i == 0 ? header.cupsWidth : header.cupsHeight;
    if (header.HWResolution[i] > 0) {
      header.cupsPageSize[i] = float((double(pixels) + 0.5) * 72.0 / header.HWResolution[i]);
      header.PageSize[i] = unsigned(header.cupsPageSize[i]);
    }
    header.cupsImagingBBox[i] = 0;
    header.cupsImagingBBox[i + 2] = header.cupsPageSize[i];
    header.ImagingBoundingBox[i] = 0;
    header.ImagingBoundingBox[i + 2] = header.PageSize[i];
    header.Margins[i] = 0;
  }
  // Fronts and backs pair as the job's sides say.
  header.Duplex = cj->twoSided ? CUPS_TRUE : CUPS_FALSE;
  if (!cupsRasterWriteHeader2(cj->raster, &header)) return endJob(job);
  cj->header = header;
  cj->held.assign(header.cupsBytesPerLine, 0);
  cj->lines = header.cupsHeight;
  papplJobSetMessage(job, "Preparing card side %u", cj->page);
  DocumentActivity(*cj, false);
  return true;
}

bool CardWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned y,
                   const unsigned char* line) {
  CardJob* cj = cardJob(job);
  if (cj == nullptr) return false;
  if (y >= cj->lines || cj->held.empty()) return true;
  DocumentActivity(*cj, true);
  if (!sendHeldLine(cj)) return endJob(job);
  memcpy(cj->held.data(), line, cj->held.size());
  // Monochrome: each line becomes black dots for the black ribbon
  // (app/halftone.h) before it goes to the worker.
  if (options->print_color_mode == PAPPL_COLOR_MODE_MONOCHROME) HalftoneRasterLine(cj->header, cj->held.data(), y);
  cj->holding = true;
  DocumentActivity(*cj, false);
  return true;
}

bool CardEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  CardJob* cj = cardJob(job);
  if (cj == nullptr) return false;
  DocumentActivity(*cj, false);
  return true;
}

bool CardEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  CardJob* cj = cardJob(job);
  if (cj == nullptr) return false;
  // PAPPL marks the job aborted when the document ended inside a page: that
  // page's last line never goes out, so the worker refuses the page. A page
  // PAPPL refused itself (a depth it does not read) never reached the
  // worker, which stops before it sends anything more.
  const bool aborted = papplJobGetState(job) == IPP_JSTATE_ABORTED;
  if (!aborted && !papplJobIsCanceled(job)) sendHeldLine(cj);
  FlushPages(*cj);
  if (aborted && (papplJobGetReasons(job) & (PAPPL_JREASON_DOCUMENT_FORMAT_ERROR |
                                             PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR)))
    RefuseCardJob(*cj, "Unsupported raster data.");
  return endJob(job);
}

bool CardRefuseDocument(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  papplJobSetMessage(job, "Unsupported document format \"%s\".", papplJobGetFormat(job));
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unsupported document format \"%s\".", papplJobGetFormat(job));
  return false;
}
