/* The part of Android's C library the stand-in game uses: standard I/O. */
#ifndef QM_ANDROID_STDIO_H
#define QM_ANDROID_STDIO_H

#include <stdarg.h>
#include <stddef.h>

typedef struct __sFILE FILE;

FILE *fopen(const char *path, const char *mode);
int fclose(FILE *f);
char *fgets(char *buf, int size, FILE *f);
int fputs(const char *s, FILE *f);
int fputc(int c, FILE *f);
size_t fwrite(const void *p, size_t size, size_t count, FILE *f);
int fprintf(FILE *f, const char *format, ...);
int printf(const char *format, ...);
int puts(const char *s);
int putchar(int c);
int snprintf(char *buf, size_t size, const char *format, ...);
int vsnprintf(char *buf, size_t size, const char *format, va_list args);

#endif
