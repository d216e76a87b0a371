/* The part of Android's C library the stand-in game uses: memory, environment. */
#ifndef QM_ANDROID_STDLIB_H
#define QM_ANDROID_STDLIB_H

#include <stddef.h>

void *malloc(size_t size);
void *calloc(size_t count, size_t size);
void free(void *p);
char *getenv(const char *name);
int setenv(const char *name, const char *value, int overwrite);
void exit(int code) __attribute__((noreturn));

#endif
