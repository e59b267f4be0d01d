// ratemover-batch: one transfer for scheduled jobs, without a display.
#include <iostream>
#include <string>
#include <vector>

#include "app/batch/batch_job.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return ratemover::batch::RunBatchJob(arguments, std::cout, std::cerr);
}
