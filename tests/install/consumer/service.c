/* A program on the common main: it only provides KWZServiceMain. */
#include <qx.h>

int KWZServiceMain(int argc, char** argv) {
    (void)argc;
    (void)argv;
    return 0;
}
