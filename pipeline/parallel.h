// OpenMP's thread queries, or their one-thread answers in a build without
// OpenMP (the thread checker's build, whose pragmas are then ignored).
#pragma once

#ifdef _OPENMP
#include <omp.h>
#else
inline int omp_get_max_threads() { return 1; }
inline int omp_get_thread_num() { return 0; }
inline int omp_get_num_threads() { return 1; }
inline void omp_set_num_threads(int) {}
#endif
