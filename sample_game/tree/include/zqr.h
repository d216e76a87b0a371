/* Shared declarations of the stand-in game: its state and every page. */
#ifndef ZQR_H
#define ZQR_H

#include <stdint.h>

typedef struct zqr_state {
    uint32_t frame;
    uint32_t page;
    int32_t score;
    uint32_t trace;
} zqr_state;

typedef int (*zqr_page_fn)(zqr_state *s);

/* Generated pages (gen/src). */
int zqr_page_0001(zqr_state *s);
int zqr_page_0002(zqr_state *s);
int zqr_page_0003(zqr_state *s);
int zqr_page_0004(zqr_state *s);
/* Matched page (gen/match), written against the runtime. */
int zqr_match_0001(zqr_state *s);
/* Hand-written replacement of a generated page (gen/src/overrides). */
int zqr_override_input(zqr_state *s);

int zqr_run(int argc, char **argv);

#endif
