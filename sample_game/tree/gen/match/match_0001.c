/* Matched page 1 of the stand-in game: generated, but calls the runtime. */
#include "zqr.h"
#include "zqr_runtime.h"

int zqr_match_0001(zqr_state *s) {
    s->score = zqr_clamp(s->score, -100000, 100000);
    s->page = 5;
    return zqr_frame_budget();
}
