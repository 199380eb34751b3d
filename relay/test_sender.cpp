#include "test_sender.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "pipe.h"

int main() {
  char mode[32] = "";
  FILE *file = fopen("sender_mode", "r");
  if (file == nullptr || fscanf(file, "%31s", mode) != 1) {
    fprintf(stderr, "test_sender: no mode in ./sender_mode\n");
    return 2;
  }
  fclose(file);

  std::string message = test_message(mode);
  if (std::string(mode) == "slow") std::this_thread::sleep_for(std::chrono::milliseconds(slow_sender_ms));
  if (std::string(mode) == "handles") {
    char line[64];
    snprintf(line, sizeof line, "handles beyond the standard three: %d\n", count_other_handles());
    message = line;
  }
  if (std::string(mode) == "access") {
    static const char *const answers[] = {"cannot tell", "no", "yes"};
    message = std::string("pipe open to every account: ") + answers[output_open_to_all() + 1] + "\n";
  }
  // Exactly these bytes, with one write: the C library's text mode would
  // change line ends on Windows.
  if (!message.empty()) write_once(std_handle(std_output), message.data(), message.size());
  return 0;
}
