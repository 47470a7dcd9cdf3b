#include "bit_tab.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Independent encoders of the two layouts, written from the byte description
// rather than from the module, so that the tests pin the layout itself.
Bytes dynamicBytes(const std::vector<int>& members) {
    const size_t k = members.size();
    Bytes b = {static_cast<unsigned char>(0x80 | (k >> 8)), static_cast<unsigned char>(k & 0xFF)};
    for (int m : members) {
        uint16_t v = static_cast<uint16_t>(m);
        unsigned char raw[2];
        memcpy(raw, &v, 2);
        b.push_back(raw[0]);
        b.push_back(raw[1]);
    }
    return b;
}

Bytes staticBytes(const std::set<int>& members) {
    Bytes b(static_cast<size_t>(colourSetStore().SIZE_STATIC_BIT_TAB), 0);
    for (int s : members) b[(s + 1) / 8] |= static_cast<unsigned char>(0x80 >> ((s + 1) % 8));
    return b;
}

// The bytes a set occupies, as its own header says.
Bytes bytesOf(BitTab bt) {
    size_t size = static_cast<size_t>(colourSetStore().SIZE_STATIC_BIT_TAB);
    if (bt[0] & 0x80) size = 2 + 2 * static_cast<size_t>(((bt[0] & 0x7F) << 8) | bt[1]);
    return Bytes(bt, bt + size);
}

