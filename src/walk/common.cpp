#include "walk/common.h"

namespace brindle {

IntRead read_walk_i64_slow(PyObject* object, std::int64_t& value, WalkContext& context) {
    // The object may be lent by its container, and __index__ may take it out of there.
    auto held = OwnedRef::borrow(object);
    auto read = read_i64(object);
    if (read) {
        value = read.value();
        return IntRead::Read;
    }
    Failure failure = std::move(read).take_failure();
    if (PyErr_GivenExceptionMatches(failure.exception_type(), PyExc_Exception)) {
        return IntRead::NotInt;  // dropped: an unreadable integer is a violation
    }
    context.fail(std::move(failure));
    return IntRead::Failed;
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
