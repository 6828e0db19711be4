#define _GNU_SOURCE
#include "myutil.h"

#include <stdlib.h>
#include <locale.h>
#include <pthread.h>
#include <string.h>

FILE* my_fopen(const char* path, const char* mode) { return fopen(path, mode); }
int my_fclose(FILE* stream) { return fclose(stream); }
size_t my_fread(void* ptr, size_t size, size_t count, FILE* stream) { return fread(ptr, size, count, stream); }
size_t my_fwrite(const void* ptr, size_t size, size_t count, FILE* stream) { return fwrite(ptr, size, count, stream); }
int my_fseek(FILE* stream, long offset, int whence) { return fseek(stream, offset, whence); }
long my_ftell(FILE* stream) { return ftell(stream); }

int my_fprintf(FILE* stream, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = vfprintf(stream, format, args);
    va_end(args);
    return written;
}

int my_snprintf(char* buffer, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = vsnprintf(buffer, size, format, args);
    va_end(args);
    return written;
}

int my_vsprintf(char* buffer, const char* format, va_list args) { return vsprintf(buffer, format, args); }
/* Numbers in option texts always use "." whatever the process locale is. */
static locale_t c_locale;
static pthread_once_t c_locale_once = PTHREAD_ONCE_INIT;
static void make_c_locale(void) { c_locale = newlocale(LC_ALL_MASK, "C", (locale_t)0); }

double my_strtod(const char* text, char** end)
{
    pthread_once(&c_locale_once, make_c_locale);
    return c_locale ? strtod_l(text, end, c_locale) : strtod(text, end);
}
char* my_strtok(char* text, const char* delimiters) { return strtok(text, delimiters); }

#ifndef MYUTIL_OMIT_STRTOL /* tests build a copy without it to prove a missing export fails the load */
long my_strtol(const char* text, char** end, int base) { return strtol(text, end, base); }
#endif
