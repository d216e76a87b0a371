/* The part of Android's C library the stand-in game uses: bytes and strings. */
#ifndef QM_ANDROID_STRING_H
#define QM_ANDROID_STRING_H

#include <stddef.h>

void *memcpy(void *to, const void *from, size_t n);
void *memmove(void *to, const void *from, size_t n);
void *memset(void *p, int c, size_t n);
int memcmp(const void *a, const void *b, size_t n);
size_t strlen(const char *s);
int strcmp(const char *a, const char *b);
int strncmp(const char *a, const char *b, size_t n);
char *strchr(const char *s, int c);
char *strrchr(const char *s, int c);
char *strcpy(char *to, const char *from);
char *stpcpy(char *to, const char *from);

#endif
