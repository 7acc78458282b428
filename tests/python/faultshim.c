// Fault injection for file saving, loaded with LD_PRELOAD into a test process.
//
// Environment:
//   FAULTSHIM_PATH  only files whose path contains this text are touched
//                   (a path relative to a folder descriptor is taken with
//                   that folder's path in front)
//   FAULTSHIM_OP    the call that fails for those files:
//                     open         every open for writing or creating fails
//                                  (EACCES)
//                     write        every write fails (ENOSPC)
//                     short_write  the first write stores half the bytes,
//                                  later ones fail (ENOSPC)
//                     zero_write   writes store nothing and report no error
//                     fsync        fsync/fdatasync fail (EIO)
//                     close        close closes the descriptor, then reports EIO
//                     rename       rename/renameat/renameat2 fail (EACCES)
//                     kill         the first write kills the process (SIGKILL)
//                     slow         each write waits 10 ms, then stores at most
//                                  64 KiB, so that two writers' bytes interleave
//                     none         nothing fails (the shim only watches)
//   FAULTSHIM_NO_TMPFILE  when set, opens with O_TMPFILE fail (EOPNOTSUPP), as
//                   on a file system without unnamed files
// Each injected failure prints "faultshim: <op> <path>" on stderr, so a test
// can tell that the fault was really reached.
//
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#define MAX_FDS 4096

static char watched[MAX_FDS];
static char wrote_once[MAX_FDS];

static const char* op(void) {
    const char* value = getenv("FAULTSHIM_OP");
    return value ? value : "none";
}

static int matches(const char* path) {
    const char* pattern = getenv("FAULTSHIM_PATH");
    return path && pattern && *pattern && strstr(path, pattern) != NULL;
}

static int is_op(const char* name) { return strcmp(op(), name) == 0; }

/* The path a call relative to folder descriptor `dir` names, in `buffer`. */
static const char* at_path(int dir, const char* path, char* buffer, size_t size) {
    if (!path || path[0] == '/' || dir == AT_FDCWD) return path;
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", dir);
    ssize_t n = readlink(link, buffer, size - 2);
    if (n < 0) return path;
    buffer[n] = '/';
    snprintf(buffer + n + 1, size - (size_t)n - 1, "%s", path);
    return buffer;
}

