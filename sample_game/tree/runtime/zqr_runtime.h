/* The stand-in game's runtime: configuration, media libraries, frame pacing. */
#ifndef ZQR_RUNTIME_H
#define ZQR_RUNTIME_H

#include <stddef.h>

#define ZQR_CFG_MAX 96

typedef struct zqr_cfg {
    int count;
    char key[ZQR_CFG_MAX][64];
    char value[ZQR_CFG_MAX][512];
} zqr_cfg;

/* Reads KEY=value lines ("#" comments and blank lines skipped; a later line
   wins). 0 when the file cannot be read. */
int zqr_cfg_load(zqr_cfg *cfg, const char *path);
const char *zqr_cfg_get(const zqr_cfg *cfg, const char *key);
void zqr_cfg_set(zqr_cfg *cfg, const char *key, const char *value);
/* The game's own environment overrides the file: every key that is set
   there takes its value. Returns how many were overridden. */
int zqr_cfg_apply_env(zqr_cfg *cfg);
/* Writes the whole file again. 0 on failure. */
int zqr_cfg_save(const zqr_cfg *cfg, const char *path);

/* One line naming the media libraries the game was linked with. */
void zqr_media_summary(char *out, size_t size);

/* Milliseconds a frame may take at the frame limit. */
int zqr_frame_budget(void);

static inline int zqr_clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

#endif
