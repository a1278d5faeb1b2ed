// Functions that newer systems have and older ones lack are looked up at run time.
#include "common.h"

// A function that not every system has, from a system DLL the program has loaded already;
// null where it is missing.
FARPROC FindSystemFunction(const char *library, const char *name) {
    HMODULE module = GetModuleHandleA(library);
    return module ? GetProcAddress(module, name) : 0;
}