std::string printed(BitTab bt) {
    testing::internal::CaptureStdout();
    printBitTab(bt);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Owns one set for the length of a test.
struct Set {
    BitTab bt;
    explicit Set(BitTab b = AllocBitTab()) : bt(b) {}
    ~Set() { free(bt); }
    Set(const Set&) = delete;
    Set& operator=(const Set&) = delete;
    Set& add(std::initializer_list<int> values) {
        for (int v : values) addBitTabValue(&bt, v);
        return *this;
    }
};

TEST(BitTabInit, SizesAndLimits) {
    struct Case {
        int n, size, limit;
    };
    const Case cases[] = {
        {1, 1, 1},
        {2, 1, 1},
        {7, 1, 1},
        {8, 2, 1},
        {40, 6, 2},
        {100, 13, 5},
        {1000, 126, 62},
        {5000, 626, 312},
        {65535, 8192, 4095},
        // The 15-bit count field bounds the dynamic form, whatever the static size.
        {600000, 75001, 32767},
    };
    for (const Case& c : cases) {
        initBitTab(c.n);
        EXPECT_EQ(colourSetStore().NB_SEQUENCE, c.n);
        EXPECT_EQ(colourSetStore().SIZE_STATIC_BIT_TAB, c.size) << "n=" << c.n;
        EXPECT_EQ(colourSetStore().CHANGE_LIMITE, c.limit) << "n=" << c.n;
    }
}

TEST(BitTabLayout, TwoSequencesTurnStaticOnTheSecondMember) {
    initBitTab(2);
    Set s;
    EXPECT_EQ(bytesOf(s.bt), (Bytes{0x80, 0x00}));
    EXPECT_EQ(nbSequenceInBitTab(s.bt), 0);
    s.add({0});
    EXPECT_EQ(bytesOf(s.bt), dynamicBytes({0}));
    s.add({1});
    ASSERT_FALSE(isDynamicBitTab(s.bt));
    EXPECT_EQ(bytesOf(s.bt), (Bytes{0x60}));
    EXPECT_EQ(nbSequenceInBitTab(s.bt), 2);
}

TEST(BitTabLayout, StaticBitNumbering) {
    initBitTab(100);
    Set s(AllocBitTabStatic());
    EXPECT_EQ(bytesOf(s.bt), Bytes(13, 0));
    s.add({0, 7, 99});
    Bytes expected(13, 0);
    expected[0] = 0x40;   // sequence 0 is bit 1
    expected[1] = 0x80;   // sequence 7 is bit 8
    expected[12] = 0x08;  // sequence 99 is bit 100, fifth of byte 12
    EXPECT_EQ(bytesOf(s.bt), expected);
}

TEST(BitTabLayout, DynamicKeepsInsertionOrderAndIgnoresDuplicatesBelowLimit) {
    initBitTab(100);  // limit 5
    Set s;
    s.add({42, 7, 42, 0, 7});
    EXPECT_EQ(bytesOf(s.bt), dynamicBytes({42, 7, 0}));
    EXPECT_EQ(nbSequenceInBitTab(s.bt), 3);
}

TEST(BitTabLayout, CountHeaderIsBigEndianFifteenBits) {
    initBitTab(5000);  // limit 312
    Set s;
    std::vector<int> members;
    for (int v = 4999; v > 4999 - 300; --v) {
        s.add({v});
        members.push_back(v);
    }
    EXPECT_EQ(s.bt[0], 0x81);
    EXPECT_EQ(s.bt[1], 0x2C);
    EXPECT_EQ(bytesOf(s.bt), dynamicBytes(members));
    EXPECT_EQ(nbSequenceInBitTab(s.bt), 300);
}

TEST(BitTabConversion, AtTheLimitEvenAPresentValueConverts) {
    initBitTab(100);
    for (int again : {3, 64}) {  // already a member, then a new one
        Set s;
        s.add({3, 1, 4, 15, 9});
        ASSERT_EQ(bytesOf(s.bt), dynamicBytes({3, 1, 4, 15, 9}));
        s.add({again});
        std::set<int> expected = {3, 1, 4, 15, 9, again};
        EXPECT_EQ(bytesOf(s.bt), staticBytes(expected)) << "adding " << again;
        EXPECT_EQ(nbSequenceInBitTab(s.bt), static_cast<int>(expected.size()));
    }
}

TEST(BitTabConversion, ConvertKeepsMembers) {
    initBitTab(1000);
    Set s;
    s.add({999, 0, 500});
    convertBitTab(&s.bt);
    EXPECT_EQ(bytesOf(s.bt), staticBytes({0, 500, 999}));
    Set empty;
    convertBitTab(&empty.bt);
    EXPECT_EQ(bytesOf(empty.bt), Bytes(126, 0));
}

TEST(BitTabConversion, NumbersBeyondSixteenBitsAreKeptStatic) {
    initBitTab(70000);
    Set s;
    s.add({65535});
    EXPECT_EQ(bytesOf(s.bt), dynamicBytes({65535}));
    s.add({65536});
    ASSERT_FALSE(isDynamicBitTab(s.bt));
    EXPECT_EQ(bytesOf(s.bt), staticBytes({65535, 65536}));
}

TEST(BitTabUnion, Cases) {
    initBitTab(100);  // limit 5
    struct Case {
        const char* name;
        bool destStatic, srcStatic;
        std::vector<int> dest, src;
        bool resultDynamic;
        std::vector<int> dynamicResult;  // list order when the result stays dynamic
    };
    const Case cases[] = {
        {"dyn+dyn stays dynamic", false, false, {9, 2}, {2, 4, 1}, true, {9, 2, 4, 1}},
        {"dyn+dyn overflows", false, false, {9, 2, 3}, {4, 5, 6}, false, {}},
        {"dyn+static switches half-way", false, true, {50}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, false, {}},
        {"dyn+small static stays dynamic", false, true, {50}, {9, 0}, true, {50, 0, 9}},
        {"static+dyn", true, false, {0, 99}, {7, 0}, false, {}},
        {"static+static", true, true, {0, 98}, {1, 98, 99}, false, {}},
        {"empty+empty", false, false, {}, {}, true, {}},
    };
    for (const Case& c : cases) {
        Set d(c.destStatic ? AllocBitTabStatic() : AllocBitTab());
        Set s(c.srcStatic ? AllocBitTabStatic() : AllocBitTab());
        for (int v : c.dest) addBitTabValue(&d.bt, v);
        for (int v : c.src) addBitTabValue(&s.bt, v);
        const Bytes srcBefore = bytesOf(s.bt);
        fusionneBitTab(&d.bt, s.bt);
        std::set<int> all(c.dest.begin(), c.dest.end());
        all.insert(c.src.begin(), c.src.end());
        if (c.resultDynamic)
            EXPECT_EQ(bytesOf(d.bt), dynamicBytes(c.dynamicResult)) << c.name;
        else
            EXPECT_EQ(bytesOf(d.bt), staticBytes(all)) << c.name;
        EXPECT_EQ(nbSequenceInBitTab(d.bt), static_cast<int>(all.size())) << c.name;
        EXPECT_EQ(bytesOf(s.bt), srcBefore) << c.name << ": source changed";
    }
}

TEST(BitTabUnion, WithItselfIsUnchanged) {
    initBitTab(100);
    Set s;
    s.add({1, 2, 3, 4, 5});  // at the limit: a self-union must not convert or free it
    const Bytes before = bytesOf(s.bt);
    fusionneBitTab(&s.bt, s.bt);
    EXPECT_EQ(bytesOf(s.bt), before);
}

TEST(BitTabCopy, Cases) {
    initBitTab(100);
    struct Case {
        bool destStatic, srcStatic;
    };
    for (const Case c : {Case{false, false}, Case{false, true}, Case{true, false}, Case{true, true}}) {
        Set d(c.destStatic ? AllocBitTabStatic() : AllocBitTab());
        d.add({60, 61, 62});
        Set s(c.srcStatic ? AllocBitTabStatic() : AllocBitTab());
        s.add({8, 1});
        CopyBitTab(&d.bt, s.bt);
        const Bytes expected = c.srcStatic ? staticBytes({1, 8}) : dynamicBytes({8, 1});
        EXPECT_EQ(bytesOf(d.bt), expected) << c.destStatic << c.srcStatic;
        EXPECT_NE(d.bt, s.bt);
        // The copy is independent of its source.
        d.add({30});
        EXPECT_EQ(bytesOf(s.bt), expected);
    }
    Set self;
    self.add({5});
    CopyBitTab(&self.bt, self.bt);
    EXPECT_EQ(bytesOf(self.bt), dynamicBytes({5}));
}

TEST(BitTabReinit, KeepsTheForm) {
    initBitTab(100);
    Set dyn;
    dyn.add({1, 2, 3});
    EXPECT_EQ(ReinitBitTab(&dyn.bt), dyn.bt);
    EXPECT_EQ(bytesOf(dyn.bt), (Bytes{0x80, 0x00}));
    dyn.add({7});
    EXPECT_EQ(bytesOf(dyn.bt), dynamicBytes({7}));

    Set st(AllocBitTabStatic());
    st.add({0, 50, 99});
    EXPECT_EQ(ReinitBitTab(&st.bt), st.bt);
    ASSERT_FALSE(isDynamicBitTab(st.bt));
    EXPECT_EQ(bytesOf(st.bt), Bytes(13, 0));
    EXPECT_EQ(nbSequenceInBitTab(st.bt), 0);
}

TEST(BitTabCount, FullSetsCountEverySequence) {
    for (int n : {2, 100, 1000}) {
        initBitTab(n);
        Set s;
        for (int v = n - 1; v >= 0; --v) s.add({v});
        ASSERT_FALSE(isDynamicBitTab(s.bt));
        EXPECT_EQ(nbSequenceInBitTab(s.bt), n);
        EXPECT_EQ(nbSequenceInBitTabStatic(s.bt), n);
        Set one;
        one.add({n - 1});
        EXPECT_EQ(nbSequenceInBitTabDynamic(one.bt), 1);
    }
}

TEST(BitTabPrint, BothForms) {
    initBitTab(100);
    Set st(AllocBitTabStatic());
    EXPECT_EQ(printed(st.bt), "s:");
    st.add({9, 0});
    EXPECT_EQ(printed(st.bt), "s:0,9,");
    Set dyn;
    EXPECT_EQ(printed(dyn.bt), "d:");
    dyn.add({9, 0});
    EXPECT_EQ(printed(dyn.bt), "d:9,0,");
}

// Reference model of one set: its form, its list order while dynamic, its members.
struct ModelSet {
    bool isStatic = false;
    std::vector<int> list;
    std::set<int> members;

    void add(int s) {
        if (!isStatic && (static_cast<int>(list.size()) == colourSetStore().CHANGE_LIMITE || s > 0xFFFF))
            isStatic = true;
        if (!isStatic && !members.count(s)) list.push_back(s);
        members.insert(s);
    }
    void unite(const ModelSet& src) {
        if (src.isStatic)
            for (int s : src.members) add(s);
        else
            for (int s : src.list) add(s);
    }
    void clear() {
        list.clear();
        members.clear();
    }
    Bytes bytes() const { return isStatic ? staticBytes(members) : dynamicBytes(list); }
};

TEST(BitTabRandom, MatchesReferenceModelByteForByte) {
    std::mt19937 rng(12345);
    for (int n : {2, 3, 17, 100, 1000, 70000}) {
        initBitTab(n);
        constexpr int kSets = 8;
        std::vector<BitTab> sets;
        std::vector<ModelSet> models(kSets);
        for (int i = 0; i < kSets; ++i) {
            const bool startStatic = i % 4 == 3;
            sets.push_back(startStatic ? AllocBitTabStatic() : AllocBitTab());
            models[i].isStatic = startStatic;
        }
        std::uniform_int_distribution<int> pick(0, kSets - 1), op(0, 99), value(0, n - 1);
        for (int step = 0; step < 4000; ++step) {
            const int a = pick(rng), b = pick(rng), o = op(rng);
            if (o < 70) {
                const int v = value(rng);
                addBitTabValue(&sets[a], v);
                models[a].add(v);
            } else if (o < 88) {
                if (a == b) continue;
                fusionneBitTab(&sets[a], sets[b]);
                models[a].unite(models[b]);
            } else if (o < 94) {
                CopyBitTab(&sets[a], sets[b]);
                models[a] = models[b];
            } else {
                ReinitBitTab(&sets[a]);
                models[a].clear();
            }
            ASSERT_EQ(bytesOf(sets[a]), models[a].bytes()) << "n=" << n << " step " << step << " op " << o;
            ASSERT_EQ(nbSequenceInBitTab(sets[a]), static_cast<int>(models[a].members.size()));
        }
        for (BitTab bt : sets) free(bt);
    }
}

}  // namespace

