#include "bit_tab.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int32_t NB_SEQUENCE = 0;
int32_t SIZE_STATIC_BIT_TAB = 1;
int32_t CHANGE_LIMITE = 1;

namespace {

constexpr unsigned char kDynamicFlag = 0x80;
constexpr int32_t kDynamicHeader = 2;
// The count field of the dynamic form has 15 bits and its members 16 bits.
constexpr int32_t kMaxDynamicCount = 0x7FFF;
constexpr int32_t kMaxDynamicMember = 0xFFFF;

[[noreturn]] void bitTabOutOfMemory() {
    fputs("No enougth space... \n Program aborded \n", stderr);
    exit(-2);
}

unsigned char* checkedMalloc(size_t size) {
    auto* p = static_cast<unsigned char*>(malloc(size));
    if (p == nullptr) bitTabOutOfMemory();
    return p;
}

unsigned char* checkedRealloc(unsigned char* p, size_t size) {
    auto* q = static_cast<unsigned char*>(realloc(p, size));
    if (q == nullptr) bitTabOutOfMemory();
    return q;
}

int32_t dynamicCount(const unsigned char* bt) {
    return ((bt[0] & 0x7F) << 8) | bt[1];
}

void setDynamicCount(unsigned char* bt, int32_t k) {
    bt[0] = static_cast<unsigned char>(kDynamicFlag | ((k >> 8) & 0x7F));
    bt[1] = static_cast<unsigned char>(k & 0xFF);
}

size_t dynamicSize(int32_t k) {
    return static_cast<size_t>(kDynamicHeader + 2 * k);
}

// Members are native-order uint16 at odd offsets from a malloc'd base, so
// they are read and written through memcpy rather than by cast.
int32_t dynamicMember(const unsigned char* bt, int32_t i) {
    uint16_t v;
    memcpy(&v, bt + kDynamicHeader + 2 * i, sizeof v);
    return v;
}

void setDynamicMember(unsigned char* bt, int32_t i, int32_t s) {
    const auto v = static_cast<uint16_t>(s);
    memcpy(bt + kDynamicHeader + 2 * i, &v, sizeof v);
}

void setStaticBit(unsigned char* bt, int32_t s) {
    assert(s >= 0 && (s + 1) / 8 < SIZE_STATIC_BIT_TAB);
    bt[(s + 1) / 8] |= static_cast<unsigned char>(0x80 >> ((s + 1) % 8));
}

bool staticBitSet(const unsigned char* bt, int32_t bit) {
    return (bt[bit / 8] & (0x80 >> (bit % 8))) != 0;
}

int32_t staticBitCount() {
    return 8 * SIZE_STATIC_BIT_TAB;
}

// A zeroed static string holding the members of the dynamic set bt.
unsigned char* staticCopyOfDynamic(const unsigned char* bt) {
    unsigned char* st = AllocBitTabStatic();
    const int32_t k = dynamicCount(bt);
    for (int32_t i = 0; i < k; ++i) setStaticBit(st, dynamicMember(bt, i));
    return st;
}

// Adds s to a set of either form, re-reading the form each time because an
// addition may turn a dynamic set static.
void addToEitherForm(BitTab* bt, int32_t s) {
    if (isDynamicBitTab(*bt))
        addBitTabValueDynamic(bt, s);
    else
        setStaticBit(*bt, s);
}

}  // namespace

void initBitTab(int32_t n) {
    NB_SEQUENCE = n;
    SIZE_STATIC_BIT_TAB = n / 8 + 1;
    // Capped so that a dynamic list never outgrows its 15-bit count field.
    CHANGE_LIMITE = std::min(std::max(1, SIZE_STATIC_BIT_TAB / 2 - 1), kMaxDynamicCount);
}

BitTab AllocBitTab() {
    unsigned char* bt = checkedMalloc(dynamicSize(0));
    setDynamicCount(bt, 0);
    return bt;
}

BitTab AllocBitTabStatic() {
    auto* bt = static_cast<unsigned char*>(calloc(static_cast<size_t>(SIZE_STATIC_BIT_TAB), 1));
    if (bt == nullptr) bitTabOutOfMemory();
    return bt;
}

BitTab ReinitBitTab(BitTab* bt) {
    if (isDynamicBitTab(*bt)) {
        *bt = checkedRealloc(*bt, dynamicSize(0));
        setDynamicCount(*bt, 0);
    } else {
        memset(*bt, 0, static_cast<size_t>(SIZE_STATIC_BIT_TAB));
    }
    return *bt;
}

