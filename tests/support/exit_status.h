// The exit code of a program run through popen/system, from the status pclose/system gives.
#pragma once

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace mailfold::test {

inline int exitCodeOf(int status) {
#ifdef _WIN32
  return status;  // the C runtime gives the program's exit code itself
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace mailfold::test
