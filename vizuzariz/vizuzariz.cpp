// Two threads of one process print numbered, labelled lines to the same
// standard output at once; the process then waits for one character and
// exits with its code.
#include <stdio.h>

#include <system_error>
#include <thread>

#include "process_end.h"
#include "standard_streams.h"

static int novaFunkcija(void *) {
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 30; ++j) printf("Nit II : i=%d \n", i * 1000 + j + 1);
  return 0;
}

int main() {
  open_standard_streams();
  try {
    std::thread(novaFunkcija, nullptr).detach();
  } catch (const std::system_error &) {
    // A second thread that cannot start is not this program's failure: the
    // main thread's part goes on alone.
  }
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 30; ++j) printf("Nit I : i=%d \n", i * 1000 + j + 1);
  // Ending here, not by returning from main, keeps the exit-time flush from
  // racing a second thread that is still printing.
  end_process(getchar());
}
