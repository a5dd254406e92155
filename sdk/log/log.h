// Interface of liblog2, the diagnostic log library (C linkage, as the shared library exports it).
#ifndef VESK11_SDK_LOG_LOG_H
#define VESK11_SDK_LOG_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

// Opens the log under aName; records whose level is above aMaxLevel are dropped.
void LogOpen2(const char* aName, int aMaxLevel, int aFlags);

// Writes one record. Level 1 is the most serious. aFormat is printf-style.
void LogWrite(const char* aFile, unsigned long long aLine, const char* aFunc, int aLevel,
              const char* aFormat, ...) __attribute__((format(printf, 5, 6)));

void LogClose(void);

#ifdef __cplusplus
}
#endif

// Writes a record from the calling source file, line and function.
#define LOG_WRITE(aLevel, ...) LogWrite(__FILE__, __LINE__, __func__, (aLevel), __VA_ARGS__)

#endif
