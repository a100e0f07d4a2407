// Stand-in seen only by portable code: a platform header belongs in platform/posix or
// platform/win32.
#error "platform header <imagehlp.h> included from portable code"
