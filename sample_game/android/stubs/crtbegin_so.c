/* The start object of a shared library: the handle its exit handlers are
   registered under. */
__attribute__((visibility("hidden"))) void *__dso_handle = &__dso_handle;
