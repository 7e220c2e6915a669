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
#include "filter/pageframe.h"

namespace {

// Whether PAPPL was asked to cancel the job (the filter steps' cancel check).
bool jobCanceledInPappl(void* job) { return papplJobIsCanceled(static_cast<pappl_job_t*>(job)); }

// What one job keeps from its start to its end.
struct CardJob {
  std::unique_ptr<PrinterSession> session;
  FilterJob flow;
  bool twoSided = false;
  CardSides sides;
  int pages = 0;
  PageFrame frame;             // the checked frame of the page in hand
  std::vector<uint8_t> line;   // one raster line as the frame reads it
  std::vector<uint8_t> page;   // the page frame handed to the printer
};

CardJob* cardJob(pappl_job_t* job) { return static_cast<CardJob*>(papplJobGetData(job)); }

// Ends the job's hold on the printer and forgets its state.
void finishJob(pappl_job_t* job) {
  CardJob* cj = cardJob(job);
  if (cj != nullptr && cj->session) SetCancelCheck(nullptr, nullptr);
  delete cj;
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
  if (result == VK_ERR_CARD_REFUSED) {
    const int answer = LastCardAnswer();
    return answer == VK_CARD_NAK ? "the printer refused the card (NAK)"
                                 : "the printer refused the card (error " + std::to_string(answer) + ")";
  }
  return "printer error " + std::to_string(result);
}

}  // namespace

bool CardStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  auto* cj = new CardJob;
  papplJobSetData(job, cj);
  cj->session.reset(new PrinterSession(device, PrinterSession::Lock()));
  // The filter's steps stop at their safe points when the job is cancelled.
  SetCancelCheck(jobCanceledInPappl, job);
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
  ++cj->pages;
  // The page header becomes the filter's checked page frame: a page the
  // pipeline cannot take is refused before anything of it is sent. PAPPL
  // hands over the page's raster lines and nothing around them, while a
  // PWG raster document's page size is in whole points (a pixel or two
  // short of its lines): the frame is the raster, half a pixel added so
  // that the frame's truncation lands on it.
  cups_page_header2_t header = options->header;
  for (int i = 0; i < 2; ++i) {
    const unsigned pixels = i == 0 ? header.cupsWidth : header.cupsHeight;
    if (header.HWResolution[i] > 0)
      header.cupsPageSize[i] = float((double(pixels) + 0.5) * 72.0 / header.HWResolution[i]);
    header.cupsImagingBBox[i] = 0;
    header.cupsImagingBBox[i + 2] = header.cupsPageSize[i];
  }
  const FrameCheck check = CheckPageFrame(header, cj->pages);
  if (check.fault != FrameFault::None) {
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "%s", check.reason);
    return failJob(job, "Unsupported raster data.");
  }
  cj->frame = check.frame;
  const PageFrame& f = cj->frame;
  // Margins first: every frame line white until its raster line comes.
  cj->line.assign(f.lineBytes, f.white);
  cj->page.resize(size_t(f.pageBytes));
  for (uint32_t y = 0; y < f.height; ++y)
    PlaceFrameLine(f, cj->line.data(), cj->page.data() + size_t(y) * f.pageLineBytes);
  papplJobSetMessage(job, "Preparing card side %d", cj->pages);
  return true;
}

bool CardWriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
                   const unsigned char* line) {
  CardJob* cj = cardJob(job);
  if (cj == nullptr) return false;
  const PageFrame& f = cj->frame;
  if (y >= f.rasterLines) return failJob(job, "Unsupported raster data.");
  memcpy(cj->line.data() + f.readOffset, line, f.rasterBytes);
  PlaceFrameLine(f, cj->line.data(), cj->page.data() + size_t(f.top + y) * f.pageLineBytes);
  return true;
}

bool CardEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  CardJob* cj = cardJob(job);
  if (cj == nullptr) return false;
  if (papplJobIsCanceled(job)) return true;
  CardPage card;
  card.pixels = cj->page.data();
  card.bytes = cj->page.size();
  card.width = cj->frame.width;
  card.height = cj->frame.height;
  card.cmyk = cj->frame.kind == PageKind::Cmyk;
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
  if (CompletionWait(cj->flow) != 0) {
    // Cancelled while the printer was still at work: the job simply ends.
    if (papplJobIsCanceled(job)) {
      finishJob(job);
      return true;
    }
    return failJob(job, "The printer stopped answering before it reported the end of the job.");
  }
  papplJobSetMessage(job, "The printer has finished the card");
  finishJob(job);
  return true;
}

bool CardRefuseDocument(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  papplJobSetMessage(job, "Unsupported document format \"%s\".", papplJobGetFormat(job));
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unsupported document format \"%s\".", papplJobGetFormat(job));
  return false;
}
