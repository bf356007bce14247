// quillmarsh-codegen: started by Cargo as the protocol crate's build step.
#include <string_view>
#include <vector>

#include "driver/driver.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  return qm::run_program(args, QM_CODEGEN_VERSION);
}
