// Pieces shared by the two walks: the outcome of a step and the walk's context,
// reading integers as a walk reads them, and the re-check of the fields a dict's
// keys name.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "core/stack.h"
#include "python/access.h"
#include "python/cursor.h"
#include "python/result.h"
#include "schema/fields.h"
#include "schema/node.h"

namespace brindle {

// How one step of a walk ended: valid, invalid, declined by the core, or failed,
// with the failure parked in the walk's context (WalkContext::fail makes that
// outcome), so that outcomes travel in a register.
enum class WalkOutcome : std::uint8_t { Valid, Invalid, Unsupported, Failed };

class WalkContext {
public:
    // A context for the boolean walk run as collect's first pass (see
    // valid_for_collect). It answers Valid only where the collecting walk would find
    // nothing and do nothing else; wherever it cannot tell without doing what that
    // walk would then do again (calling an __index__), it answers Invalid, which
    // sends collect to its own walk.
    struct FirstPass {};

    WalkContext() noexcept = default;
    explicit WalkContext(FirstPass) noexcept;

    // Parks the failure that ends the walk. Every failure ends it, at once, up to
    // the root: the walk's answer is then that exception, so no step is taken after
    // it (whatever Python code making the exception ran), and no second failure is
    // parked.
    WalkOutcome fail(Failure error) {
        failure_.emplace(std::move(error));
        return WalkOutcome::Failed;
    }

    bool first_pass() const noexcept { return first_pass_; }

    // Moved before anything in the walk that may run Python code (python/cursor.h).
    PythonClock& clock() noexcept { return clock_; }

    // The parked failure of a walk that ended failed; its absence is a defect.
    Failure take_failure() && {
        if (!failure_) raise_fault("a walk ended failed without a parked failure");
        return std::move(*failure_);
    }

    // Checked once per container level: false (and a RecursionError) when one more
    // level would come too close to the end of the stack.
    [[gnu::always_inline]] bool enter() {
        if (!stack_exhausted(stack_floor_)) [[likely]] return true;
        fail(Failure::made(PyExc_RecursionError, "maximum recursion depth exceeded while validating"));
        return false;
    }

private:
    std::optional<Failure> failure_;
    PythonClock clock_;
    // Compiled trees are as deep as the stack of the thread that compiled them
    // allowed; this thread's stack may be smaller.
    std::uintptr_t stack_floor_ = stack_floor();
    bool first_pass_ = false;
};

enum class IntRead : std::uint8_t { Read, NotInt, Failed };

IntRead read_walk_i64_slow(PyObject* object, std::int64_t& value, WalkContext& context);

// An integer read by a walk: a value that cannot be read is a violation and its
// exception is dropped. Only ordinary exceptions are dropped, though: a
// KeyboardInterrupt or SystemExit raised by an __index__ ends the walk, so that a
// user's interrupt is never lost.
[[gnu::always_inline]] inline IntRead read_walk_i64(PyObject* object, std::int64_t& value,
                                                WalkContext& context) {
    if ((Py_IS_TYPE(object, &PyLong_Type) || is_int(object)) && read_small_int(object, value))
        [[likely]] {
        return IntRead::Read;
    }
    return read_walk_i64_slow(object, value, context);
}

// Which fields the dict's keys name, read afresh from the dict. Needed only when a
// key is a str subclass: two distinct keys can then share one text, and matching
// every dict entry no longer proves that every field is present.
Result<NativeVector<std::uint8_t>> fields_named(std::span<const FieldEntry> entries,
                                                PyObject* dict);

}  // namespace brindle
