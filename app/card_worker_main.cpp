// vkr-card-worker: one printer conversation of the Printer Application in a
// process of its own (app/card_worker.h), started by the server; it links
// the filter's job flow and nothing of the server's.
#include <cstring>

#include "app/card_worker.h"
#include "app/worker_starter.h"

int main(int argc, char* argv[]) {
  // The server's worker starter: its socket is descriptor 3.
  if (argc == 2 && strcmp(argv[1], "starter") == 0) return RunWorkerStarter(3);
  return RunCardWorker(argc - 1, argv + 1);
}
