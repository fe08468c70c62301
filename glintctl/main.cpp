#include "glintctl.h"

int main(int argc, char** argv) { return GlintctlMain(argc, argv); }
