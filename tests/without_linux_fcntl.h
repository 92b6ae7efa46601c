// Hides what Linux adds to <fcntl.h>, so that a build here takes the
// paths that macOS and FreeBSD take: with
//   -include fcntl.h -include tests/without_linux_fcntl.h
#undef O_TMPFILE
#undef F_SETPIPE_SZ
