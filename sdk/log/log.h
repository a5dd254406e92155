// Interface of liblog2, the diagnostic log library (C linkage, as the shared library exports it).
#ifndef VESK11_SDK_LOG_LOG_H
#define VESK11_SDK_LOG_LOG_H

#ifdef __cplusplus
extern "C"
{
#endif

    // Flags of LogOpen2, or-ed together.
    enum
    {
        // Level-1 records are also written to standard error as "<name>: <message>", when and only
        // when standard error is a terminal (and does not already show the records themselves).
        kLOG2_FLAG_ECHO_TTY = 1,
        // Every record kept is also written to standard error as "<name>: <message>", whatever
        // standard error is (a terminal, a file, a pipe), without ever waiting for it.
        kLOG2_FLAG_ECHO_ALL = 2,
        // Records never go to standard error's terminal: the program tells its failures itself.
        kLOG2_FLAG_NO_TTY = 4
    };

    // Opens the log under aName (control characters become blanks); records whose level is above
    // aMaxLevel are dropped. Where records go: the file LOG2_FILE names, created with mode 0640,
    // when it opens at once (a FIFO without a reader does not); else the syslog socket, /dev/log or
    // the one LOG2_SYSLOG_SOCKET names; else, with none of the flags, standard error when it is a
    // terminal (records of levels 1 and 2); else nowhere. Under a flag the terminal shows the echo
    // alone, or nothing, so it looks the same with or without syslog. Only the first call after
    // LogClose counts.
    void LogOpen2(const char* aName, int aMaxLevel, int aFlags);

    // Writes one record. Level 1 is the most serious. aFormat is printf-style; control characters
    // in the message become blanks. Never waits: a record the log cannot take at once is dropped,
    // and the next record that can be written is preceded by a level-2 record "fail: records
    // dropped <count> (<reason>)". Never raises SIGPIPE.
    void LogWrite(const char* aFile, unsigned long long aLine, const char* aFunc, int aLevel,
                  const char* aFormat, ...) __attribute__((format(printf, 5, 6)));

    // Tells a count of dropped records still untold, if it can, and closes the log.
    void LogClose(void);

#ifdef __cplusplus
}
#endif

// Writes a record from the calling source file, line and function.
#define LOG_WRITE(aLevel, ...) LogWrite(__FILE__, __LINE__, __func__, (aLevel), __VA_ARGS__)

#endif
