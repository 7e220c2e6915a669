// The submit sub-command (PAPPL's) takes a job as printed whenever the
// server's answer names a job, and the server names the job it aborted
// when it refuses a document (busy printing another streamed document, a
// printer not accepting jobs). This program's own stand-in for libcups's
// request function strips the job from a refusal, so that submit says the
// server's message and exits 1. The server itself sends no such requests.
#include <cups/cups.h>

#include "app/next_definition.h"

extern "C" ipp_t* cupsDoFileRequest(http_t* http, ipp_t* request, const char* resource,
                                    const char* filename) {
  static const auto cups = NextDefinition(cupsDoFileRequest, "cupsDoFileRequest");
  if (cups == nullptr) return nullptr;
  ipp_t* response = cups(http, request, resource, filename);
  if (response != nullptr && ippGetOperation(request) == IPP_OP_PRINT_JOB &&
      ippGetStatusCode(response) >= IPP_STATUS_ERROR_BAD_REQUEST) {
    if (ipp_attribute_t* job = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER))
      ippDeleteAttribute(response, job);
  }
  return response;
}
