// Stepping through dicts and lists, the only code that reads their storage.
//
// Rules of use. Python code run in the middle of a walk (an __index__, a finalizer
// run by a collection) may change, or drop the last reference to, any container
// being walked and anything it lends. So:
//
// 1. A PythonClock counts the points of a walk where Python code may run, and is
//    moved before each of them runs. While the clock stands, no Python code has run:
//    every container is as it was, and every object it lent is alive.
// 2. A cursor made with a clock steps without checks while the clock stands, and
//    with every check once it has moved; the cursor alone decides, so no caller can
//    take an unchecked step after Python code ran. A cursor made without one (for
//    code that may run Python code anywhere, like the compiler) checks every step.
// 3. The checked steps: a list is walked up to the smaller of its length when the
//    cursor was made and its current length; a dict faults when its size changes,
//    and when it yields more entries than it held when the cursor was made.
// 4. A cursor lends its container's objects. Code that may run Python code holds
//    what it uses first: an integer read holds the value it reads, and a cursor
//    holds its container before anything may run Python code (a dict's from the
//    start; a list's from before each()'s first full check, and a checked step
//    faults on a list cursor that does not).
// 5. A restart hands over the cursor itself, never an index or a position: the
//    starting length and the count of entries taken travel with it.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "python/fault.h"
#include "python/ref.h"

namespace brindle {

// Counts the points of one walk where Python code may run.
class PythonClock {
public:
    std::uint64_t now() const noexcept { return ticks_; }
    // Called before anything that may run Python code runs.
    void python_may_run() noexcept { ++ticks_; }

    // A clock for code that may run Python code anywhere: cursors made with it
    // check every step. It never moves, and never reads as the time they start at.
    static const PythonClock kEverywhere;
    static constexpr std::uint64_t kNever = ~std::uint64_t{0};

private:
    std::uint64_t ticks_ = 0;
};

inline const PythonClock PythonClock::kEverywhere;

// The stored sizes, for the length tests that come before any item is read.
inline Py_ssize_t list_length(PyObject* list) noexcept { return PyList_GET_SIZE(list); }
inline Py_ssize_t dict_length(PyObject* dict) noexcept { return PyDict_GET_SIZE(dict); }

// Steps through a list's own storage (a subclass's __len__ and __getitem__ are
// never called): a list that shrinks ends early, and items added after the cursor
// was made are not visited.
class ListCursor {
public:
    ListCursor(PyObject* list, const PythonClock& clock) noexcept
        : list_(list), clock_(clock), since_(clock.now()), start_size_(PyList_GET_SIZE(list)) {}
    ~ListCursor() {
        if (held_) Py_DECREF(list_);
    }
    ListCursor(const ListCursor&) = delete;
    ListCursor& operator=(const ListCursor&) = delete;

    // Takes the cursor's own reference to the list, once.
    void hold() noexcept {
        if (!held_) {
            Py_INCREF(list_);
            held_ = true;
        }
    }

    // The next item, lent by the list, or null at the end.
    PyObject* next() {
        if (stands()) [[likely]] {
            if (index_ >= start_size_) return nullptr;
            return item_at(index_++);
        }
        return next_checked();
    }

    // The index of the item returned last.
    Py_ssize_t index() const noexcept { return index_ - 1; }

    // How each() runs its loop of quick checks: in a function of its own (Apart),
    // where a small check taken by value keeps everything in registers, or inline
    // (Inline), where a large one shares the caller's frame with its state.
    enum class QuickLoop : std::uint8_t { Apart, Inline };

    // Visits the items left. `quick_valid(item)` answers for an item by a check that
    // can run no Python code: true passes over it. Otherwise `full(item)` checks it,
    // and may run Python code (the list is held first); its false ends the visit,
    // and each() returns false. While the clock stands the items are read in a loop
    // that makes no call but full's.
    template <QuickLoop Loop = QuickLoop::Apart, class QuickValid, class Full>
    [[gnu::always_inline]] bool each(QuickValid&& quick_valid, Full&& full);

    // Visits the items left with `full(item)` alone, for items that no quick check
    // can answer for (containers): the list is held first, and its false ends the
    // visit, as for each().
    template <class Full>
    [[gnu::always_inline]] bool each_full(Full&& full) {
        hold();
        while (PyObject* item = next()) {
            if (!full(item)) return false;
        }
        return true;
    }

