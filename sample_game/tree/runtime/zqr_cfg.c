/* "Quillmarsh.cfg": the options the launcher writes for the game. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zqr_runtime.h"

#ifndef ZQR_FRAME_LIMIT
#error "the runtime must be built with ZQR_FRAME_LIMIT"
#endif

static void copy_text(char *out, size_t size, const char *from, size_t n) {
    if (n >= size) n = size - 1;
    memcpy(out, from, n);
    out[n] = 0;
}

const char *zqr_cfg_get(const zqr_cfg *cfg, const char *key) {
    for (int i = 0; i < cfg->count; i++)
        if (strcmp(cfg->key[i], key) == 0) return cfg->value[i];
    return NULL;
}

void zqr_cfg_set(zqr_cfg *cfg, const char *key, const char *value) {
    int i = 0;
    while (i < cfg->count && strcmp(cfg->key[i], key) != 0) i++;
    if (i == cfg->count) {
        if (cfg->count == ZQR_CFG_MAX) return;
        cfg->count++;
        copy_text(cfg->key[i], sizeof cfg->key[i], key, strlen(key));
    }
    copy_text(cfg->value[i], sizeof cfg->value[i], value, strlen(value));
}

int zqr_cfg_load(zqr_cfg *cfg, const char *path) {
    cfg->count = 0;
    FILE *f = fopen(path, "rb");
    if (!f) return 0;
    char line[1024];
    while (fgets(line, sizeof line, f)) {
        size_t n = strlen(line);
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
        if (n == 0 || line[0] == '#') continue;
        char *eq = strchr(line, '=');
        if (!eq || eq == line) continue;
        *eq = 0;
        zqr_cfg_set(cfg, line, eq + 1);
    }
    fclose(f);
    return 1;
}

int zqr_cfg_apply_env(zqr_cfg *cfg) {
    int count = 0;
    for (int i = 0; i < cfg->count; i++) {
        const char *v = getenv(cfg->key[i]);
        if (!v) continue;
        copy_text(cfg->value[i], sizeof cfg->value[i], v, strlen(v));
        count++;
    }
    return count;
}

int zqr_cfg_save(const zqr_cfg *cfg, const char *path) {
    FILE *f = fopen(path, "wb");
    if (!f) return 0;
    fputs("# Quillmarsh options; the game lists in ZQR_MENU_KEYS what its menus changed.\n", f);
    for (int i = 0; i < cfg->count; i++) fprintf(f, "%s=%s\n", cfg->key[i], cfg->value[i]);
    return fclose(f) == 0;
}
