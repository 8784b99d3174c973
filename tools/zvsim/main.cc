// zvsim: a Zorvane Server simulator for trying and testing the console.
#include <string>
#include <vector>

#include "zvsim/run.h"

int main(int argc, char** argv) {
  return zv::sim::RunSimulator(std::vector<std::string>(argv + 1, argv + argc));
}
