#include "dsdgen/dsdgen.h"

int main() { return 0; }
