// The server's bounds, set once from its options at start-up (main.cpp).
#pragma once

struct AppSettings {
  // Seconds a printer may go on reporting that it is printing after a job's
  // last card before the job fails (-o completion-timeout).
  int completionTimeout = 120;
  // Seconds a job's document may stop arriving before the job fails
  // (-o document-timeout).
  int documentTimeout = 60;
  // Seconds between two status queries of an idle printer.
  int statusInterval = 10;
};

AppSettings& Settings();
