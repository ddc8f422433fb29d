/* LD_PRELOAD recorder of the break ioctls: appends "S <ns> <ns>" or
 * "C <ns> <ns>" to the file named by TARVIK_IOCTL_LOG, stamped with
 * CLOCK_MONOTONIC just before and just after the real call. Records are kept in memory and written at exit (or
 * when the buffer fills), so the recorder adds no system call of its own to
 * the pulses it measures. */
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

static ioctl_fn real_ioctl;
static int log_fd = -1;
static char buffer[1 << 16];
static size_t used;

static void flush_records(void) {
    if (log_fd >= 0 && used > 0 && write(log_fd, buffer, used) != (ssize_t)used)
        log_fd = -1;
    used = 0;
}

__attribute__((destructor)) static void recorder_fini(void) { flush_records(); }

__attribute__((constructor)) static void recorder_init(void) {
    real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    const char* path = getenv("TARVIK_IOCTL_LOG");
    if (path)
        log_fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (request != TIOCSBRK && request != TIOCCBRK)
        return real_ioctl(fd, request, arg);
    struct timespec before, after;
    clock_gettime(CLOCK_MONOTONIC, &before);
    int result = real_ioctl(fd, request, arg);
    clock_gettime(CLOCK_MONOTONIC, &after);
    if (used > sizeof buffer - 64)
        flush_records();
    used += (size_t)snprintf(buffer + used, sizeof buffer - used, "%c %lld %lld\n",
                             request == TIOCSBRK ? 'S' : 'C',
                             (long long)before.tv_sec * 1000000000LL + before.tv_nsec,
                             (long long)after.tv_sec * 1000000000LL + after.tv_nsec);
    return result;
}
