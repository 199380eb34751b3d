#include "blockmeter.h"
#include "standard_streams.h"

int main(int argc, char **argv) {
  open_standard_streams();
  return run_blockmeter(argc, argv);
}
