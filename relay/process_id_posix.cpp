#include "process_id.h"

#include <unistd.h>

long own_process_id() { return (long)getpid(); }
