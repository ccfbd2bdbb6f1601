#include <vector>

#include <gtest/gtest.h>

#include "core/pool.h"
#include "core/registry.h"
#include "tests/support/test_support.h"
#ifndef _WIN32
#include "platform/faults.h"
#endif

namespace {

struct Thing {
    uintptr_t live;
    int value;
};

ObjectRegistry* things;
std::vector<ObjectId> released;

intptr_t release_thing(ObjectId v) {
    if (!registry_lookup(things, v)) return 0;
    released.push_back(v);
    registry_release(things, v);
    return 1;
}

Thing* make(ObjectId n, int value) {
    auto* t = static_cast<Thing*>(registry_obtain(things, n));
    t->live = 1;
    t->value = value;
    return t;
}

struct RegistryTest : ::testing::Test {
    kt::Runtime runtime;
    void SetUp() override {
        things = registry_create(sizeof(Thing), 16, release_thing);
        released.clear();
    }
};

TEST_F(RegistryTest, NumberZeroIsAnOrdinaryNumber) {
    EXPECT_EQ(registry_lookup(things, 0), nullptr);
    Thing* t = make(0, 7);
    EXPECT_EQ(registry_lookup(things, 0), t);
    release_thing(0);
    EXPECT_EQ(registry_lookup(things, 0), nullptr);
}

TEST_F(RegistryTest, GrowsToNumberPlusStep) {
    EXPECT_EQ(things->capacity, 16);
    make(10, 1);
    EXPECT_EQ(things->capacity, 16);
    make(16, 2);
    EXPECT_EQ(things->capacity, 32);
    make(40, 3);
    EXPECT_EQ(things->capacity, 56);
    // Records survive the growth of the slot table.
    EXPECT_EQ(static_cast<Thing*>(registry_lookup(things, 10))->value, 1);
    EXPECT_EQ(static_cast<Thing*>(registry_lookup(things, 16))->value, 2);
}

// Numbers whose slot table would pass 2 GiB are refused before any
// allocation: in a 32-bit build the table's size would wrap (0x40000000
// minus the step to 0 bytes) and the slot would be written out of bounds.
TEST_F(RegistryTest, NumbersBeyondAnyTableAreRefused) {
    const ObjectId first_refused = INT32_MAX / int32_t(sizeof(void*)) - 16 + 1;
#ifndef _WIN32
    // Refused before any allocation is tried; one number lower, the table
    // (2 GiB less a slot) is asked for (and made to fail here).
    posix_fail_nth(FaultCall::heap_alloc, 1);
    EXPECT_EQ(registry_obtain(things, first_refused), nullptr);
    EXPECT_EQ(posix_calls_made(FaultCall::heap_alloc), 0u);
    EXPECT_EQ(registry_obtain(things, first_refused - 1), nullptr);
    EXPECT_EQ(posix_calls_made(FaultCall::heap_alloc), 1u);
    posix_fail_nth(FaultCall::heap_alloc, 0);
#endif
    // A small fixed heap, so that a table asked for in earnest fails too.
    HANDLE growable = main_heap;
    main_heap = HeapCreate(0, 0, 65536);
    ASSERT_NE(main_heap, nullptr);
    things = registry_create(sizeof(Thing), 16, release_thing);
    for (ObjectId n : {ObjectId(0x40000000 - 16), ObjectId(0x40000000), ObjectId(0x7FFFFFFF - 16),
                       first_refused}) {
        EXPECT_EQ(registry_obtain(things, n), nullptr) << n;
        EXPECT_EQ(things->capacity, 16) << n;
    }
    make(15, 4);
    EXPECT_EQ(static_cast<Thing*>(registry_lookup(things, 15))->value, 4);
    HeapDestroy(main_heap);
    main_heap = growable;
}

TEST_F(RegistryTest, ReleasedNumberIsReusedZeroed) {
    Thing* first = make(10, 5);
    release_thing(10);
    EXPECT_EQ(registry_lookup(things, 10), nullptr);
    auto* again = static_cast<Thing*>(registry_obtain(things, 10));
    EXPECT_EQ(again, first);
    EXPECT_EQ(again->value, 0);
}

TEST_F(RegistryTest, ObtainingALiveNumberClosesTheOldObjectFirst) {
    make(3, 9);
    auto* t = static_cast<Thing*>(registry_obtain(things, 3));
    EXPECT_EQ(released, std::vector<ObjectId>{3});
    EXPECT_EQ(t->live, 0u);
    EXPECT_EQ(t->value, 0);
}

TEST_F(RegistryTest, DynamicObjectsAreNamedByTheirRecordAddress) {
    Thing* a = make(ANY_OBJECT, 1);
    EXPECT_EQ(registry_lookup(things, handle_of(a)), a);
    release_thing(handle_of(a));
    EXPECT_EQ(released, std::vector<ObjectId>{handle_of(a)});
}

TEST_F(RegistryTest, ForeignAndOutOfRangeValuesAreIgnored) {
    make(1, 1);
    Thing outsider{1, 0};
    EXPECT_EQ(registry_lookup(things, -5), nullptr);
    EXPECT_EQ(registry_lookup(things, 1000), nullptr);
    EXPECT_EQ(registry_lookup(things, things->capacity), nullptr); // one past the table
    EXPECT_EQ(registry_lookup(things, handle_of(&outsider)), nullptr);
    registry_release(things, -5);
    registry_release(things, 1000);
    registry_release(things, handle_of(&outsider));
    EXPECT_EQ(outsider.value, 0);
    EXPECT_EQ(outsider.live, 1u);
    EXPECT_EQ(registry_obtain(things, -7), nullptr);
    EXPECT_NE(registry_lookup(things, 1), nullptr);
}

TEST_F(RegistryTest, ReleaseAllGoesByRisingNumberThenOldestDynamicFirst) {
    Thing* older = make(ANY_OBJECT, 1);
    make(10, 2);
    Thing* newer = make(ANY_OBJECT, 3);
    make(0, 4);
    registry_release_all(things);
    EXPECT_EQ(released, (std::vector<ObjectId>{0, 10, handle_of(older), handle_of(newer)}));
    EXPECT_EQ(things->dynamic_list, nullptr);
    // A registry with no release routine has nothing to call.
    ObjectRegistry* plain = registry_create(sizeof(Thing), 4, nullptr);
    ASSERT_NE(plain, nullptr);
    static_cast<Thing*>(registry_obtain(plain, 1))->live = 1;
    registry_release_all(plain);
}

TEST_F(RegistryTest, EnumerationSkipsDeadNumbersAndSurvivesReleaseOfTheCurrentRecord) {
    make(2, 1);
    make(5, 2);
    release_thing(5);
    make(7, 3);
    Thing* a = make(ANY_OBJECT, 4);
    Thing* b = make(ANY_OBJECT, 5);
    const std::vector<ObjectId> all{2, 7, handle_of(a), handle_of(b)};
    std::vector<ObjectId> seen;
    ObjectId id;
    for (void* r = registry_first(things, &id); r && seen.size() < 10;
         r = registry_next(things, &id))
        seen.push_back(id);
    EXPECT_EQ(seen, all) << "looked at only";
    seen.clear();
    for (void* r = registry_first(things, &id); r; r = registry_next(things, &id)) {
        seen.push_back(id);
        release_thing(id); // the record just handed out
    }
    EXPECT_EQ(seen, all);
    EXPECT_EQ(registry_first(things, &id), nullptr);
    // Releasing the record that comes next skips it.
    a = make(ANY_OBJECT, 6);
    b = make(ANY_OBJECT, 7);
    Thing* c = make(ANY_OBJECT, 8);
    seen.clear();
    for (void* r = registry_first(things, &id); r; r = registry_next(things, &id)) {
        seen.push_back(id);
        if (r == a) release_thing(handle_of(b));
    }
    EXPECT_EQ(seen, (std::vector<ObjectId>{handle_of(a), handle_of(c)}));
}

#ifndef _WIN32
// Memory that runs short takes no number and moves no record.
TEST_F(RegistryTest, ObtainingWithoutMemoryChangesNothing) {
    Thing* kept = make(3, 8);
    for (ObjectId n : {ObjectId(40), ObjectId(5), ANY_OBJECT}) {
        posix_fail_nth(FaultCall::heap_alloc, 1);
        EXPECT_EQ(registry_obtain(things, n), nullptr) << n;
    }
    for (uint32_t k : {1u, 2u}) { // the registry, then its table
        posix_fail_nth(FaultCall::heap_alloc, k);
        EXPECT_EQ(registry_create(sizeof(Thing), 16, release_thing), nullptr) << k;
    }
    posix_fail_nth(FaultCall::heap_alloc, 1);
    EXPECT_EQ(pool_create(8, 1, 1), nullptr);
    posix_fail_nth(FaultCall::heap_alloc, 0);
    EXPECT_EQ(things->capacity, 16);
    EXPECT_EQ(registry_lookup(things, 5), nullptr);
    EXPECT_EQ(things->dynamic_list, nullptr);
    EXPECT_EQ(registry_lookup(things, 3), kept);
    EXPECT_EQ(kept->value, 8);
    make(40, 1);
    EXPECT_EQ(things->capacity, 56);
}
#endif

TEST(DynamicList, AddPutsNewestAtHeadAndRemoveUnlinksAnyPosition) {
    kt::Runtime runtime;
    DynamicBlock* head = nullptr;
    auto* a = static_cast<int*>(list_add(&head, sizeof(int)));
    auto* b = static_cast<int*>(list_add(&head, sizeof(int)));
    auto* c = static_cast<int*>(list_add(&head, sizeof(int)));
    EXPECT_EQ(*a + *b + *c, 0); // zeroed payloads
    list_remove(&head, b);      // middle
    EXPECT_EQ(reinterpret_cast<int*>(head + 1), c);
    EXPECT_EQ(reinterpret_cast<int*>(head->older + 1), a);
    EXPECT_EQ(head->older->newer, head);
    list_remove(&head, c); // head
    EXPECT_EQ(reinterpret_cast<int*>(head + 1), a);
    EXPECT_EQ(head->newer, nullptr);
    list_remove(&head, a);
    EXPECT_EQ(head, nullptr);
    list_remove(&head, nullptr); // nothing to remove
}

TEST(StateBlock, IsZeroedAndPassedToItsInitialiser) {
    kt::Runtime runtime;
    auto init = [](void* block) { static_cast<int*>(block)[1] = 42; };
    auto* block = static_cast<int*>(state_block_create(4 * sizeof(int), init));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], 42);
    EXPECT_EQ(block[3], 0);
}

} // namespace
