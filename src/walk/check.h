// The boolean walk behind NativeValidator.validate.
#pragma once

#include "python/ref.h"
#include "python/result.h"
#include "schema/node.h"

namespace brindle {

// `data` itself (a new reference) when it satisfies `root`, None when it does not,
// or the exception the walk raised.
Result<OwnedRef> run_validate(const ValidatorNode& root, PyObject* data);

// Whether collecting the violations of `data` would find none, run no Python code
// and raise nothing: true only when the boolean walk accepts `data` having done
// nothing that the collecting walk would not do the same way. False when it cannot
// tell, which leaves no exception set and nothing changed but the UTF-8 texts that
// the collecting walk reads too.
bool valid_for_collect(const ValidatorNode& root, PyObject* data);

}  // namespace brindle
