// vkr-card-worker: one printer conversation of the Printer Application in a
// process of its own (app/card_worker.h), started by the server; it links
// the filter's job flow and nothing of the server's.
#include "app/card_worker.h"

int main(int argc, char* argv[]) { return RunCardWorker(argc - 1, argv + 1); }
