#include "cli.h"
#ifdef TARVIK_REMOTE
#include "../remote/remote.h"
#endif

int main(int argc, char** argv) {
#ifdef TARVIK_REMOTE
    return tarvik_main(argc, argv, serve_remote);
#else
    return tarvik_main(argc, argv);
#endif
}
