/* The native activity of libandroid, as far as the activity glue uses it. */
#ifndef QM_ANDROID_NATIVE_ACTIVITY_H
#define QM_ANDROID_NATIVE_ACTIVITY_H

#include <stddef.h>
#include <stdint.h>

struct AAssetManager;
struct ANativeActivityCallbacks;

typedef struct ANativeActivity {
    struct ANativeActivityCallbacks *callbacks;
    void *vm;
    void *env;
    void *clazz;
    const char *internalDataPath;
    const char *externalDataPath;
    int32_t sdkVersion;
    void *instance;
    struct AAssetManager *assetManager;
    const char *obbPath;
} ANativeActivity;

/* Ends the activity. */
void ANativeActivity_finish(ANativeActivity *activity);

/* The entry point the system looks up in the app's library. */
void ANativeActivity_onCreate(ANativeActivity *activity, void *saved_state, size_t saved_state_size);

#endif
