// The printer's names in words, for the web page and IPP clients (CUPS
// labels a driverless queue's PPD with them).
#pragma once

#include <pappl/pappl.h>

#include <string>

// The application's name, as the page header and the title show it.
#define VKR_APP_TITLE "Card Printer Application"
// The card size's PWG name (as VKR_CARD_MEDIA in vk4400_app.h).
#define VKR_STRINGS_CARD_MEDIA "om_card_54.45x85.8mm"

// Adds the English strings and the header's name link to the system.
void AddCardStrings(pappl_system_t* system);

// The English words the application adds for a key ("card-ribbon.k"), or
// "" for a key it leaves to PAPPL.
std::string CardString(const std::string& key);

// Our words for a key that PAPPL's own strings already name, or null.
const char* CardStringOverPappl(const char* key);
