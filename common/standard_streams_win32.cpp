#include "standard_streams.h"

void open_standard_streams() {}
