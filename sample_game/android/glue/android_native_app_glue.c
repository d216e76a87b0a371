/* The stand-in game's activity glue (see android_native_app_glue.h). */
#include "android_native_app_glue.h"

#include <android/log.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

static void *app_thread(void *arg) {
    struct android_app *app = arg;
    android_main(app);
    __android_log_print(ANDROID_LOG_INFO, "Quillmarsh", "the game ended (%d)", app->exit_code);
    ANativeActivity_finish(app->activity);
    return NULL;
}

void ANativeActivity_onCreate(ANativeActivity *activity, void *saved_state, size_t saved_state_size) {
    struct android_app *app = calloc(1, sizeof *app);
    if (!app) return;
    app->activity = activity;
    if (saved_state && saved_state_size > 0) {
        app->saved_state = malloc(saved_state_size);
        if (app->saved_state) {
            memcpy(app->saved_state, saved_state, saved_state_size);
            app->saved_state_size = saved_state_size;
        }
    }
    activity->instance = app;
    pthread_t thread;
    if (pthread_create(&thread, NULL, app_thread, app) != 0) {
        __android_log_print(ANDROID_LOG_ERROR, "Quillmarsh", "cannot start the game's thread");
        return;
    }
    pthread_detach(thread);
}
