#include "driver/driver.h"

int run_driver(int, char**) { return 0; }
