// The --help text, with the card options listed from their own table so that
// it cannot fall behind them.
#include "app/usage.h"

#include <cstdio>

#include "app/card_options.h"

void PrintCardUsage(void*) {
  puts("Usage: vkr-printer-app SUB-COMMAND [OPTIONS] [FILENAME]\n"
       "       vkr-printer-app [OPTIONS] FILENAME   (submit to the default printer)\n"
       "\n"
       "Sub-commands:\n"
       "  server           Run the server (the other sub-commands talk to it).\n"
       "  add PRINTER      Add a printer: -v DEVICE-URI -m vk4400.\n"
       "  autoadd          Add the card printers found on USB.\n"
       "  modify, delete, default, printers, devices, drivers, options\n"
       "                   Change, remove, choose or list printers, devices and drivers.\n"
       "  submit           Print a file (PDF, PNG, JPEG, PWG raster, Apple raster).\n"
       "  jobs, cancel, status, pause, resume, shutdown\n"
       "                   List or cancel jobs, show the state, stop or go on.\n"
       "\n"
       "Options:\n"
       "  -d PRINTER       The printer (add, modify, submit, jobs, cancel, ...).\n"
       "  -v DEVICE-URI    socket://HOST:PORT or usb://... (add, modify).\n"
       "  -m DRIVER-NAME   vk4400 (add, modify).\n"
       "  -j JOB-ID, -a    One job, or all (cancel).\n"
       "  -n COPIES        Copies (submit).\n"
       "  -u URI           An ipp: or ipps: printer or server.\n"
       "  -o NAME=VALUE    An option (server, add, modify, submit), below.\n"
       "\n"
       "Server options (-o):\n"
       "  server-port=PORT         Listen on localhost at PORT (8000).\n"
       "  spool-directory=DIR      Where jobs' documents wait (made 0700 when missing).\n"
       "  state-file=FILE          The printers and their settings (kept across restarts).\n"
       "  log-file=FILE            The log (- for standard error).\n"
       "  log-level=LEVEL          debug, info, warn (the default) or error.\n"
       "  completion-timeout=SECONDS  How long the printer may take over the last card (120).\n"
       "  document-timeout=SECONDS    How long a job's document may stop arriving (60).\n"
       "  status-interval=SECONDS     Between two status queries of an idle printer (10).\n"
       "  listen-hostname=*|ADDRESS   Serve the network too, with TLS (default: localhost only).\n"
       "  tls-directory=DIR           The administrator's HOST.crt and HOST.key.\n"
       "  admin-group=GROUP           Who administers besides root (lpadmin).\n"
       "  auth-service=NAME           The PAM service for administrators' passwords.\n"
       "  allow-file-devices=true     Take file: device URIs (for tests only).\n");
  puts("Job options (-o, submit; also the printer's defaults with modify):");
  PrintCardJobOptions();
}

void PrintCardJobOptions() {
  puts("  sides=one-sided|two-sided-long-edge   Page 1 the front, page 2 the back.\n"
       "  print-color-mode=color|monochrome     Monochrome prints black dots on the black panel.\n"
       "  orientation-requested=3|4|5|6         Portrait, landscape, reverse landscape, reverse portrait.\n"
       "  print-scaling=auto|fill|fit|none      auto fills the card with a card-sized design.");
  int count = 0;
  const char* const* kinds = CardMediaTypes(&count);
  printf("  media-type=");
  for (int i = 0; i < count; ++i) printf("%s%s", i ? "|" : "", kinds[i]);
  puts("\n                                        The card's kind: the overlay it needs.");
  const CardOptionSpec* specs = CardOptionSpecs(&count);
  for (int i = 0; i < count; ++i) {
    const CardOptionSpec& spec = specs[i];
    printf("  %s=", spec.ippName);
    if (spec.choices != nullptr) {
      for (int c = 0; c < spec.numChoices; ++c) printf("%s%s", c ? "|" : "", spec.choices[c][0]);
    } else {
      printf("%d-%d", spec.lower, spec.upper);
    }
    printf("   (default %s)\n", spec.defaultValue);
  }
}
