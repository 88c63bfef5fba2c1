#include "driver/driver.h"

int main(int argc, char** argv) { return kdsp::run_driver(argc, argv); }
