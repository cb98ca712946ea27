// The numerics' public header: what the layers above (the estimators, the
// engine) use of them. Transforms and their plans, padding, pyramids and
// resampling, the total-variation solvers and the deconvolution driver, the
// highlights model, progress and the job context, and the GPU modules with
// their CPU gold routines' bounds.
#pragma once

#include "pipeline/deconvolve.h"
#include "pipeline/engine_types.h"
#include "pipeline/gpu_agreement.h"
#include "pipeline/highlights.h"
#include "pipeline/job_context.h"
#include "pipeline/pad_image.h"
#include "pipeline/plan_cache.h"
#include "pipeline/progress.h"
#include "pipeline/pyramid.h"
#include "pipeline/spectral.h"
#include "pipeline/tv_deconv.h"
#include "src/cuda_device.h"
#include "src/fast_deconv_gpu.h"
#include "src/gpu_check.h"
#include "src/gpu_host.h"
