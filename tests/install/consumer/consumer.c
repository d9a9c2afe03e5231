/* A plain C tool with a main of its own, linking only libqx.a. */
#include <qx.h>
#include <stdio.h>

int main(void) {
    if (sizeof(Tags) != 368 || !IsNan(GetNan())) return 1;
    ux_print_moni("consumer ok\n");
    return 0;
}
