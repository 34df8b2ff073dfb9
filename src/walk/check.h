// The boolean walk behind NativeValidator.validate.
#pragma once

#include "python/ref.h"
#include "python/result.h"
#include "schema/node.h"

namespace brindle {

// `data` itself (a new reference) when it satisfies `root`, None when it does not,
// or the exception the walk raised.
Result<OwnedRef> run_validate(const ValidatorNode& root, PyObject* data);

}  // namespace brindle
