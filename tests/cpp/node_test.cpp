#include "schema/node.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <cstddef>
#include <limits>

namespace brindle {
namespace {

Bounds bounds(std::optional<double> min, std::optional<double> max, bool exclusive_min = false,
              bool exclusive_max = false) {
    Bounds made;
    made.min = min;
    made.max = max;
    made.exclusive_min = exclusive_min;
    made.exclusive_max = exclusive_max;
    return made;
}

Lengths lengths(std::optional<std::uint64_t> min_len, std::optional<std::uint64_t> max_len) {
    Lengths made;
    made.min_len = min_len;
    made.max_len = max_len;
    return made;
}

// The kinds are chosen from the settings present, so that a walk never tests an
// absent one.
TEST(ValidatorNode, NumberKindFollowsSettings) {
    EXPECT_EQ(ValidatorNode::number(false, {}).kind(), NodeKind::Int);
    EXPECT_EQ(ValidatorNode::number(true, {}).kind(), NodeKind::Float);
    EXPECT_EQ(ValidatorNode::number(false, bounds(1.0, {})).kind(), NodeKind::IntRange);
    EXPECT_EQ(ValidatorNode::number(true, bounds({}, 1.0)).kind(), NodeKind::FloatRange);
    // An exclusive flag without any bound still makes the exclusive kind.
    EXPECT_EQ(ValidatorNode::number(false, bounds({}, {}, true)).kind(),
              NodeKind::IntRangeExclusive);
    EXPECT_EQ(ValidatorNode::number(true, bounds(0.0, {}, false, true)).kind(),
              NodeKind::FloatRangeExclusive);
}

TEST(ValidatorNode, BoundsAreKeptUnchanged) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ValidatorNode node = ValidatorNode::number(false, bounds(10.0, 5.0));
    EXPECT_EQ(node.bounds().low, 10.0);
    EXPECT_EQ(node.bounds().high, 5.0);
    // A NaN bound is a bound (a range kind) that nothing fails.
    ValidatorNode nan_min = ValidatorNode::number(true, bounds(nan, {}));
    EXPECT_EQ(nan_min.kind(), NodeKind::FloatRange);
    EXPECT_TRUE(std::isnan(nan_min.bounds().low));
}

TEST(ValidatorNode, ListKindFollowsLimits) {
    EXPECT_EQ(ValidatorNode::list(ValidatorNode::any(), {}).kind(), NodeKind::List);
    ValidatorNode sized = ValidatorNode::list(ValidatorNode::boolean(), lengths({}, 3));
    EXPECT_EQ(sized.kind(), NodeKind::ListSized);
    EXPECT_EQ(*sized.lengths().max_len, 3u);
    EXPECT_EQ(sized.child().kind(), NodeKind::Bool);
}

TEST(ValidatorNode, FieldsKeepOrderAndOwnTheirSubtrees) {
    NativeVector<FieldEntry> entries;
    entries.push_back({Text("b"), ValidatorNode::str(lengths(1, {}))});
    entries.push_back({Text("a"), ValidatorNode::dict(ValidatorNode::list(
                                      ValidatorNode::number(true, {}), {}))});
    ValidatorNode fields = ValidatorNode::fields(std::move(entries));
    ASSERT_EQ(fields.entries().size(), 2u);
    EXPECT_EQ(fields.entries()[0].key, "b");
    EXPECT_EQ(fields.entries()[1].key, "a");
    EXPECT_EQ(fields.entries()[1].node.child().child().kind(), NodeKind::Float);

    // Moving a tree moves ownership; the moved-to tree releases everything once
    // (checked under the sanitizers and valgrind).
    ValidatorNode moved = std::move(fields);
    EXPECT_EQ(moved.entries()[0].node.kind(), NodeKind::Str);
}

// A tree is released on whichever thread drops it last, whose stack may be far
// smaller than the compiling thread's. 10,000 levels on a 64 KiB stack: a release
// that recursed once per level would need several times that stack and crash.
TEST(ValidatorNode, DeepTreesReleaseOnASmallStack) {
    Box<ValidatorNode> tree = make_box<ValidatorNode>(ValidatorNode::any());
    for (int depth = 0; depth < 10000; ++depth) {
        *tree = ValidatorNode::list(std::move(*tree), {});
    }
    ASSERT_EQ(tree->kind(), NodeKind::List);

    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, std::size_t{64} * 1024), 0);
    pthread_t thread;
    auto release = [](void* held) -> void* {
        static_cast<Box<ValidatorNode>*>(held)->reset();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, release, &tree), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    EXPECT_FALSE(tree);
}

}  // namespace
}  // namespace brindle
