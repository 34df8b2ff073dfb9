// The error-collecting walk behind NativeValidator.collect.
#pragma once

#include "python/ref.h"
#include "python/result.h"
#include "schema/node.h"

namespace brindle {

// A new list of every (path, message, value) violation of `data` against `root`,
// None when the native core declines the value, or the exception the walk raised.
Result<OwnedRef> run_collect(const ValidatorNode& root, PyObject* data);

}  // namespace brindle
