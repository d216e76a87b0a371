/* Generated page 1 of the stand-in game. */
#include "zqr.h"

int zqr_page_0001(zqr_state *s) {
    s->frame += 1;
    s->page = 1;
    return (int)(s->frame & 0xff);
}
