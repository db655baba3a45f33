// STable: the system's hash table keyed by SString.
//
// Keys compare exactly or ignoring case (chosen at construction); the hash itself is
// always case-blind so both modes find the same bucket.  Entries derive from
// STableItem and are owned by the table: removing, replacing or resetting destroys
// them.  Keys come back in insertion order, and a replaced key keeps its first place.
// The table grows to roughly double prime sizes once it holds more than two entries
// per bucket.
#ifndef QUILLBOX_STABLE_H
#define QUILLBOX_STABLE_H

#include <cstdint>

#include "SString.h"
#include "SStringList.h"

class STableItem {
public:
    STableItem() = default;
    virtual ~STableItem();
    STableItem(const STableItem&) = delete;
    STableItem& operator=(const STableItem&) = delete;

    STableItem* chain = nullptr;  // next entry in the same bucket
    STableItem* next = nullptr;   // next entry in insertion order
    STableItem* prev = nullptr;   // previous entry in insertion order
    SString key;
    uint32_t hash = 0;
};

class STable {
public:
    explicit STable(int size = 0, unsigned exact = 1);
    virtual ~STable();
    STable(const STable&) = delete;
    STable& operator=(const STable&) = delete;

    STableItem* Lookup(const SString& key) const;
    void Add(const SString& key, STableItem* item);
    void Remove(const SString& key);
    SStringList Keys() const;
    void Reset();

    int Count() const { return count; }
    int Size() const { return size; }
    bool Exact() const { return exact != 0; }

    // Walk in insertion order: First() is the oldest entry, Next() returns null after
    // the newest.
    STableItem* First() const { return _NextOf(&order); }
    STableItem* Next(const STableItem* item) const { return _NextOf(item); }

    static uint32_t _Hash(const SString& key);

private:
    bool _KeyCompare(const STableItem* item, uint32_t hash, const SString& key) const;
    void _Enlarge();
    STableItem* _NextOf(const STableItem* item) const;

    STableItem** buckets;
    int32_t size;
    int32_t count;
    STableItem order;
    unsigned exact;
};

#endif
