// The program: arguments, loading, one run of the kernel, output, report.
#pragma once

namespace kdsp {

// Runs the whole tool as a process would and returns the exit status.
int run_driver(int argc, char** argv);

}  // namespace kdsp
