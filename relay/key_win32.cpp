#include "key.h"

#include <conio.h>

// Without a console _getch fails at once, so a process without one never waits.
void wait_key() { _getch(); }