namespace {

// A set filled with non-decreasing numbers, some repeated (a leaf's, sequence
// after sequence), ends byte for byte as with addBitTabValue, whatever the form.
TEST(BitTabNewest, MatchesTheGeneralAdditionOnIncreasingNumbers) {
    std::mt19937 rng(7);
    for (int n : {2, 17, 100, 1000, 70000}) {
        initBitTab(n);
        for (int trial = 0; trial < 20; ++trial) {
            const bool staticStart = trial % 5 == 4;
            Set general(staticStart ? AllocBitTabStatic() : AllocBitTab());
            Set newest(staticStart ? AllocBitTabStatic() : AllocBitTab());
            std::uniform_int_distribution<int> step(0, trial % 2 == 0 ? 2 : n / 50 + 1);
            for (int v = step(rng); v < n; v += step(rng)) {
                addBitTabValue(&general.bt, v);
                addNewestBitTabValue(&newest.bt, v);
                ASSERT_EQ(bytesOf(newest.bt), bytesOf(general.bt))
                    << "n=" << n << " trial " << trial << " v " << v;
            }
            // A number below the last member takes the general path.
            addBitTabValue(&general.bt, 0);
            addNewestBitTabValue(&newest.bt, 0);
            EXPECT_EQ(bytesOf(newest.bt), bytesOf(general.bt)) << "n=" << n;
        }
    }
}

// Leaves' sets start as shared sets of one sequence and grow, sequence after sequence, interleaved with one
// another: they move from slot to slot as they grow, and past the largest slot to the allocator, while each
// keeps exactly the bytes the general addition makes and an even address.  Every operation other than the
// newest addition gives the holder a copy of its own, and the slot keeps its bytes.
TEST(BitTabNewest, InterleavedGrowingSetsKeepTheirBytes) {
    std::mt19937 rng(11);
    initBitTab(4000);
    ASSERT_GT(colourSetStore().CHANGE_LIMITE, 200);  // lists of up to 249 members, longer than any slot holds
    constexpr int kSets = 3000;
    std::vector<BitTab> sets;
    std::vector<std::unique_ptr<Set>> general;
    for (int i = 0; i < kSets; ++i) {
        sets.push_back(SingletonBitTab(i % 50));
        general.push_back(std::make_unique<Set>());
        general.back()->add({i % 50});
    }
    auto grow = [&](int i, int seq) {
        addNewestBitTabValue(&sets[static_cast<size_t>(i)], seq);
        addBitTabValue(&general[static_cast<size_t>(i)]->bt, seq);
    };
    for (int seq = 50; seq < 4000; ++seq) {
        for (int i = 0; i < 100; ++i)
            if (rng() % 20 == 0) grow(i, seq);                                    // about 200 members
        for (int t = 0; t < 40; ++t) grow(static_cast<int>(rng() % kSets), seq);  // a few twice: no change
        if (seq % 500 != 0) continue;
        for (int i = 0; i < kSets; ++i) {
            ASSERT_EQ(bytesOf(sets[static_cast<size_t>(i)]), bytesOf(general[static_cast<size_t>(i)]->bt))
                << "set " << i << " at " << seq;
            ASSERT_EQ(reinterpret_cast<uintptr_t>(sets[static_cast<size_t>(i)]) % 2, 0u) << "set " << i;
        }
    }
    int longLists = 0;
    for (int i = 0; i < kSets; ++i) {
        const size_t members = static_cast<size_t>(nbSequenceInBitTab(sets[static_cast<size_t>(i)]));
        longLists += members > 127 ? 1 : 0;
        EXPECT_EQ(bytesOf(sets[static_cast<size_t>(i)]), bytesOf(general[static_cast<size_t>(i)]->bt)) << i;
    }
    EXPECT_GT(longLists, 50);
    // An out-of-order addition and a reset give copies; the set in its slot is untouched.
    BitTab small = SingletonBitTab(3);
    for (int seq : {5, 9}) addNewestBitTabValue(&small, seq);
    const Bytes before = bytesOf(small);
    BitTab holder = small;
    addBitTabValue(&holder, 1);
    EXPECT_NE(holder, small);
    EXPECT_EQ(nbSequenceInBitTab(holder), 4);
    BitTab reset = small;
    ReinitBitTab(&reset);
    EXPECT_NE(reset, small);
    EXPECT_EQ(nbSequenceInBitTab(reset), 0);
    EXPECT_EQ(bytesOf(small), before);
    FreeBitTab(holder);
    FreeBitTab(reset);
    FreeBitTab(small);
    // A million lists of two members: several ranges of slots, each list still with its bytes.
    std::vector<BitTab> pairs;
    for (int i = 0; i < 1000000; ++i) {
        pairs.push_back(SingletonBitTab(i % 1000));
        addNewestBitTabValue(&pairs.back(), 1000 + i % 3000);
    }
    // Every 1000th grows in place, from the first range as from the others.
    for (size_t i = 0; i < pairs.size(); i += 1000) addNewestBitTabValue(&pairs[i], 4000);
    for (int i = 0; i < 1000000; ++i) {
        const uint16_t members[] = {static_cast<uint16_t>(i % 1000), static_cast<uint16_t>(1000 + i % 3000),
                                    4000};
        const int count = i % 1000 == 0 ? 3 : 2;
        Bytes expected(2 + 2 * static_cast<size_t>(count));
        expected[0] = 0x80;
        expected[1] = static_cast<unsigned char>(count);
        memcpy(expected.data() + 2, members, expected.size() - 2);
        ASSERT_EQ(bytesOf(pairs[static_cast<size_t>(i)]), expected) << i;
    }
    for (BitTab bt : sets) FreeBitTab(bt);  // a slot is left alone, an allocator's block freed
    releaseFinalBitTabs();
}

}  // namespace

