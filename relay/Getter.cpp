// getter: the receiving end of the relay. Reads one chunk of at most 1023
// bytes from its standard input, reports the count and shows the bytes.
#include <cstdio>
#include <cstring>

#include "key.h"
#include "pipe.h"
#include "standard_streams.h"

constexpr size_t input_buffer_size = 1024;  // one read fills at most 1023

int main() {
  open_standard_streams();
  char buffer[input_buffer_size];
  memset(buffer, 0, sizeof buffer);
  printf("Getter:getting....\n");
  // Seen while we wait, also when standard output is not a terminal.
  fflush(stdout);

  size_t count = read_once(std_handle(std_input), buffer, sizeof buffer - 1);
  printf("number of chars read in: %d \n", (int)count);
  printf("done\n");
  for (size_t i = 0; i < count; ++i) putchar((unsigned char)buffer[i]);
  fflush(stdout);

  wait_key();
  return 0;
}
