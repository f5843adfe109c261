#pragma once

#include <dlfcn.h>

namespace sonarelle {

// Points `target` at the entry point `symbol` of a library opened with dlopen; false, leaving
// it null, when the library has no such entry point.
template <class Fn>
bool BindSymbol(void* library, const char* symbol, Fn& target) {
  target = reinterpret_cast<Fn>(dlsym(library, symbol));
  return target != nullptr;
}

}  // namespace sonarelle