    // Whether `quick_valid` accepts every item of `list`. Nothing can change the
    // list while checks that run no Python code look at it, so no step is checked.
    template <class QuickValid>
    [[gnu::always_inline]] static bool all_quick(PyObject* list, QuickValid&& quick_valid) {
        const Py_ssize_t size = PyList_GET_SIZE(list);
        PyObject* const* const items = reinterpret_cast<PyListObject*>(list)->ob_item;
        for (Py_ssize_t index = 0; index < size; ++index) {
            PyObject* item = items[index];
            if (item == nullptr || !quick_valid(item)) [[unlikely]] return false;
        }
        return true;
    }

private:
    bool stands() const noexcept { return clock_.now() == since_; }

    // The index of the first item from `index` on that `quick_valid` does not
    // accept, or `size`: a loop of its own, which makes no call and so keeps its
    // state in registers (the check's own settings too, taken by value), laid out
    // straight. Aligned: how the loop falls across 64-byte fetch windows decides its
    // speed (the same loop over 100,000 ints took 84 or 110 us by where the linker
    // put it).
    template <class QuickValid>
    [[gnu::noinline, gnu::aligned(64)]] static Py_ssize_t quick_run(PyObject* const* items,
                                                                    Py_ssize_t index,
                                                                    Py_ssize_t size,
                                                                    QuickValid quick_valid) {
        return quick_run_inline(items, index, size, quick_valid);
    }

    template <class QuickValid>
    [[gnu::always_inline]] static Py_ssize_t quick_run_inline(PyObject* const* items,
                                                              Py_ssize_t index, Py_ssize_t size,
                                                              QuickValid& quick_valid) {
        for (; index < size; ++index) {
            PyObject* item = items[index];
            if (item == nullptr) [[unlikely]] api_call_failed();  // a list still being filled
            if (!quick_valid(item)) [[unlikely]] break;
        }
        return index;
    }

    PyObject* item_at(Py_ssize_t index) const {
        PyObject* item = PyList_GET_ITEM(list_, index);
        if (item == nullptr) [[unlikely]] api_call_failed();  // a list still being filled
        return item;
    }

    PyObject* next_checked() {
        if (!held_) [[unlikely]] raise_fault("a list was stepped through after Python code ran, unheld");
        Py_ssize_t limit = PyList_GET_SIZE(list_);
        if (start_size_ < limit) limit = start_size_;
        if (index_ >= limit) return nullptr;
        return item_at(index_++);
    }

    PyObject* list_;  // lent by the caller until hold()
    const PythonClock& clock_;
    std::uint64_t since_;
    Py_ssize_t start_size_;
    Py_ssize_t index_ = 0;
    bool held_ = false;
};

template <ListCursor::QuickLoop Loop, class QuickValid, class Full>
inline bool ListCursor::each(QuickValid&& quick_valid, Full&& full) {
    if (stands()) [[likely]] {
        PyObject* const* const items = reinterpret_cast<PyListObject*>(list_)->ob_item;
        const Py_ssize_t size = start_size_;
        Py_ssize_t index = index_;
        for (;;) {
            index = Loop == QuickLoop::Apart ? quick_run(items, index, size, quick_valid)
                                             : quick_run_inline(items, index, size, quick_valid);
            index_ = index;
            if (index == size) return true;
            PyObject* item = items[index++];
            index_ = index;
            hold();
            if (!full(item)) return false;
            if (!stands()) [[unlikely]] break;  // the checked steps take over
        }
    }
    while (PyObject* item = next_checked()) {
        if (quick_valid(item)) continue;
        if (!full(item)) return false;
    }
    return true;
}

struct DictStop;

// Steps through a dict's own storage in insertion order (PyDict_Next), faulting
// when Python code run between steps changed the dict under it. A cursor holds its
// dict from the start: a walk makes one only where Python code may run before it is
// done (a quick pass steps through a record with no cursor, DictCursor::quick_steps).
class DictCursor {
public:
    // For code that may run Python code anywhere: every step is checked.
    explicit DictCursor(PyObject* dict) noexcept
        : DictCursor(dict, PythonClock::kEverywhere, PythonClock::kNever) {}
    // For a walk: see the rules above.
    DictCursor(PyObject* dict, const PythonClock& clock) noexcept
        : DictCursor(dict, clock, clock.now()) {}
    ~DictCursor() { Py_XDECREF(dict_); }
    // Hands the cursor over, with its reference (a restart goes on with it).
    DictCursor(DictCursor&& other) noexcept
        : dict_(std::exchange(other.dict_, nullptr)),
          clock_(other.clock_),
          since_(other.since_),
          start_size_(other.start_size_),
          countdown_(other.countdown_),
          pos_(other.pos_) {}
    DictCursor& operator=(DictCursor&&) = delete;
    DictCursor(const DictCursor&) = delete;
    DictCursor& operator=(const DictCursor&) = delete;

