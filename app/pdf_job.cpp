// A PDF document printed by the app itself: poppler renders each page, the
// page is turned and scaled onto the card (app/pdf_layout.h) and its lines go
// to the driver's raster callbacks, one card side per page.
#include "app/pdf_job.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include "app/pdf_layout.h"
#include "app/pdftopdf_page.h"

namespace {

// Ends the job over a document that cannot be printed; nothing was sent.
bool refuseDocument(pappl_job_t* job, const char* message) {
  papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
  papplJobSetMessage(job, "%s", message);
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  return false;
}

// The page rendered at the place's resolution, as 32-bit ARGB words.
poppler::image renderPage(const poppler::page& page, const PageOnCard& place) {
  poppler::page_renderer renderer;
  renderer.set_image_format(poppler::image::format_argb32);
  renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
  renderer.set_paper_color(0xffffffff);
  return renderer.render_page(&page, place.dpi, place.dpi);
}

// The part of a rendered page that goes on the card: all of it, or the
// original page that pdftopdf laid onto it.
struct PagePicture {
  poppler::image image;
  int left = 0, top = 0, width = 0, height = 0;
};

// Fills one card line (sRGB or grey, 8 bits) from the turned picture; white
// where the picture does not reach.
void cardLine(const PagePicture& picture, const PageOnCard& place, int y,
              const cups_page_header2_t& header, unsigned char* line) {
  const int width = picture.width, height = picture.height;
  const int turnedWidth = place.turns % 2 ? height : width;
  const int turnedHeight = place.turns % 2 ? width : height;
  const unsigned channels = header.cupsBitsPerPixel / 8;
  memset(line, 0xff, header.cupsBytesPerLine);
  const int v = y - place.top;
  if (v < 0 || v >= turnedHeight) return;
  const char* data = picture.image.const_data();
  const size_t stride = size_t(picture.image.bytes_per_row());
  for (int x = 0; x < int(header.cupsWidth); ++x) {
    const int u = x - place.left;
    if (u < 0 || u >= turnedWidth) continue;
    int sx = 0, sy = 0;
    TurnedSource(place.turns, width, height, u, v, &sx, &sy);
    uint32_t argb;
    memcpy(&argb, data + size_t(picture.top + sy) * stride + size_t(picture.left + sx) * 4, 4);
    const unsigned char r = (argb >> 16) & 0xff, g = (argb >> 8) & 0xff, b = argb & 0xff;
    unsigned char* out = line + size_t(x) * channels;
    if (channels == 3) {
      out[0] = r, out[1] = g, out[2] = b;
    } else {
      out[0] = (unsigned char)((r * 54 + g * 183 + b * 19) / 256);
    }
  }
}

// Renders a page and places it on the card: the original page where
// pdftopdf laid one onto it (turned back and cut out), else the whole page.
bool renderOnCard(const poppler::page& page, const LaidOutPage* laid,
                  const pappl_pr_options_t* options, PagePicture* picture, PageOnCard* place) {
  const cups_page_header2_t& header = options->header;
  const poppler::rectf box = page.page_rect();
  const bool sideways = page.orientation() == poppler::page::landscape ||
                        page.orientation() == poppler::page::seascape;
  const double boxWidth = sideways ? box.height() : box.width();
  const double boxHeight = sideways ? box.width() : box.height();
  double width = boxWidth, height = boxHeight;
  if (laid != nullptr) {
    width = laid->right - laid->left, height = laid->top - laid->bottom;
    if (laid->undoTurns % 2) std::swap(width, height);
  }
  *place = PlacePageOnCard(width, height, int(header.cupsWidth), int(header.cupsHeight),
                           int(header.HWResolution[0]), options->orientation_requested,
                           options->print_scaling);
  picture->image = renderPage(page, *place);
  if (!picture->image.is_valid()) return false;
  picture->left = picture->top = 0;
  picture->width = picture->image.width();
  picture->height = picture->image.height();
  if (laid != nullptr) {
    // The original's rectangle in rendered pixels, inside the rendering.
    const double scale = place->dpi / 72;
    const int x0 = std::max(0, int(std::lround(laid->left * scale)));
    const int y0 = std::max(0, int(std::lround((boxHeight - laid->top) * scale)));
    const int x1 = std::min(picture->width, int(std::lround(laid->right * scale)));
    const int y1 = std::min(picture->height, int(std::lround((boxHeight - laid->bottom) * scale)));
    if (x1 - x0 < 1 || y1 - y0 < 1) return false;
    picture->left = x0, picture->top = y0, picture->width = x1 - x0, picture->height = y1 - y0;
    place->turns = (place->turns + laid->undoTurns) % 4;
  }
  CentrePicture(*place, place->turns % 2 ? picture->height : picture->width,
                place->turns % 2 ? picture->width : picture->height, int(header.cupsWidth),
                int(header.cupsHeight));
  return true;
}

// Sends one card page through the raster callbacks.
bool printPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
               const pappl_pr_driver_data_t& driver, const poppler::page& page,
               const LaidOutPage* laid, unsigned number, std::vector<unsigned char>& line) {
  PagePicture picture;
  PageOnCard place;
  if (!renderOnCard(page, laid, options, &picture, &place)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u of the PDF document could not be rendered.", number);
    return false;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG,
              "PDF page %u: %dx%d at %.1f dpi%s, %d quarter turn(s), at %d,%d", number, picture.width,
              picture.height, place.dpi, laid ? " (laid out by pdftopdf)" : "", place.turns,
              place.left, place.top);
  if (!driver.rstartpage_cb(job, options, device, number)) return false;
  for (unsigned y = 0; y < options->header.cupsHeight; ++y) {
    if (papplJobIsCanceled(job)) break;
    cardLine(picture, place, int(y), options->header, line.data());
    if (!driver.rwriteline_cb(job, options, device, y, line.data())) return false;
  }
  return driver.rendpage_cb(job, options, device, number);
}

