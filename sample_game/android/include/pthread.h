/* The part of Android's C library the activity glue uses: one thread. */
#ifndef QM_ANDROID_PTHREAD_H
#define QM_ANDROID_PTHREAD_H

typedef long pthread_t;
typedef struct pthread_attr_t {
    unsigned long words[7];
} pthread_attr_t;

int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *), void *arg);
int pthread_detach(pthread_t thread);

#endif
