/* Link-time stand-in for Android's liblog.so. */
int __android_log_print(int priority, const char *tag, const char *format, ...) {
    (void)priority; (void)tag; (void)format; return 0;
}
int __android_log_write(int priority, const char *tag, const char *text) {
    (void)priority; (void)tag; (void)text; return 0;
}