namespace {

// A random set of n sequences in either form: sizes around the dynamic limit,
// members in random order, sometimes the shared empty set or a shared singleton.
BitTab randomSet(std::mt19937& rng, int n) {
    const int shape = static_cast<int>(rng() % 8);
    if (shape == 0) return SharedEmptyBitTab();
    if (shape == 2) return SingletonBitTab(static_cast<int>(rng() % static_cast<unsigned>(n)));
    BitTab bt = shape == 1 ? AllocBitTabStatic() : AllocBitTab();
    const int count = static_cast<int>(rng() % static_cast<unsigned>(2 * colourSetStore().CHANGE_LIMITE + 2));
    for (int i = 0; i < count; ++i) addBitTabValue(&bt, static_cast<int>(rng() % static_cast<unsigned>(n)));
    return bt;
}

// The union of several sets is what copying the first and uniting the others
// one by one makes, byte for byte, with the right count.
TEST(BitTabUniteMany, MatchesCopyThenUnions) {
    std::mt19937 rng(99);
    for (int n : {2, 9, 40, 300, 70000}) {
        initBitTab(n);
        for (int trial = 0; trial < 300; ++trial) {
            std::vector<BitTab> sources(1 + rng() % 6);
            for (BitTab& s : sources) s = randomSet(rng, n);
            BitTab expected = AllocBitTab();
            CopyBitTab(&expected, sources[0]);
            for (size_t i = 1; i < sources.size(); ++i) fusionneBitTab(&expected, sources[i]);
            BitTab united = SharedEmptyBitTab();
            const int32_t count =
                uniteColourSets(&united, sources.data(), static_cast<int32_t>(sources.size()));
            ASSERT_EQ(bytesOf(united), bytesOf(expected)) << "n=" << n << " trial " << trial;
            ASSERT_EQ(count, nbSequenceInBitTab(expected)) << "n=" << n << " trial " << trial;
            // The walks tell a set's address from a marked sequence number by its low bit.
            ASSERT_EQ(reinterpret_cast<uintptr_t>(united) % 2, 0u) << "n=" << n << " trial " << trial;
            for (BitTab s : sources) FreeBitTab(s);
            FreeBitTab(expected);
            FreeBitTab(united);
        }
        releaseFinalBitTabs();
    }
}

// Enough unions to fill many blocks, of every size up to the largest carved
// one and beyond: each keeps its bytes while the later ones are made (no two
// overlap, none crosses its block's end), and each is released as its kind
// asks (a carved one left to the blocks, an allocated one freed).
TEST(BitTabUniteMany, UnionsFillingManyBlocksKeepTheirBytes) {
    std::mt19937 rng(5);
    initBitTab(3000);  // sets of up to 1500 members, 376 bytes static
    std::vector<BitTab> unions;
    std::vector<Bytes> expected;
    for (int i = 0; i < 60000; ++i) {  // about 12 MB: small blocks, then huge ones
        Set a;
        Set b;
        const int members = static_cast<int>(rng() % 200);
        for (int m = 0; m < members; ++m) (m % 2 == 0 ? a : b).add({static_cast<int>(rng() % 3000)});
        const BitTab sources[] = {a.bt, b.bt};
        BitTab united = SharedEmptyBitTab();
        uniteColourSets(&united, sources, 2);
        unions.push_back(united);
        expected.push_back(bytesOf(united));
    }
    for (size_t i = 0; i < unions.size(); ++i) ASSERT_EQ(bytesOf(unions[i]), expected[i]) << "union " << i;
    for (BitTab u : unions) FreeBitTab(u);
    releaseFinalBitTabs();
}

// A holder of a shared set (the empty one, or {2}), or of a final set (a union,
// here {2}), gets a set of its own from every operation that changes it, with
// what the operation makes of an owned set of the same bytes; the shared or
// final set keeps its bytes.
TEST(BitTabShared, EveryChangeGivesTheHolderItsOwnSet) {
    initBitTab(40);
    ASSERT_GE(colourSetStore().CHANGE_LIMITE, 2);
    Set three;
    three.add({3});
    const struct {
        const char* what;
        void (*change)(BitTab*, BitTab);
    } changes[] = {
        {"add", [](BitTab* bt, BitTab) { addBitTabValue(bt, 5); }},
        {"add newest", [](BitTab* bt, BitTab) { addNewestBitTabValue(bt, 7); }},
        {"unite", [](BitTab* bt, BitTab other) { fusionneBitTab(bt, other); }},
        {"copy", [](BitTab* bt, BitTab other) { CopyBitTab(bt, other); }},
        {"reinit", [](BitTab* bt, BitTab) { ReinitBitTab(bt); }},
        {"convert", [](BitTab* bt, BitTab) { convertBitTab(bt); }},
    };
    BitTab two = SingletonBitTab(2);
    BitTab finalTwo = SharedEmptyBitTab();
    uniteColourSets(&finalTwo, &two, 1);
    for (BitTab shared : {SharedEmptyBitTab(), SingletonBitTab(2), finalTwo}) {
        const Bytes before = bytesOf(shared);
        for (const auto& c : changes) {
            Set owned;
            if (before.size() > 2) owned.add({2});
            ASSERT_EQ(bytesOf(owned.bt), before);
            c.change(&owned.bt, three.bt);
            BitTab holder = shared;
            c.change(&holder, three.bt);
            EXPECT_NE(holder, shared) << c.what;
            EXPECT_EQ(bytesOf(holder), bytesOf(owned.bt)) << c.what;
            EXPECT_EQ(bytesOf(shared), before) << c.what;
            FreeBitTab(holder);
        }
        FreeBitTab(shared);  // left alone
        EXPECT_EQ(bytesOf(shared), before);
    }
}

// A singleton is the set AllocBitTab then addBitTabValue make, in both forms;
// the dynamic ones are shared.
TEST(BitTabShared, SingletonsMatchAnAddedMember) {
    for (int n : {1, 40, 70000}) {
        initBitTab(n);
        for (int s : {0, 1, n / 2, n - 1, 65535, 65536}) {
            if (s >= n) continue;
            Set added;
            added.add({s});
            BitTab single = SingletonBitTab(s);
            BitTab again = SingletonBitTab(s);
            EXPECT_EQ(bytesOf(single), bytesOf(added.bt)) << "n=" << n << " s=" << s;
            EXPECT_EQ(single == again, isDynamicBitTab(single)) << "n=" << n << " s=" << s;
            FreeBitTab(single);
            FreeBitTab(again);
        }
    }
}

}  // namespace
