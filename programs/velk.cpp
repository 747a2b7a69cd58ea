// velk: the command line for build pipelines.
#include "cli/app.hpp"

int main(int argc, char** argv) { return velk::cli::run(argc, argv); }
