#include <iostream>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "cli/Command.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return pulsewright::runCli(args, std::cin, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "pulsewright-cli: " << e.what() << "\n";
    return pulsewright::kExitError;
  }
}
