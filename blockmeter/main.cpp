#include "blockmeter.h"

int main(int argc, char **argv) { return run_blockmeter(argc, argv); }
