/* Link-time stand-in for Android's libandroid.so. */
struct ANativeActivity;
void ANativeActivity_finish(struct ANativeActivity *activity) { (void)activity; }
void *AAssetManager_open(void *manager, const char *name, int mode) { (void)manager; (void)name; (void)mode; return 0; }
void AAsset_close(void *asset) { (void)asset; }
