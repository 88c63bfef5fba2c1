// The live sources' benchmarks, run by kdsp_bench beside the signal path's.
#pragma once

namespace kdsp {

// Registers them; `short_run` reads a small file, for CI.
void register_live_benchmarks(bool short_run);

}  // namespace kdsp
