// The card options as IPP vendor attributes ("card-ribbon",
// "card-brightness", ...): their supported values and defaults, which are
// the PPD's, and their translation into the option list that the filter's
// card options read (CardRibbon=K, CardBrightness=45, ...).
#pragma once

#include <string>

#include <cups/cups.h>
#include <pappl/pappl.h>

// One card option: its IPP name, the PPD option behind it, and either a
// keyword list (IPP keyword and PPD choice side by side) or an integer range.
struct CardOptionSpec {
  const char* ippName;
  const char* ppdName;
  const char* const (*choices)[2];  // null for an integer option
  int numChoices;
  int lower, upper;                 // integer options
  const char* defaultValue;         // as the PPD's default, in IPP form
};

// Every card option, in the order the printer's settings page shows them.
const CardOptionSpec* CardOptionSpecs(int* count);

// Adds the -supported and -default attributes of every card option to attrs.
void AddCardOptionAttributes(ipp_t* attrs);

// The card kinds the printer lists as media types (media-type-supported),
// the plain card first. CUPS' driverless queues drop a job's vendor
// attributes but pass its media type on (the MediaType of the PPD they
// generate), so a print dialog or `lp -o media-type=...` chooses the card's
// kind there: each kind sets the overlay it needs.
const char* const* CardMediaTypes(int* count);

// Turns a job's vendor options and colour mode into the PPD-named option
// list for ReadCardOptions; monochrome prints on the black panel only, as
// CardRibbon=K does. An option the job does not set takes the printer's
// default ("<name>-default" in printerAttrs, as the web page and
// Set-Printer-Attributes save it; printerAttrs may be null), then the
// built-in one. Values that are not supported are left out (the filter's
// default applies). Returns the count; free with cupsFreeOptions.
int CardOptionsForJob(int num_vendor, cups_option_t* vendor, pappl_color_mode_t colorMode,
                      ipp_t* printerAttrs, cups_option_t** options);

// Sets the overlays a card of the given media type needs over those in the
// option list (null, "" or a type that is no card kind: none): a stripe card
// leaves the front's stripe band uncoated, a chip card its chip window, a
// card without overlay both sides bare. Returns the new count.
int ApplyCardKind(const char* mediaType, int count, cups_option_t** options);

// The same options as the filter's option text ("CardRibbon=K CardGamma=93 ..."),
// for a card of the given media type.
std::string CardOptionTextForJob(int num_vendor, cups_option_t* vendor,
                                 pappl_color_mode_t colorMode, ipp_t* printerAttrs,
                                 const char* mediaType = nullptr);
