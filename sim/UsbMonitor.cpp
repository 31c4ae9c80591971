// The monitor process the USB library expects to find running. It does nothing but exist;
// it ends on SIGTERM or SIGINT.
#include <unistd.h>

int main() {
  for (;;) ::pause();
}
