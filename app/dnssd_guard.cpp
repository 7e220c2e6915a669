// PAPPL's DNS-SD printer search (the Add Printer page, `devices`) hands
// Avahi's browser a null client when no Avahi daemon runs on the machine, and
// Avahi answers that with an assertion that ends the process. The search
// gets "no browser" instead, which PAPPL reports as a failed search, and the
// printers on sockets and USB are still listed. The program's own definition
// of the function comes first in the dynamic linker's lookup; it hands every
// real client on to Avahi's.
#include "app/next_definition.h"

extern "C" void* avahi_service_browser_new(void* client, int interface, int protocol,
                                           const char* type, const char* domain, int flags,
                                           void* callback, void* userdata) {
  if (client == nullptr) return nullptr;
  static const auto avahi = NextDefinition(avahi_service_browser_new, "avahi_service_browser_new");
  return avahi ? avahi(client, interface, protocol, type, domain, flags, callback, userdata) : nullptr;
}
