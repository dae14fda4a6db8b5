#include "program.h"

int main(int argc, char** argv) { return runQuillora(argc, argv); }