// The document's bytes, for finding pdftopdf's layout; empty when unreadable.
std::string fileBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

bool CardPrintPdf(pappl_job_t* job, pappl_device_t* device, void*) {
  const std::string bytes = fileBytes(papplJobGetFilename(job));
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(bytes.data(), int(bytes.size())));
  if (!doc || doc->is_locked() || doc->pages() < 1)
    return refuseDocument(job, "The PDF document could not be read.");

  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, unsigned(doc->pages()), true);
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &driver);
  const cups_page_header2_t& header = options->header;
  // The card page is 8-bit sRGB or grey; PAPPL's options say which.
  if (header.cupsBitsPerColor != 8 || (header.cupsBitsPerPixel != 24 && header.cupsBitsPerPixel != 8)) {
    papplJobDeletePrintOptions(options);
    return refuseDocument(job, "Unsupported raster data.");
  }
  const int pages = doc->pages();
  const int first = options->first_page > 0 ? int(options->first_page) : 1;
  const int last = options->last_page > 0 && int(options->last_page) < pages ? int(options->last_page) : pages;
  papplJobSetImpressions(job, options->copies * (last - first + 1));

  // A driverless CUPS queue has laid the pages out on the card already.
  const bool fromPdftopdf = WrittenByPdftopdf(bytes);
  std::vector<unsigned char> line(header.cupsBytesPerLine);
  bool ok = driver.rstartjob_cb(job, options, device);
  if (ok) {
    unsigned number = 0;
    for (int copy = 0; ok && copy < options->copies; ++copy) {
      for (int index = first; ok && index <= last && !papplJobIsCanceled(job); ++index) {
        std::unique_ptr<poppler::page> page(doc->create_page(index - 1));
        if (!page) {
          ok = false;
          break;
        }
        const poppler::rectf box = page->page_rect();
        LaidOutPage laid;
        const bool wasLaidOut =
            fromPdftopdf && FindLaidOutPage(bytes, index - 1, box.width(), box.height(), &laid);
        ok = printPage(job, options, device, driver, *page, wasLaidOut ? &laid : nullptr, ++number, line);
        if (ok) papplJobSetImpressionsCompleted(job, 1);
      }
    }
    // The end job callback ends the job's hold on the printer, also after a failure.
    ok = driver.rendjob_cb(job, options, device) && ok;
  }
  papplJobDeletePrintOptions(options);
  return ok;
}