    // Sets the next key and value, lent by the dict; false at the end.
    bool next(PyObject*& key, PyObject*& value) {
        if (stands()) [[likely]] {
            if (countdown_ == 0) return false;
            take(key, value);
            return true;
        }
        return next_checked(key, value);
    }

    // As next(), with new references.
    bool next(OwnedRef& key, OwnedRef& value) {
        PyObject* lent_key = nullptr;
        PyObject* lent_value = nullptr;
        if (!next(lent_key, lent_value)) return false;
        key = OwnedRef::borrow(lent_key);
        value = OwnedRef::borrow(lent_value);
        return true;
    }

    // What a visit of quick_steps() answers for an entry: go on to the next, stop
    // there for good, or stop there with a cursor to go on from.
    enum class Visited : std::uint8_t { Next, Stop, StopToResume };

    // Takes the entries of `dict`, lent by a holder, calling visit(index, key,
    // value) on each until it answers a stop; true when every entry was visited. For
    // a visit that runs no Python code (quick checks), so no step needs a check: the
    // steps keep their state in registers, with no cursor made until the visit
    // stops to resume, in `stop`.
    template <class Visit>
    [[gnu::always_inline]] static bool quick_steps(PyObject* dict, const PythonClock& clock,
                                                   DictStop& stop, Visit&& visit);

private:
    DictCursor(PyObject* dict, const PythonClock& clock, std::uint64_t since) noexcept
        : dict_(dict),
          clock_(&clock),
          since_(since),
          start_size_(PyDict_GET_SIZE(dict)),
          countdown_(start_size_) {
        Py_INCREF(dict);
    }

    bool stands() const noexcept { return clock_->now() == since_; }

    // A step the dict, unchanged, must have an entry for.
    void take(PyObject*& key, PyObject*& value) {
        if (!PyDict_Next(dict_, &pos_, &key, &value)) [[unlikely]] api_call_failed();
        --countdown_;
    }

    bool next_checked(PyObject*& key, PyObject*& value) {
        if (PyDict_GET_SIZE(dict_) != start_size_) [[unlikely]] {
            raise_fault("dictionary changed size during iteration");
        }
        if (countdown_ == -1) [[unlikely]] raise_fault("dictionary keys changed during iteration");
        if (!PyDict_Next(dict_, &pos_, &key, &value)) return false;
        --countdown_;
        return true;
    }

    PyObject* dict_;  // owned; null once handed over
    const PythonClock* clock_;
    std::uint64_t since_;
    Py_ssize_t start_size_;
    Py_ssize_t countdown_;
    Py_ssize_t pos_ = 0;
};

// Where DictCursor::quick_steps() stopped to resume: the cursor, made after the entry
// stopped at, for the full checks to go on with, and that entry (lent by the dict).
// The members but the cursor are set only where it is: a DictStop is made for every
// quick pass, and most need none of it.
struct DictStop {
    std::optional<DictCursor> cursor;
    std::size_t index;
    PyObject* key;
    PyObject* value;
};

template <class Visit>
inline bool DictCursor::quick_steps(PyObject* dict, const PythonClock& clock, DictStop& stop,
                                    Visit&& visit) {
    const std::size_t size = static_cast<std::size_t>(PyDict_GET_SIZE(dict));
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    for (std::size_t index = 0; index < size; ++index) {
        if (!PyDict_Next(dict, &pos, &key, &value)) [[unlikely]] api_call_failed();
        const Visited visited = visit(index, key, value);
        if (visited != Visited::Next) [[unlikely]] {
            if (visited == Visited::Stop) return false;
            stop.cursor.emplace(dict, clock);
            stop.cursor->pos_ = pos;
            stop.cursor->countdown_ = static_cast<Py_ssize_t>(size - index - 1);
            stop.index = index;
            stop.key = key;
            stop.value = value;
            return false;
        }
    }
    return true;
}

}  // namespace brindle
