/* Generated page 4 of the stand-in game: the frame's dispatch. */
#include "zqr.h"

static const zqr_page_fn order[] = {zqr_page_0001, zqr_page_0002, zqr_page_0003, zqr_match_0001,
                                    zqr_override_input};

int zqr_page_0004(zqr_state *s) {
    int sum = 0;
    for (unsigned i = 0; i < sizeof order / sizeof order[0]; i++) sum += order[i](s);
    s->page = 4;
    return sum;
}
