/* Link-time stand-in for Android's libdl.so. */
void *dlopen(const char *name, int flags) { (void)name; (void)flags; return 0; }
void *dlsym(void *handle, const char *name) { (void)handle; (void)name; return 0; }
int dlclose(void *handle) { (void)handle; return 0; }
