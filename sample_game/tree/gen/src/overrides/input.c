/* Replaces the generated input page: compiled with the runtime's flags. */
#include "zqr.h"
#include "zqr_runtime.h"

#ifndef ZQR_FRAME_LIMIT
#error "the input page needs ZQR_FRAME_LIMIT"
#endif

int zqr_override_input(zqr_state *s) {
    s->trace += (uint32_t)ZQR_FRAME_LIMIT;
    s->page = 6;
    return 1;
}