void CopyBitTab(BitTab* dest, BitTab src) {
    if (*dest == src) return;  // freeing the destination would free the source
    if (isDynamicBitTab(src)) {
        const size_t size = dynamicSize(dynamicCount(src));
        *dest = checkedRealloc(*dest, size);
        memcpy(*dest, src, size);
    } else {
        free(*dest);
        *dest = AllocBitTabStatic();
        memcpy(*dest, src, static_cast<size_t>(SIZE_STATIC_BIT_TAB));
    }
}

void addBitTabValue(BitTab* bt, int32_t s) {
    if (isDynamicBitTab(*bt))
        addBitTabValueDynamic(bt, s);
    else
        addBitTabValueStatic(bt, s);
}

void addBitTabValueDynamic(BitTab* bt, int32_t s) {
    const int32_t k = dynamicCount(*bt);
    // A number that does not fit a 16-bit member can only live in the static form.
    if (k >= CHANGE_LIMITE || s > kMaxDynamicMember) {
        convertBitTab(bt);
        setStaticBit(*bt, s);
        return;
    }
    for (int32_t i = 0; i < k; ++i)
        if (dynamicMember(*bt, i) == s) return;
    *bt = checkedRealloc(*bt, dynamicSize(k + 1));
    setDynamicMember(*bt, k, s);
    setDynamicCount(*bt, k + 1);
}

void addBitTabValueStatic(BitTab* bt, int32_t s) {
    setStaticBit(*bt, s);
}

void convertBitTab(BitTab* bt) {
    unsigned char* st = staticCopyOfDynamic(*bt);
    free(*bt);
    *bt = st;
}

void fusionneBitTab(BitTab* dest, BitTab src) {
    if (*dest == src) return;  // a set united with itself is unchanged
    if (isDynamicBitTab(*dest))
        fusionneBitTabDynamic(dest, src);
    else
        fusionneBitTabStatic(dest, src);
}

void fusionneBitTabDynamic(BitTab* dest, BitTab src) {
    if (*dest == src) return;
    if (isDynamicBitTab(src)) {
        const int32_t k = dynamicCount(src);
        for (int32_t i = 0; i < k; ++i) addToEitherForm(dest, dynamicMember(src, i));
    } else {
        const int32_t bits = staticBitCount();
        for (int32_t bit = 1; bit < bits; ++bit)
            if (staticBitSet(src, bit)) addToEitherForm(dest, bit - 1);
    }
}

void fusionneBitTabStatic(BitTab* dest, BitTab src) {
    unsigned char* d = *dest;
    if (isDynamicBitTab(src)) {
        const int32_t k = dynamicCount(src);
        for (int32_t i = 0; i < k; ++i) setStaticBit(d, dynamicMember(src, i));
    } else {
        for (int32_t i = 0; i < SIZE_STATIC_BIT_TAB; ++i) d[i] |= src[i];
    }
}

int32_t nbSequenceInBitTab(BitTab bt) {
    return isDynamicBitTab(bt) ? nbSequenceInBitTabDynamic(bt) : nbSequenceInBitTabStatic(bt);
}

int32_t nbSequenceInBitTabDynamic(BitTab bt) {
    return dynamicCount(bt);
}

// The spelling engines count a union for every candidate symbol, so this is hot: it counts eight bytes
// at a time, and is compiled twice so that processors with a popcount instruction use it.
__attribute__((target_clones("popcnt", "default"))) int32_t nbSequenceInBitTabStatic(BitTab bt) {
    // Byte 0 is masked so that the form bit is never counted.
    int32_t n = std::popcount(static_cast<unsigned>(bt[0] & 0x7F));
    int32_t i = 1;
    for (; i + 8 <= SIZE_STATIC_BIT_TAB; i += 8) {
        uint64_t word;
        memcpy(&word, bt + i, sizeof word);
        n += std::popcount(word);
    }
    for (; i < SIZE_STATIC_BIT_TAB; ++i) n += std::popcount(static_cast<unsigned>(bt[i]));
    return n;
}

void printBitTab(BitTab bt) {
    if (isDynamicBitTab(bt)) {
        fputs("d:", stdout);
        const int32_t k = dynamicCount(bt);
        for (int32_t i = 0; i < k; ++i) printf("%d,", dynamicMember(bt, i));
    } else {
        fputs("s:", stdout);
        const int32_t bits = staticBitCount();
        for (int32_t bit = 1; bit < bits; ++bit)
            if (staticBitSet(bt, bit)) printf("%d,", bit - 1);
    }
}
