/* Generated page 2 of the stand-in game: signed arithmetic that wraps. */
#include "zqr.h"

int zqr_page_0002(zqr_state *s) {
    int32_t x = s->score;
    for (int i = 0; i < 16; i++) x = x * 31 + (int32_t)(s->frame + (uint32_t)i);
    s->score = x;
    s->page = 2;
    return (int)(x & 0x7f);
}