static void report(const char* what, const char* path) {
    char line[512];
    int n = snprintf(line, sizeof line, "faultshim: %s %s\n", what, path ? path : "(fd)");
    if (n > 0) {
        ssize_t (*real_write)(int, const void*, size_t) = dlsym(RTLD_NEXT, "write");
        real_write(2, line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
    }
}

static int watch(int fd, const char* path) {
    if (fd >= 0 && fd < MAX_FDS) {
        watched[fd] = (char)matches(path);
        wrote_once[fd] = 0;
    }
    return fd;
}

static int is_watched(int fd) { return fd >= 0 && fd < MAX_FDS && watched[fd]; }

static int refuse_open(const char* path, int flags) {
    const int writing = (flags & (O_WRONLY | O_RDWR | O_CREAT)) || (flags & O_TMPFILE) == O_TMPFILE;
    if (writing && matches(path) && is_op("open")) {
        report("open", path);
        errno = EACCES;
        return 1;
    }
    if ((flags & O_TMPFILE) == O_TMPFILE && matches(path) && getenv("FAULTSHIM_NO_TMPFILE")) {
        errno = EOPNOTSUPP;
        return 1;
    }
    return 0;
}

#define OPEN_MODE(flags, mode)              \
    mode_t mode = 0;                        \
    if ((flags) & (O_CREAT | O_TMPFILE)) {  \
        va_list args;                       \
        va_start(args, flags);              \
        mode = (mode_t)va_arg(args, int);   \
        va_end(args);                       \
    }

// The plain and the 64-bit names of an open call, one body each.
#define OPEN_CALL(name)                                                  \
    int name(const char* path, int flags, ...) {                         \
        OPEN_MODE(flags, mode)                                           \
        if (refuse_open(path, flags)) return -1;                         \
        int (*real)(const char*, int, ...) = dlsym(RTLD_NEXT, #name);    \
        return watch(real(path, flags, mode), path);                     \
    }
#define OPENAT_CALL(name)                                                \
    int name(int dir, const char* path, int flags, ...) {                \
        OPEN_MODE(flags, mode)                                           \
        char buffer[4096];                                               \
        const char* full = at_path(dir, path, buffer, sizeof buffer);    \
        if (refuse_open(full, flags)) return -1;                         \
        int (*real)(int, const char*, int, ...) = dlsym(RTLD_NEXT, #name); \
        return watch(real(dir, path, flags, mode), full);                \
    }
OPEN_CALL(open)
OPEN_CALL(open64)
OPENAT_CALL(openat)
OPENAT_CALL(openat64)

int __open_2(const char* path, int flags) { return open(path, flags); }
int __open64_2(const char* path, int flags) { return open64(path, flags); }

ssize_t write(int fd, const void* buffer, size_t size) {
    ssize_t (*real)(int, const void*, size_t) = dlsym(RTLD_NEXT, "write");
    if (is_watched(fd)) {
        if (is_op("kill")) {
            report("kill", NULL);
            raise(SIGKILL);
        }
        if (is_op("write") || (is_op("short_write") && wrote_once[fd])) {
            report("write", NULL);
            errno = ENOSPC;
            return -1;
        }
        if (is_op("slow")) {
            usleep(10000);
            return real(fd, buffer, size < 65536 ? size : 65536);
        }
        if (is_op("zero_write")) {
            report("zero_write", NULL);
            return 0;
        }
        if (is_op("short_write") && size > 1) {
            report("short_write", NULL);
            wrote_once[fd] = 1;
            return real(fd, buffer, size / 2);
        }
    }
    return real(fd, buffer, size);
}

static int fail_sync(int fd) {
    if (is_watched(fd) && is_op("fsync")) {
        report("fsync", NULL);
        errno = EIO;
        return 1;
    }
    return 0;
}

#define SYNC_CALL(name)                              \
    int name(int fd) {                               \
        if (fail_sync(fd)) return -1;                \
        int (*real)(int) = dlsym(RTLD_NEXT, #name);  \
        return real(fd);                             \
    }
SYNC_CALL(fsync)
SYNC_CALL(fdatasync)

int close(int fd) {
    int (*real)(int) = dlsym(RTLD_NEXT, "close");
    const int fail = is_watched(fd) && is_op("close");
    if (fd >= 0 && fd < MAX_FDS) watched[fd] = 0;
    const int result = real(fd);
    if (fail && result == 0) {
        report("close", NULL);
        errno = EIO;
        return -1;
    }
    return result;
}

static int refuse_rename(const char* from, const char* to) {
    if ((matches(from) || matches(to)) && is_op("rename")) {
        report("rename", to);
        errno = EACCES;
        return 1;
    }
    return 0;
}

int rename(const char* from, const char* to) {
    if (refuse_rename(from, to)) return -1;
    int (*real)(const char*, const char*) = dlsym(RTLD_NEXT, "rename");
    return real(from, to);
}

// The paths renameat and renameat2 name, refused as rename refuses them.
#define REFUSE_RENAME_AT()                                                          \
    char from_buffer[4096], to_buffer[4096];                                        \
    if (refuse_rename(at_path(from_dir, from, from_buffer, sizeof from_buffer),     \
                      at_path(to_dir, to, to_buffer, sizeof to_buffer)))            \
        return -1;

int renameat(int from_dir, const char* from, int to_dir, const char* to) {
    REFUSE_RENAME_AT()
    int (*real)(int, const char*, int, const char*) = dlsym(RTLD_NEXT, "renameat");
    return real(from_dir, from, to_dir, to);
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
    REFUSE_RENAME_AT()
    int (*real)(int, const char*, int, const char*, unsigned) = dlsym(RTLD_NEXT, "renameat2");
    return real(from_dir, from, to_dir, to, flags);
}
