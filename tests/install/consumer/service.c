/* A program on the common main: it only provides KWZServiceMain. */
#include <qx.h>

int KWZServiceMain(int argc, char** argv, char** envp) {
    (void)argc;
    (void)argv;
    (void)envp;
    return 0;
}
