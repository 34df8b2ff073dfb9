#include "walk/common.h"

#include "walk/record.h"

namespace brindle {

namespace {

// How many times the stack a level of the boolean walk takes that a first pass
// leaves for the collecting walk, whose frames per level are larger: a first pass
// may only go as deep as the collecting walk surely can.
constexpr std::uintptr_t kCollectStackFactor = 16;

}  // namespace

[[gnu::noinline]] WalkContext::WalkContext(FirstPass) noexcept : first_pass_(true) {
    auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    if (stack_floor_ != 0 && here > stack_floor_) {
        stack_floor_ = here - (here - stack_floor_) / kCollectStackFactor;
    }
}

IntRead read_walk_i64_slow(PyObject* object, std::int64_t& value, WalkContext& context) {
    const bool calls_index = !is_int(object);
    if (calls_index) {
        // __index__ would run, and run again in the collecting walk.
        if (context.first_pass()) return IntRead::NotInt;
        context.clock().python_may_run();
    }
    // The object may be lent by its container, and __index__ may take it out of there.
    auto held = OwnedRef::borrow(object);
    auto read = read_i64(object);
    if (read) {
        value = read.value();
        return IntRead::Read;
    }
    // The interpreter made an exception, whose allocation may have run a collection.
    if (!calls_index) context.clock().python_may_run();
    Failure failure = std::move(read).take_failure();
    if (PyErr_GivenExceptionMatches(failure.exception_type(), PyExc_Exception)) {
        return IntRead::NotInt;  // dropped: an unreadable integer is a violation
    }
    context.fail(std::move(failure));
    return IntRead::Failed;
}

[[gnu::noinline]] bool names_field_apart(std::span<const FieldEntry> entries, std::size_t field,
                                         PyObject* key) noexcept {
    return names_field_by_text(entries, field, key);
}

Result<NativeVector<std::uint8_t>> fields_named(std::span<const FieldEntry> entries,
                                                PyObject* dict) {
    NativeVector<std::uint8_t> named(entries.size(), 0);
    DictCursor cursor(dict);
    OwnedRef key;
    OwnedRef value;
    while (cursor.next(key, value)) {
        // The walk has read every key already; only Python code run since then could
        // have put a key here that is not a str.
        if (!is_str(key.get())) continue;
        auto text = utf8_view(key.get());
        if (!text) return std::move(text).take_failure();
        std::size_t field = find_field(entries, text.value());
        if (field != kNoField) named[field] = 1;
    }
    return named;
}

}  // namespace brindle
