// Many pictures in one invocation: each restored in turn with the same
// settings into one folder, a line of progress per picture and a summary
// table at the end. One bad picture does not stop the others; a signal
// stops the picture at work and skips the rest.
#pragma once

#include <filesystem>
#include <vector>

#include "cli/deblur_command.h"

namespace velmora::cli {

// Where a picture's result and kernel go in the batch's folder:
// DIR/<stem>_deblurred.<the input's extension> (.png when that is no format
// the tool writes) and DIR/<stem>_kernel.png.
DeblurCommand BatchItem(const DeblurCommand& settings, const std::filesystem::path& input,
                        const std::filesystem::path& outputDir);

// Restores every input with `settings` (its input, output and kernelOut
// are ignored) into outputDir, created when missing. Two inputs whose
// results would share a name are refused before any work. Returns the
// worst exit status of the pictures (0 when all were restored).
int RunBatch(const DeblurCommand& settings, const std::vector<std::filesystem::path>& inputs,
             const std::filesystem::path& outputDir);

}  // namespace velmora::cli
