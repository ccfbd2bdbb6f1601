// The event queue's logic, in both builds: order, merging of equal
// neighbours, suspension, the current event, discarding, data words, and
// node reuse from the pool without going back to the heap.
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "ui/event_queue.h"

namespace {

struct Posted {
    int32_t code;
    ObjectId object, window;
    int32_t type;
    bool operator==(const Posted&) const = default;
};

struct EventQueueTest : ::testing::Test {
    kt::Runtime runtime;
    void SetUp() override { ASSERT_TRUE(event_queue_create()); }

    static std::vector<Posted> drain() {
        std::vector<Posted> out;
        for (int i = 0; i < 10000; i++) {
            int32_t code = fetch_event();
            if (!code) break;
            out.push_back({code, event_queue->current_object, event_queue->current_window,
                           event_queue->current_type});
        }
        return out;
    }
    static void post_all(const std::vector<Posted>& events) {
        for (const Posted& e : events)
            post_event(e.code, e.object, e.window, e.type);
    }
};

struct MergeCase {
    const char* name;
    std::vector<Posted> posted;
    std::vector<Posted> handed_out;
};

const Posted CLOSE0{13116, 0, 0, 0};
const Posted MOVED0{13117, 0, 0, 0};

const MergeCase MERGE_CASES[] = {
    {"two equal neighbours are queued once", {CLOSE0, CLOSE0}, {CLOSE0}},
    {"three equal neighbours are queued once", {CLOSE0, CLOSE0, CLOSE0}, {CLOSE0}},
    {"equal events apart are queued twice", {CLOSE0, MOVED0, CLOSE0}, {CLOSE0, MOVED0, CLOSE0}},
    {"another object is another event", {CLOSE0, {13116, 1, 0, 0}}, {CLOSE0, {13116, 1, 0, 0}}},
    {"another window is another event", {CLOSE0, {13116, 0, 1, 0}}, {CLOSE0, {13116, 0, 1, 0}}},
    {"another type is another event", {CLOSE0, {13116, 0, 0, 2}}, {CLOSE0, {13116, 0, 0, 2}}},
    {"code 65535 still merges", {{65535, 1, 2, 3}, {65535, 1, 2, 3}}, {{65535, 1, 2, 3}}},
    {"codes of 65536 and more never merge",
     {{65536, 1, 2, 3}, {65536, 1, 2, 3}},
     {{65536, 1, 2, 3}, {65536, 1, 2, 3}}},
    {"the first of a merged pair keeps its place",
     {MOVED0, CLOSE0, CLOSE0, MOVED0},
     {MOVED0, CLOSE0, MOVED0}},
};

TEST_F(EventQueueTest, EqualNeighboursBelow65536AreMerged) {
    for (const MergeCase& c : MERGE_CASES) {
        SCOPED_TRACE(c.name);
        post_all(c.posted);
        EXPECT_EQ(drain(), c.handed_out);
    }
}

TEST_F(EventQueueTest, MergedEventKeepsItsOwnDataWord) {
    post_event(13100, 0, 0, 0, 11);
    post_event(13100, 0, 0, 0, 22);
    EXPECT_EQ(fetch_event(), 13100);
    EXPECT_EQ(event_queue->current_data, 11);
    EXPECT_EQ(fetch_event(), 0);
}

TEST_F(EventQueueTest, SuspendedQueueDropsEventsUnlessFlagOneIsGiven) {
    suspend_events();
    suspend_events();
    EXPECT_FALSE(post_event(13118, 0, 0, 0));
    EXPECT_TRUE(post_event(13116, 0, 0, 0, 0, nullptr, POST_EVEN_IF_SUSPENDED));
    resume_events();
    EXPECT_FALSE(post_event(13118, 0, 1, 0)) << "still suspended once";
    resume_events();
    EXPECT_TRUE(post_event(13117, 0, 0, 0));
    EXPECT_EQ(drain(), (std::vector<Posted>{CLOSE0, MOVED0}));
    EXPECT_EQ(event_queue->suspension_count, 0);
}

TEST_F(EventQueueTest, EmptyQueueGivesZeroAndKeepsTheCurrentWindow) {
    EXPECT_EQ(fetch_event(), 0);
    EXPECT_EQ(event_queue->current_type, -1);
    post_event(13116, 7, 3, 5);
    EXPECT_EQ(fetch_event(), 13116);
    EXPECT_EQ(window_of_event(), 3);
    EXPECT_EQ(event_queue->current_object, 7);
    EXPECT_EQ(event_queue->current_type, 5);
    EXPECT_EQ(fetch_event(), 0);
    EXPECT_EQ(event_queue->current_code, 0);
    EXPECT_EQ(event_queue->current_type, -1);
    EXPECT_EQ(window_of_event(), 3);
    EXPECT_EQ(event_queue->current_object, 7);
    EXPECT_EQ(event_queue->head, nullptr);
    EXPECT_EQ(event_queue->tail, nullptr);
}

TEST_F(EventQueueTest, EventsComeOutOldestFirst) {
    std::vector<Posted> posted;
    for (int i = 0; i < 100; i++)
        posted.push_back({13100 + i % 19, i, i % 3, i % 2});
    post_all(posted);
    EXPECT_EQ(drain(), posted);
}

// Every combination of -1 among code, object, window and type.
TEST_F(EventQueueTest, DiscardMatchesEveryCombinationOfWildcards) {
    const std::vector<Posted> events = {
        {13100, 0, 0, 0}, {13100, 0, 0, 1}, {13100, 0, 1, 0}, {13100, 1, 0, 0},
        {13101, 0, 0, 0}, {13100, 1, 1, 1}, {13101, 1, 1, 1}, {13102, 2, 2, 2},
    };
    const Posted pattern{13100, 0, 0, 0};
    for (int mask = 0; mask < 16; mask++) {
        SCOPED_TRACE(mask);
        post_all(events);
        Posted args = pattern;
        if (mask & 1) args.code = -1;
        if (mask & 2) args.object = -1;
        if (mask & 4) args.window = -1;
        if (mask & 8) args.type = -1;
        discard_events(args.code, args.object, args.window, args.type);
        std::vector<Posted> kept;
        for (const Posted& e : events) {
            bool match = (args.code == -1 || e.code == args.code) &&
                         (args.object == -1 || e.object == args.object) &&
                         (args.window == -1 || e.window == args.window) &&
                         (args.type == -1 || e.type == args.type);
            if (!match) kept.push_back(e);
        }
        // A later post goes after the last event kept.
        post_event(13103, 9, 9, 9);
        kept.push_back({13103, 9, 9, 9});
        EXPECT_EQ(drain(), kept);
    }
}

TEST_F(EventQueueTest, DiscardingAWindowKeepsOtherWindowsInOrder) {
    post_all(
        {{13116, 0, 0, 0}, {13116, 1, 1, 0}, {13117, 0, 0, 0}, {13118, 0, 2, 0}, {13117, 0, 0, 0}});
    discard_window_events(0);
    post_event(13104, 0, 5, 0);
    EXPECT_EQ(drain(), (std::vector<Posted>{{13116, 1, 1, 0}, {13118, 0, 2, 0}, {13104, 0, 5, 0}}));
    // Discarding everything empties the queue; the next post is the head.
    post_all({CLOSE0, MOVED0});
    discard_window_events(0);
    EXPECT_EQ(event_queue->head, nullptr);
    EXPECT_EQ(event_queue->tail, nullptr);
    post_event(13104, 0, 0, 0);
    EXPECT_EQ(drain(), (std::vector<Posted>{{13104, 0, 0, 0}}));
}

std::vector<intptr_t> released;
void record_release(intptr_t data) {
    released.push_back(data);
}

TEST_F(EventQueueTest, DataWordsAreReleasedExactlyOnce) {
    released.clear();
    post_event(13100, 1, 0, 0, 101, record_release);
    post_event(13100, 1, 0, 0, 102, record_release); // merged: released at once
    EXPECT_EQ(released, std::vector<intptr_t>{102});
    suspend_events();
    post_event(13101, 1, 0, 0, 103, record_release); // dropped: released at once
    resume_events();
    post_event(13102, 1, 0, 0, 104, record_release);
    post_event(13103, 1, 0, 0, 105, record_release);
    discard_events(13103, -1, -1, -1); // discarded: released
    EXPECT_EQ(released, (std::vector<intptr_t>{102, 103, 105}));
    EXPECT_EQ(fetch_event(), 13100);
    EXPECT_EQ(event_queue->current_data, 101);
    EXPECT_EQ(released.size(), 3u) << "the current event's data lives until the next fetch";
    EXPECT_EQ(fetch_event(), 13102);
    EXPECT_EQ(released.back(), 101);
    EXPECT_EQ(fetch_event(), 0);
    EXPECT_EQ(released.back(), 104);
    EXPECT_EQ(event_queue->current_data, 0);
    EXPECT_EQ(event_queue->current_release, nullptr);
    EXPECT_EQ(fetch_event(), 0);
    EXPECT_EQ(released.size(), 5u);
}

TEST_F(EventQueueTest, NodesAreReusedWithoutHeapCalls) {
    // The block taken at start keeps the first chunk of 16 alive.
    BlockPool* pool = event_queue->node_pool;
    ASSERT_NE(pool->available, nullptr);
    PoolChunk* chunk = pool->available;
    EXPECT_EQ(pool->total_slots, 16);

    // From here on no allocation can succeed: the main heap is a full one.
    HANDLE growable = main_heap;
    main_heap = HeapCreate(0, 0, 8192);
    ASSERT_NE(main_heap, nullptr);
    for (int i = 0; i < 100000 && HeapAlloc(main_heap, 0, 16); i++) {
    }
    ASSERT_EQ(HeapAlloc(main_heap, 0, 16), nullptr);

    std::set<QueuedEvent*> nodes;
    for (int round = 0; round < 50; round++) {
        for (int i = 0; i < 15; i++) {
            ASSERT_TRUE(post_event(13100, i, 0, 0)) << round << " " << i;
            if (round == 0)
                nodes.insert(event_queue->tail);
            else
                EXPECT_EQ(nodes.count(event_queue->tail), 1u) << "a node of the first round";
        }
        int n = 0;
        while (fetch_event())
            n++;
        ASSERT_EQ(n, 15);
        EXPECT_EQ(pool->available, chunk);
        EXPECT_EQ(pool->total_slots, 16);
    }
    // A sixteenth node needs a chunk, which the full heap cannot give: the
    // event is lost and the queue stays sound.
    for (int i = 0; i < 15; i++)
        post_event(13100, i, 0, 0);
    EXPECT_FALSE(post_event(13101, 0, 0, 0));
    EXPECT_EQ(drain().size(), 15u);
    HeapDestroy(main_heap);
    main_heap = growable;
    EXPECT_EQ(nodes.size(), 15u);
}

// Only a block made for another thread's event and not yet received is
// read and freed; a value from elsewhere (another program's message, a block
// the queue did not make, a message received twice) is ignored.
TEST_F(EventQueueTest, PostedBlocksAreTakenOnceAndForeignValuesIgnored) {
    suspend_events();
    QueuedEvent* a = make_posted_event(13500, 8, 9, 10, 11);
    QueuedEvent* b = make_posted_event(13501, 1, 2, 3, 4);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    auto* foreign = static_cast<QueuedEvent*>(heap_alloc_zeroed(sizeof(QueuedEvent)));
    *foreign = QueuedEvent{nullptr, 13502, 0, 5, 6, 7, 0, nullptr};
    for (intptr_t value : {intptr_t(0), intptr_t(0x1234), intptr_t(-1), intptr_t(foreign),
                           intptr_t(a) + 1, intptr_t(&foreign)})
        EXPECT_FALSE(take_posted_event(value)) << value;
    EXPECT_EQ(event_queue->head, nullptr);
    EXPECT_EQ(foreign->code, 13502) << "a block it did not make is left alone";

    EXPECT_TRUE(take_posted_event(intptr_t(b))); // in any order
    EXPECT_TRUE(take_posted_event(intptr_t(a)));
    EXPECT_FALSE(take_posted_event(intptr_t(a))) << "already received";
    resume_events();
    ASSERT_EQ(fetch_event(), 13501);
    ASSERT_EQ(fetch_event(), 13500);
    EXPECT_EQ(event_queue->current_object, 8);
    EXPECT_EQ(window_of_event(), 9);
    EXPECT_EQ(event_queue->current_type, 10);
    EXPECT_EQ(event_queue->current_data, 11);
    EXPECT_EQ(event_queue->current_release, nullptr);
    EXPECT_EQ(fetch_event(), 0);

    // A block whose message could not be sent, and those never received.
    QueuedEvent* unsent = make_posted_event(13503, 0, 0, 0, 0);
    drop_posted_event(unsent);
    EXPECT_FALSE(take_posted_event(intptr_t(unsent)));
    drop_posted_event(foreign); // not one of its own: untouched
    make_posted_event(13504, 0, 0, 0, 0);
    make_posted_event(13505, 0, 0, 0, 0);
#ifndef _WIN32
    SIZE_T live = 0, live_after = 0, allocations = 0;
    posix_heap_counts(main_heap, &live, &allocations);
    drop_posted_events();
    posix_heap_counts(main_heap, &live_after, &allocations);
    EXPECT_EQ(live_after, live - 2);
#else
    drop_posted_events();
#endif
    EXPECT_EQ(fetch_event(), 0);
    heap_free(foreign);
}

TEST_F(EventQueueTest, WithoutAQueueEverythingIsANoOp) {
    event_queue = nullptr;
    EXPECT_FALSE(post_event(13116, 0, 0, 0));
    EXPECT_EQ(fetch_event(), 0);
    EXPECT_EQ(window_of_event(), -1); // not window 0, which is a real one
    suspend_events();
    resume_events();
    discard_events(-1, -1, -1, -1);
    discard_window_events(0);
}

} // namespace
