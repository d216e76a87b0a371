/* Runtime of the stand-in game: reads "Quillmarsh.cfg" beside the program,
   prints what it holds, runs its pages for a few frames and, like the game's
   own menus, can write an option back. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zqr.h"
#include "zqr_runtime.h"

#ifndef ZQR_FRAME_LIMIT
#error "the runtime must be built with ZQR_FRAME_LIMIT"
#endif
#ifndef ZQR_VULKAN
#error "the runtime must be built with ZQR_VULKAN"
#endif

int zqr_frame_budget(void) { return 1000 / ZQR_FRAME_LIMIT; }

/* The folder of the program: argv[0] up to its last separator. */
static void program_folder(const char *argv0, char *out, size_t size) {
    const char *slash = NULL;
    for (const char *p = argv0 ? argv0 : ""; *p; p++)
        if (*p == '/' || *p == '\\') slash = p;
    size_t n = slash ? (size_t)(slash - argv0) + 1 : 0;
    if (n >= size) n = 0;
    memcpy(out, argv0, n);
    out[n] = 0;
}

/* The player's menu choice, "KEY=value": stands for the options menu. */
static int menu_write_back(zqr_cfg *cfg, const char *path) {
    const char *choice = getenv("ZQR_MENU_SET");
    if (!choice || !strchr(choice, '=')) return 0;
    char key[64];
    size_t n = (size_t)(strchr(choice, '=') - choice);
    if (n == 0 || n >= sizeof key) return 0;
    memcpy(key, choice, n);
    key[n] = 0;
    zqr_cfg_set(cfg, key, choice + n + 1);
    zqr_cfg_set(cfg, "ZQR_MENU_KEYS", key);
    if (!zqr_cfg_save(cfg, path)) {
        printf("could not write %s\n", path);
        return 1;
    }
    printf("menu: wrote %s back to %s\n", choice, path);
    return 0;
}

/* The mod data the launcher made: "zqr_mods.txt" in ZQR_MOD_DIR names each
   patched file list with the archive it extends and that archive's size. */
static void print_mods(const zqr_cfg *cfg) {
    const char *dir = zqr_cfg_get(cfg, "ZQR_MOD_DIR");
    if (!dir || !*dir) return;
    char path[1200];
    snprintf(path, sizeof path, "%s/zqr_mods.txt", dir);
    FILE *f = fopen(path, "rb");
    if (!f) {
        printf("mods: cannot read %s\n", path);
        return;
    }
    char line[1024];
    while (fgets(line, sizeof line, f)) {
        /* "list archive base": three words, one blank between them. */
        char *archive = strchr(line, ' ');
        char *base = archive ? strchr(archive + 1, ' ') : NULL;
        if (!base) continue;
        *archive++ = 0;
        *base++ = 0;
        size_t n = strlen(base);
        while (n > 0 && (base[n - 1] == '\n' || base[n - 1] == '\r')) base[--n] = 0;
        printf("mods: %s extends %s (%s bytes)\n", line, archive, base);
    }
    fclose(f);
}

int zqr_run(int argc, char **argv) {
    (void)argc;
    char folder[1024], path[1200];
    program_folder(argc > 0 ? argv[0] : "", folder, sizeof folder);
    snprintf(path, sizeof path, "%sQuillmarsh.cfg", folder);

#ifdef ZQR_NO_TOOLS
    const char *tools = "off";
#else
    const char *tools = "on";
#endif
#ifdef ZQR_EXPERIMENTAL
    const char *experimental = ", experimental";
#else
    const char *experimental = "";
#endif
    printf("Quillmarsh stand-in game (frame limit %d, tools %s%s)\n", ZQR_FRAME_LIMIT, tools, experimental);
    char media[256];
    zqr_media_summary(media, sizeof media);
    printf("media: %s\n", media);

    static zqr_cfg cfg;
    if (!zqr_cfg_load(&cfg, path)) {
        printf("config: cannot read %s\n", path);
        return 2;
    }
    int from_env = zqr_cfg_apply_env(&cfg);
    printf("config: %s (%d keys, %d from the environment)\n", path, cfg.count, from_env);
    for (int i = 0; i < cfg.count; i++) printf("  %s=%s\n", cfg.key[i], cfg.value[i]);
    print_mods(&cfg);

    zqr_state s = {0, 0, 0, 0};
    int last = 0;
    for (int frame = 0; frame < 8; frame++) last = zqr_page_0004(&s);
    printf("pages: %u frames, score %d, trace %u, last %d\n", (unsigned)s.frame, (int)s.score, (unsigned)s.trace, last);

    return menu_write_back(&cfg, path);
}

#ifdef __ANDROID__
#include "android_native_app_glue.h"

/* On Android the activity glue calls this on its own thread; the
   configuration and the saves live in the app's own files folder. */
void android_main(struct android_app *app) {
    char program[1024];
    snprintf(program, sizeof program, "%s/Quillmarsh", app->activity->internalDataPath);
    char *argv[] = {program, NULL};
    app->exit_code = zqr_run(1, argv);
}
#else
int main(int argc, char **argv) { return zqr_run(argc, argv); }
#endif
