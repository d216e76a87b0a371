/* Link-time stand-in for Android's libaaudio.so. */
int AAudio_createStreamBuilder(void **builder) { (void)builder; return -1; }
const char *AAudio_convertResultToText(int result) { (void)result; return ""; }
