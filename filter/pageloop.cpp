// The raster page loop. Not written yet: the job ends after its raster
// streams are open.
#include "filter/filter.h"

// Turns every raster page into card sides and sends them to the printer.
int PageLoop(FilterJob&) { return kGoOn; }
