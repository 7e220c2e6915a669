// CUPS's filter-message function: writes "<prefix>: <message>\n" to fp, the
// message localised and formatted like printf. libcups exports it but no
// public header declares it.
#pragma once

#include <cstdio>

extern "C" int _cupsLangPrintFilter(FILE* fp, const char* prefix, const char* message, ...);
