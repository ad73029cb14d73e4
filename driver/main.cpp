// facup: the factory upgrade tool. No argument for message boxes, "-s" for the result file.
#include "driver.h"

int main(int argc, char **argv) { return facup_main(argc, argv); }
