// Reads a schema of Python validator objects into a compiled validator tree.
#pragma once

#include <utility>
#include <variant>

#include "python/result.h"
#include "schema/node.h"

namespace brindle {

// The schema uses something the native core does not implement.
struct Unsupported {};

// A finished tree, Unsupported, or the exception raised while reading the schema.
class [[nodiscard]] CompileOutcome {
public:
    CompileOutcome(ValidatorNode node) : state_(std::move(node)) {}
    CompileOutcome(Unsupported) : state_(Unsupported{}) {}
    CompileOutcome(Failure failure) : state_(std::move(failure)) {}

    bool is_node() const noexcept { return std::holds_alternative<ValidatorNode>(state_); }
    bool is_unsupported() const noexcept { return std::holds_alternative<Unsupported>(state_); }
    ValidatorNode take_node() && noexcept {
        return std::move(*std::get_if<ValidatorNode>(&state_));
    }
    Failure take_failure() && noexcept { return std::move(*std::get_if<Failure>(&state_)); }

private:
    std::variant<ValidatorNode, Unsupported, Failure> state_;
};

// Compiles a schema object (borrowed). Keeps no reference to it or anything in it.
CompileOutcome compile(PyObject* schema);

}  // namespace brindle
