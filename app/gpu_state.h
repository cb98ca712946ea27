// The answers of the start-up GPU tests, held for the whole run.
#pragma once

// True when a CUDA device is present and cuFFT could be loaded; cleared by
// the main window when cuFFT is missing. New documents run on the GPU when
// it is set.
extern bool gpuAvailable;

// True when a CUDA device is present but cuFFT could not be loaded.
extern bool cufftMissing;

// Runs the device test and, only when a device exists, the cuFFT load.
// Called once, before the application object exists.
void RunGpuTests();
