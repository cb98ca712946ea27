// Runs independent per-plane work of one engine call on the machine's cores.
// Every plane gives the same result as a sequential run: the planes share
// only read-only data, and transform planning is serialised (spectral.cpp).
#pragma once

#include <cstddef>
#include <functional>

namespace velmora {

// Calls task(plane) for every plane in [0, planes). Uses up to one thread per
// core while planes x bytesPerPlane (the scratch memory one task needs) stays
// within the engine's budget for concurrent work; otherwise one plane after
// another. An exception thrown by a task is rethrown here once all started
// tasks have ended.
void ForEachPlane(int planes, size_t bytesPerPlane, const std::function<void(int)>& task);

}  // namespace velmora
