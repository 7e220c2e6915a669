// The raster job callbacks of the vk4400 driver. The job holds the printer
// from its start to its end: the filter's preflight runs at the start, every
// page is gathered line by line into its frame and handed over as a card
// side (fronts and backs paired in two-sided jobs), and the end sends a front
// that no back followed and waits until the printer has finished the card.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/card_options.h"
#include "app/printer_io.h"
#include "app/vk4400_app.h"
#include "filter/cardjob.h"

namespace {

// Largest page side the pipeline takes.
const unsigned kMaxPageSide = 16384;

// What one job keeps from its start to its end.
struct CardJob {
  std::unique_ptr<PrinterSession> session;
  FilterJob flow;
  bool twoSided = false;
  CardSides sides;
  int pages = 0;
  unsigned width = 0, height = 0, bytesPerLine = 0;
  bool gray = false;   // 8-bit grey lines, widened to RGB on the frame
  bool black = false;  // grey lines count black (0 is white)
  std::vector<uint8_t> page;
};

CardJob* cardJob(pappl_job_t* job) { return static_cast<CardJob*>(papplJobGetData(job)); }

// Ends the job's hold on the printer and forgets its state.
void finishJob(pappl_job_t* job) {
  delete cardJob(job);
  papplJobSetData(job, nullptr);
}

// Fails the job with a message the user sees as its job-state-message; the
// printer is released at once for the next job.
bool failJob(pappl_job_t* job, const std::string& message) {
  CardJob* cj = cardJob(job);
  std::string text = message;
  if (cj != nullptr && cj->session && cj->session->io().Lost())
    text += " The connection to the printer was lost.";
  papplJobSetMessage(job, "%s", text.c_str());
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", text.c_str());
  finishJob(job);
  return false;
}

// Says in words why a printer call failed.
std::string describeResult(int result) {
  if (result == -1) return "the printer did not answer";
  if (result == 9) return "the printer refused the command";
  if (result == 20) return "the card side could not be prepared";
  if (result == VK_ERR_REFUSED) return "the card side was refused before sending";
  return "printer error " + std::to_string(result);
}

}  // namespace

bool CardStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  auto* cj = new CardJob;
  papplJobSetData(job, cj);
  cj->session.reset(new PrinterSession(device, PrinterSession::Lock()));
  papplJobSetMessage(job, "Asking the printer for its status");
  if (RunPreflight(cj->flow) != kGoOn)
    return failJob(job, "The printer did not report its status, version or ribbon; the job was not printed.");

  cups_option_t* cardOptions = nullptr;
  const int count = CardOptionsForJob(options->num_vendor, options->vendor,
                                      options->print_color_mode, &cardOptions);
  cj->flow.option = ReadCardOptions(count, cardOptions, cj->flow.detectedRibbon);
  cupsFreeOptions(count, cardOptions);
  SetPOption(cj->flow.option);
  cj->twoSided = options->sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE;
  return true;
}

bool CardStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  CardJob* cj = cardJob(job);
  if (cj == nullptr) return false;
  const cups_page_header2_t& h = options->header;
  // PAPPL hands over 8-bit sRGB, or for monochrome 8-bit grey or black.
  const bool black = h.cupsColorSpace == CUPS_CSPACE_K;
  const bool gray = h.cupsBitsPerPixel == 8 && (h.cupsColorSpace == CUPS_CSPACE_SW ||
                                                h.cupsColorSpace == CUPS_CSPACE_W || black);
  if (h.cupsBitsPerColor != 8 || (h.cupsBitsPerPixel != 24 && !gray) || h.cupsWidth == 0 ||
      h.cupsHeight == 0 || h.cupsWidth > kMaxPageSide || h.cupsHeight > kMaxPageSide ||
      h.cupsBytesPerLine != h.cupsWidth * (gray ? 1 : 3))
    return failJob(job, "Unsupported raster data.");
  cj->width = h.cupsWidth;
  cj->height = h.cupsHeight;
  cj->gray = gray;
  cj->black = black;
  cj->bytesPerLine = h.cupsWidth * 3;
  cj->page.assign(size_t(cj->bytesPerLine) * cj->height, 255);
  ++cj->pages;
  papplJobSetMessage(job, "Preparing card side %d", cj->pages);
  return true;
}

bool CardWriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
                   const unsigned char* line) {
  CardJob* cj = cardJob(job);
  if (cj == nullptr) return false;
  if (y >= cj->height) return failJob(job, "Unsupported raster data.");
  uint8_t* to = cj->page.data() + size_t(y) * cj->bytesPerLine;
  if (!cj->gray) {
    memcpy(to, line, cj->bytesPerLine);
  } else {
    const uint8_t flip = cj->black ? 255 : 0;
    for (unsigned x = 0; x < cj->width; ++x)
      to[3 * x] = to[3 * x + 1] = to[3 * x + 2] = uint8_t(line[x] ^ flip);
  }
  return true;
}

bool CardEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  CardJob* cj = cardJob(job);
  if (cj == nullptr) return false;
  if (papplJobIsCanceled(job)) return true;
  CardPage card;
  card.pixels = cj->page.data();
  card.bytes = cj->page.size();
  card.width = cj->width;
  card.height = cj->height;
  card.duplexField = cj->twoSided ? 1 : 0;
  int result = 0;
  if (HandOverCardSide(cj->pages, card, cj->sides, &result) != kGoOn)
    return failJob(job, "The card was not printed: " + describeResult(result) + ".");
  return true;
}

bool CardEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  CardJob* cj = cardJob(job);
  if (cj == nullptr) return false;
  if (papplJobIsCanceled(job)) {
    // Stopped by the user, or by PAPPL over a page it could not read: no
    // further card goes out, and a kept front is dropped.
    if (papplJobGetReasons(job) & PAPPL_JREASON_DOCUMENT_FORMAT_ERROR)
      papplJobSetMessage(job, "Unsupported raster data.");
    finishJob(job);
    return true;
  }
  int result = 0;
  if (FinishCardSides(cj->sides, &result) != kGoOn)
    return failJob(job, "The last card front was not printed: " + describeResult(result) + ".");
  papplJobSetMessage(job, "Waiting for the printer to finish the card");
  if (CompletionWait(cj->flow) != 0)
    return failJob(job, "The printer stopped answering before it reported the end of the job.");
  papplJobSetMessage(job, "The printer has finished the card");
  finishJob(job);
  return true;
}

bool CardRefuseDocument(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  papplJobSetMessage(job, "Unsupported document format \"%s\".", papplJobGetFormat(job));
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unsupported document format \"%s\".", papplJobGetFormat(job));
  return false;
}
