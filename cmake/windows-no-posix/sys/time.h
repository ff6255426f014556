// The Windows check refuses <sys/time.h> in the portable code: a POSIX header that
// MinGW supplies but Windows itself does not (see GSE_CORE_ONLY in the top
// CMakeLists.txt).
#error "<sys/time.h> is POSIX-only: the system code and the Qt-free run-time use the standard library"
