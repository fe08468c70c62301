#include "glintwatch.h"

int main(int argc, char** argv) { return GlintwatchMain(argc, argv); }
