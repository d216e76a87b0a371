/* Link-time stand-in for Android's libc.so: every function the stand-in
   game and its glue call, so that the library links with --no-undefined
   and names libc.so as needed. It is never run: the device has the real
   one. */
#include <stdarg.h>
#include <stddef.h>

typedef struct __sFILE FILE;
typedef long pthread_t;

FILE *fopen(const char *path, const char *mode) { (void)path; (void)mode; return NULL; }
int fclose(FILE *f) { (void)f; return 0; }
char *fgets(char *buf, int size, FILE *f) { (void)buf; (void)size; (void)f; return NULL; }
int fputs(const char *s, FILE *f) { (void)s; (void)f; return 0; }
int fputc(int c, FILE *f) { (void)f; return c; }
size_t fwrite(const void *p, size_t size, size_t count, FILE *f) { (void)p; (void)size; (void)f; return count; }
int fprintf(FILE *f, const char *format, ...) { (void)f; (void)format; return 0; }
int printf(const char *format, ...) { (void)format; return 0; }
int puts(const char *s) { (void)s; return 0; }
int putchar(int c) { return c; }
int snprintf(char *buf, size_t size, const char *format, ...) { (void)buf; (void)size; (void)format; return 0; }
int vsnprintf(char *buf, size_t size, const char *format, va_list args) {
    (void)buf; (void)size; (void)format; (void)args; return 0;
}
void *malloc(size_t size) { (void)size; return NULL; }
void *calloc(size_t count, size_t size) { (void)count; (void)size; return NULL; }
void free(void *p) { (void)p; }
char *getenv(const char *name) { (void)name; return NULL; }
int setenv(const char *name, const char *value, int overwrite) { (void)name; (void)value; (void)overwrite; return 0; }
void exit(int code) { (void)code; for (;;) {} }
void *memcpy(void *to, const void *from, size_t n) { (void)from; (void)n; return to; }
void *memmove(void *to, const void *from, size_t n) { (void)from; (void)n; return to; }
void *memset(void *p, int c, size_t n) { (void)c; (void)n; return p; }
int memcmp(const void *a, const void *b, size_t n) { (void)a; (void)b; (void)n; return 0; }
size_t strlen(const char *s) { (void)s; return 0; }
int strcmp(const char *a, const char *b) { (void)a; (void)b; return 0; }
int strncmp(const char *a, const char *b, size_t n) { (void)a; (void)b; (void)n; return 0; }
char *strchr(const char *s, int c) { (void)s; (void)c; return NULL; }
char *strrchr(const char *s, int c) { (void)s; (void)c; return NULL; }
char *strcpy(char *to, const char *from) { (void)from; return to; }
char *stpcpy(char *to, const char *from) { (void)from; return to; }
int pthread_create(pthread_t *thread, const void *attr, void *(*start)(void *), void *arg) {
    (void)thread; (void)attr; (void)start; (void)arg; return 0;
}
int pthread_detach(pthread_t thread) { (void)thread; return 0; }
int __cxa_atexit(void (*f)(void *), void *arg, void *dso) { (void)f; (void)arg; (void)dso; return 0; }
int __cxa_finalize(void *dso) { (void)dso; return 0; }
