#include "process_id.h"

#include <windows.h>

long own_process_id() { return (long)GetCurrentProcessId(); }
