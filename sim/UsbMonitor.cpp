// The monitor process the USB library expects to find running. It does nothing but exist;
// it ends on SIGTERM or SIGINT, and when the program that started it has gone (a demo killed
// with SIGKILL must not leave a monitor behind that makes every later USB search succeed).
#include <unistd.h>

int main() {
  const pid_t parent = ::getppid();
  while (::getppid() == parent) ::usleep(200000);
  return 0;
}
