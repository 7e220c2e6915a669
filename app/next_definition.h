// The program defines some library functions itself, in front of the
// library's (the guards): the library's own definition is the next one in
// the dynamic linker's lookup. Null when there is none.
#pragma once

#include <dlfcn.h>

template <typename F>
F* NextDefinition(F* /*ours*/, const char* name) {
  return reinterpret_cast<F*>(dlsym(RTLD_NEXT, name));
}
