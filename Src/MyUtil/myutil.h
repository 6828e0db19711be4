/* myutil: thin C-linkage exports over the C runtime, loaded at run time with
 * the media libraries. Each my_ function behaves as the runtime function of the
 * same name without the prefix, on this library's own FILE objects. */
#ifndef QUILLON_MYUTIL_H
#define QUILLON_MYUTIL_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MYUTIL_API __attribute__((visibility("default")))

MYUTIL_API FILE* my_fopen(const char* path, const char* mode);
MYUTIL_API int my_fclose(FILE* stream);
MYUTIL_API size_t my_fread(void* ptr, size_t size, size_t count, FILE* stream);
MYUTIL_API size_t my_fwrite(const void* ptr, size_t size, size_t count, FILE* stream);
MYUTIL_API int my_fseek(FILE* stream, long offset, int whence);
MYUTIL_API long my_ftell(FILE* stream);
MYUTIL_API int my_fprintf(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
MYUTIL_API int my_snprintf(char* buffer, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
MYUTIL_API int my_vsprintf(char* buffer, const char* format, va_list args);
MYUTIL_API double my_strtod(const char* text, char** end);
MYUTIL_API char* my_strtok(char* text, const char* delimiters);
MYUTIL_API long my_strtol(const char* text, char** end, int base);

#ifdef __cplusplus
}
#endif

#endif
