/* qx.h compiled as C: the records keep their layout in a C program too. */
#include <qx.h>
#include <stdio.h>

int main(void) {
    int bad = 0;
    bad |= sizeof(VelmoSystem) != 216;
    bad |= sizeof(Tags) != 368;
    bad |= sizeof(Rohwerte) != 40;
    bad |= sizeof(Info) != 45832;
    bad |= sizeof(TagAdd) != 16;
    bad |= sizeof(TagsInternal) != 496;
    bad |= sizeof(UserFieldDSC) != 116;
    bad |= !IsNan(GetNan());
    if (bad) {
        printf("record layout differs in C\n");
        return 1;
    }
    return 0;
}
