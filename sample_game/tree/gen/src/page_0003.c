/* Generated page 3 of the stand-in game: reads the state through another
   type, as generated code does. */
#include "zqr.h"

int zqr_page_0003(zqr_state *s) {
    uint16_t *half = (uint16_t *)&s->trace;
    half[0] ^= (uint16_t)s->frame;
    half[1] += 3;
    s->page = 3;
    return (int)half[0];
}
