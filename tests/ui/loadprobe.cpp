// Loads the library named on its command line by bare name, as a careless program would,
// and exits with 1 when it loaded.
#include <windows.h>

int main(int argc, char **argv) {
    return argc > 1 && LoadLibraryA(argv[1]) ? 1 : 0;
}
