// Placeholder until the blind estimator lands: refuses every call.
#include "pipeline/engine.h"

int DeblurImage(const float*, float*, int, int, int, float*, int, int, float, float, float, int,
                int, bool, ProgressCell*) {
  return kEngineInvalidArgument;
}
