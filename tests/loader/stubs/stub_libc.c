/* A run-time library with every function the loader binds but without the
   data entry stderr. The C names differ from the exported ones so that the
   compiler does not compare them with its built-in declarations. Nothing
   calls these. */
#define STUB_ENTRY(name)                 \
    void stub_##name(void) __asm__(#name); \
    void stub_##name(void) {}

STUB_ENTRY(fclose)
STUB_ENTRY(fopen)
STUB_ENTRY(fprintf)
STUB_ENTRY(fread)
STUB_ENTRY(fseek)
STUB_ENTRY(ftell)
STUB_ENTRY(fwrite)
STUB_ENTRY(fflush)
STUB_ENTRY(snprintf)
STUB_ENTRY(strtod)
STUB_ENTRY(strtok_r)
STUB_ENTRY(strtol)
STUB_ENTRY(vsnprintf)
