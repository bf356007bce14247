// quillmarsh-codegen: started by Cargo as the protocol crate's build step.
#include "driver/driver.hpp"

int main() { return qm::run_build_script(); }
