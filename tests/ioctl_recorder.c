/* LD_PRELOAD recorder of the break ioctls: appends "S <ns>" or "C <ns>" to
 * the file named by TARVIK_IOCTL_LOG, stamped with CLOCK_MONOTONIC just
 * before the real call. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn real;
    static int log_fd = -2;
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (!real)
        real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    if (request == TIOCSBRK || request == TIOCCBRK) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (log_fd == -2) {
            const char* path = getenv("TARVIK_IOCTL_LOG");
            log_fd = path ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
        }
        if (log_fd >= 0) {
            char line[48];
            int n = snprintf(line, sizeof line, "%c %lld\n", request == TIOCSBRK ? 'S' : 'C',
                             (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
            if (write(log_fd, line, (size_t)n) != n)
                log_fd = -1;
        }
    }
    return real(fd, request, arg);
}
