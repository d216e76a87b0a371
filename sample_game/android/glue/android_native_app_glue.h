/* The stand-in game's activity glue: the system starts the native activity
   through ANativeActivity_onCreate, and the glue runs the game's
   android_main on a thread of its own. */
#ifndef QM_ANDROID_NATIVE_APP_GLUE_H
#define QM_ANDROID_NATIVE_APP_GLUE_H

#include <android/native_activity.h>

struct android_app {
    ANativeActivity *activity;
    void *saved_state;
    size_t saved_state_size;
    int exit_code;
};

/* The game's entry point, called on the glue's thread. */
void android_main(struct android_app *app);

#endif
