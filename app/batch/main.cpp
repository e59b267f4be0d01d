// ratemover-batch: one transfer for scheduled jobs, without a display.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "app/batch/batch_job.h"

int main(int argc, char** argv) {
  // A rate file that reaches the size limit fails its write (and is reported,
  // with the file left empty) instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return ratemover::batch::RunBatchJob(arguments, std::cout, std::cerr);
}
