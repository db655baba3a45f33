// STable: chained hash table keyed by SString, with an insertion-order ring.
//
// Each entry keeps its hash so that most key mismatches cost one integer compare.
// The hash is case-blind whatever the comparison mode, so exact and case-blind
// tables put a key in the same bucket.  Growth happens before an add once the table
// holds more than two entries per bucket.
#include "STable.h"

#include "CaseFold.h"

namespace {

const int kPrimeSizes[] = {7, 17, 37, 79, 163, 331, 673, 1361, 2729, 5471, 10949};

int NextSize(int old) {
    for (int size : kPrimeSizes) {
        if (size >= 2 * old) return size;
    }
    return 2 * old;
}

}  // namespace

STableItem::~STableItem() = default;

STable::STable(int sz, unsigned ex)
    : buckets(nullptr), size(sz > 0 ? sz : 7), count(0), exact(ex) {
    buckets = new STableItem*[size]();
    order.next = &order;
    order.prev = &order;
}

STable::~STable() {
    Reset();
    delete[] buckets;
}

uint32_t STable::_Hash(const SString& key) {
    const unsigned char* lower = quillbox_text::LowerTable();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(key.Chars());
    uint32_t h = 0;
    for (int i = 0, n = key.Length(); i < n; ++i) h = h * 33u + lower[p[i]];
    return h;
}

bool STable::_KeyCompare(const STableItem* item, uint32_t hash, const SString& key) const {
    if (item->hash != hash) return false;
    return exact ? item->key == key : item->key.CompareNoCase(key);
}

STableItem* STable::_NextOf(const STableItem* item) const {
    return item->next == &order ? nullptr : item->next;
}

STableItem* STable::Lookup(const SString& key) const {
    uint32_t hash = _Hash(key);
    for (STableItem* item = buckets[hash % size]; item; item = item->chain) {
        if (_KeyCompare(item, hash, key)) return item;
    }
    return nullptr;
}

void STable::Add(const SString& key, STableItem* item) {
    if (count > 2 * size) _Enlarge();
    item->key = key;
    item->hash = _Hash(key);
    STableItem** link = &buckets[item->hash % size];
    while (*link && !_KeyCompare(*link, item->hash, key)) link = &(*link)->chain;
    STableItem* old = *link;
    if (!old) {
        item->chain = nullptr;
        *link = item;
        count++;
        item->prev = order.prev;
        item->next = &order;
        order.prev->next = item;
        order.prev = item;
        return;
    }
    // Replace in place: the new entry inherits the old one's chain link and its
    // position in the insertion order.
    item->chain = old->chain;
    *link = item;
    item->prev = old->prev;
    item->next = old->next;
    old->prev->next = item;
    old->next->prev = item;
    delete old;
}

void STable::Remove(const SString& key) {
    uint32_t hash = _Hash(key);
    STableItem** link = &buckets[hash % size];
    while (*link && !_KeyCompare(*link, hash, key)) link = &(*link)->chain;
    STableItem* item = *link;
    if (!item) return;
    *link = item->chain;
    item->prev->next = item->next;
    item->next->prev = item->prev;
    count--;
    delete item;
}

SStringList STable::Keys() const {
    SStringList keys;
    for (STableItem* item = First(); item; item = Next(item)) keys.Push(item->key);
    return keys;
}

void STable::Reset() {
    STableItem* item = order.next;
    while (item != &order) {
        STableItem* next = item->next;
        delete item;
        item = next;
    }
    order.next = &order;
    order.prev = &order;
    for (int i = 0; i < size; ++i) buckets[i] = nullptr;
    count = 0;
}

void STable::_Enlarge() {
    int newSize = NextSize(size);
    STableItem** fresh = new STableItem*[newSize]();
    for (int i = 0; i < size; ++i) {
        STableItem* item = buckets[i];
        while (item) {
            STableItem* chain = item->chain;
            STableItem** head = &fresh[item->hash % newSize];
            item->chain = *head;
            *head = item;
            item = chain;
        }
    }
    delete[] buckets;
    buckets = fresh;
    size = newSize;
}
