// The estimators' public header: what the engine uses of them. Each
// estimator returns a kernel and states its memory peak; the engine
// restores the picture with the kernel.
#pragma once

#include "estimation/estimate_kernel.h"
#include "estimation/gpu_estimation_check.h"
#include "estimation/kernel_cleanup.h"
#include "estimation/sharp_estimator.h"
#include "estimation/sharp_params.h"
