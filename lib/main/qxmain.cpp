// The common entry of every program: all work happens in the program's own
// KWZServiceMain.
#include "qx/frame.h"

int main(int argc, char** argv, char** envp) {
    KWZServiceMain(argc, argv, envp);
    return 0;
}
