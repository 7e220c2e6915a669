// The image log's helper shared by the pipeline steps.
#pragma once

#include "pipeline/VKCtrl_Print.h"

// Encode image as BMP and, when that works, set the controller's dump tag,
// log the page line and write the bytes with write_tests under number.
void DumpImageBmp(CVKCtrl_Print& ctl, CxImage& image, const char* tag, int number);
