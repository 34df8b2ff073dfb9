// The error-collecting walk behind NativeValidator.collect.
#pragma once

#include "python/ref.h"
#include "python/result.h"
#include "schema/node.h"

namespace brindle {

// A new list of every (path, message, value) violation of `data` against `root`,
// None when the native core declines the value, or the exception the walk raised.
Result<OwnedRef> run_collect(const ValidatorNode& root, PyObject* data);

// Drops the shared messages without releasing them, for a runtime that has been
// finalized (and freed them): the next use makes them again.
void forget_fixed_messages() noexcept;

}  // namespace brindle
