// sender: a sample for the relay. The middleware starts any program under this
// name; this one writes one line that names itself and its process id.
#include <cstdio>

#include "process_id.h"
#include "standard_streams.h"

int main() {
  open_standard_streams();
  printf("sender (process %ld): hello through the pipe\n", own_process_id());
  return 0;
}
