// The vk4400 driver: what the card printer takes (one borderless card size at
// 300 dpi, 8-bit sRGB, one- or two-sided cards, colour or black-only) and the
// card options as vendor attributes.
#include <cstring>

#include "app/card_options.h"
#include "app/server_config.h"
#include "app/vk4400_app.h"

namespace {

// The card size in hundredths of millimetres: 643 x 1013 pixels at 300 dpi
// once truncated (643.1 x 1013.4).
const int kCardWidth = 5445;
const int kCardLength = 8580;

// Fills one media entry with the card, borderless, in the printer's one tray.
void cardMedia(pappl_media_col_t& media) {
  memset(&media, 0, sizeof(media));
  strncpy(media.size_name, VKR_CARD_MEDIA, sizeof(media.size_name) - 1);
  strncpy(media.source, "main", sizeof(media.source) - 1);
  strncpy(media.type, "cardstock", sizeof(media.type) - 1);
  media.size_width = kCardWidth;
  media.size_length = kCardLength;
}

}  // namespace

bool CardDriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri, const char*,
                        pappl_pr_driver_data_t* data, ipp_t** attrs, void*) {
  if (strcmp(driver_name, VKR_DRIVER_NAME) != 0) return false;
  // A printer that writes into a file of the server's choosing is refused,
  // whether added or loaded from the state.
  if (!DeviceUriAllowed(system, device_uri)) return false;

  data->rstartjob_cb = CardStartJob;
  data->rstartpage_cb = CardStartPage;
  data->rwriteline_cb = CardWriteLine;
  data->rendpage_cb = CardEndPage;
  data->rendjob_cb = CardEndJob;
  // PAPPL hands a driver's own format, and a document it cannot type, to the
  // file callback (and fails without one); the card printer's command
  // stream is named here but never taken from a client.
  data->printfile_cb = CardRefuseDocument;
  data->format = "application/vnd.vkr-card";
  data->status_cb = CardStatus;
  data->identify_cb = CardIdentify;
  data->testpage_cb = CardTestPage;

  strncpy(data->make_and_model, VKR_DRIVER_DESCRIPTION, sizeof(data->make_and_model) - 1);
  data->ppm = 2;
  data->ppm_color = 2;
  data->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_PHOTO;
  data->has_supplies = true;
  // A card takes each picture the way it fits: PAPPL turns a landscape
  // picture onto the portrait card instead of cropping it.
  data->orient_default = IPP_ORIENT_NONE;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->scaling_default = PAPPL_SCALING_AUTO;

  // Colour on the colour panels, or monochrome on the black panel only; the
  // raster is always 8-bit sRGB.
  data->color_supported = PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = PAPPL_COLOR_MODE_COLOR;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SRGB_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_SRGB_8;

  // Pages pair into cards: the front, then the back as it comes.
  data->duplex = PAPPL_DUPLEX_NORMAL;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;

  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = 300;
  data->x_default = data->y_default = 300;

  // Borderless cards. The printer also lists a margin of 0.01 mm (no pixel
  // at 300 dpi): CUPS makes a driverless queue's default page size from the
  // bordered variant of a size, and with none it falls back to Letter.
  data->borderless = true;
  data->left_right = 1;
  data->bottom_top = 1;
  data->num_media = 1;
  data->media[0] = VKR_CARD_MEDIA;
  data->num_source = 1;
  data->source[0] = "main";
  // The card's kind is its media type, which driverless CUPS queues pass on.
  const char* const* kinds = CardMediaTypes(&data->num_type);
  for (int i = 0; i < data->num_type; ++i) data->type[i] = kinds[i];
  cardMedia(data->media_ready[0]);
  data->media_default = data->media_ready[0];

  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_SOUND;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_SOUND;

  int count = 0;
  const CardOptionSpec* specs = CardOptionSpecs(&count);
  data->num_vendor = count;
  for (int i = 0; i < count; ++i) data->vendor[i] = specs[i].ippName;
  *attrs = ippNew();
  AddCardOptionAttributes(*attrs);
  // IPP Everywhere attributes PAPPL leaves to the driver: the card pipeline
  // does its own colour work ("auto" intent), and the printer prefers no
  // attributes of its own.
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr, "auto");
  ippAddBoolean(*attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  return true;
}
