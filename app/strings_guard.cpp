// PAPPL keeps the first words it loads for a key, and its own English comes
// first: two-sided stays "On (portrait)" whatever the application adds. Its
// web pages look their words up through papplClientGetLocString, so the
// server stands in front of that function and answers the few keys where a
// card printer says it otherwise (strings.cpp); every other key is PAPPL's.
#include <pappl/pappl.h>

#include "app/next_definition.h"
#include "app/strings.h"

extern "C" const char* papplClientGetLocString(pappl_client_t* client, const char* s) {
  if (const char* ours = CardStringOverPappl(s)) return ours;
  static const auto pappl = NextDefinition(papplClientGetLocString, "papplClientGetLocString");
  return pappl != nullptr ? pappl(client, s) : s;
}
