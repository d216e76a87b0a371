/* Link-time stand-in for Android's libmediandk.so. */
void *AMediaExtractor_new(void) { return 0; }
void *AMediaCodec_createDecoderByType(const char *mime) { (void)mime; return 0; }
