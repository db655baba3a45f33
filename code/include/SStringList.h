// SStringList: ordered, copy-on-write list of SString, and its node SStringItem.
//
// Every field value, attribute value and argument list travels as an SStringList.
// The items form a circular doubly linked ring held by a shared representation; a
// change first makes the representation private (the strings themselves stay shared).
// A list is undefined until something is pushed, inserted or assigned; an undefined
// list and a defined empty one both have no items.
#ifndef QUILLBOX_SSTRINGLIST_H
#define QUILLBOX_SSTRINGLIST_H

#include <cstddef>

#include "SString.h"

// A node of the ring.  A new item links to itself; destroying it unlinks it first.
class SStringItem {
public:
    SStringItem();
    explicit SStringItem(const SString& s);
    ~SStringItem();
    SStringItem(const SStringItem&) = delete;
    SStringItem& operator=(const SStringItem&) = delete;

    void Debug(int verbose = 0) const;

    // Items are allocated and freed for every value of every field read or written,
    // so they come from the text layer's per-thread block pool.
    static void* operator new(std::size_t size);
    static void operator delete(void* item, std::size_t size) noexcept;

    SString str;
    SStringItem* next;
    SStringItem* prev;
};

struct SStringListRep {
    SStringItem* head;
    int32_t count;
    int32_t links;
    int32_t flags;  // bit 0: the list is defined
};

class SStringList {
public:
    SStringList();
    SStringList(const SStringList& other);
    SStringList(const SString& s);
    SStringList(const char* s);
    SStringList(const char** array);
    ~SStringList();

    SStringList& operator=(const SStringList& other);
    SStringList& operator=(const SString& s);
    SStringList& operator=(const char* s);
    SStringList& operator=(const char** array);

    bool Defined() const { return (rep->flags & 1) != 0; }
    int Count() const { return rep->count; }

    SString Get(int i) const;
    SString& operator[](int i);
    int Index(const SString& s) const;
    int Index(const char* s) const;
    bool Contains(const SString& s) const { return Index(s) >= 0; }
    bool Contains(const char* s) const { return Index(s) >= 0; }

    int Push(const SString& s);
    int Push(const char* s);
    int Push(const SStringList& l);
    SString Pop();
    SString Shift();
    bool Delete(int i);
    bool Delete(const SString& s);
    bool Delete(const char* s);
    void Insert(const SStringList& l, int pos = 0);
    SStringList Splice(int off, int len);
    SStringList Splice(int off);
    SStringList Splice(int off, int len, const SStringList& l);
    SStringList Slice(int from, int to) const;

    SString Join(const SString& sep) const;
    SString Join() const;
    int Chop();
    void Reverse();
    void Sort();
    void Unique();
    void Reset();
    void Undef();

    bool operator==(const SStringList& other) const;
    bool operator!=(const SStringList& other) const { return !(*this == other); }

    // A null-terminated array of C strings in one block (see the source for the
    // ownership rules); null for an undefined list.
    explicit operator char**() const;
    SStringList Clone() const;
    void Debug(int verbose = 0) const;

    // Pattern filters (see SRegex.h).  Grep(rx, keep) keeps the items whose match
    // result equals keep's truth.  Grep(test, rejects) takes a Perl-like test text
    // ("/re/i", "!m#re#", "s/a/b/g", "-d") and may change the items in place.
    SStringList Grep(SRegex& rx, int keep = 1) const;
    SStringList Grep(const SString& test, SStringList* rejects = nullptr);

    // Read-only walk over the ring, first to last, for callers that visit every item.
    template <typename F>
    void ForEach(F&& visit) const {
        SStringItem* item = rep->head;
        for (int i = 0; i < rep->count; ++i, item = item->next) visit(item->str);
    }

private:
    void _MakeUnique();
    SStringItem* _Item(int i) const;
    void _Append(SStringItem* item);
    void _Unlink(SStringItem* item);
    void _Release();
    void _SortRun(SStringItem* first, int n);

    SStringListRep* rep;
};

// Total number of bytes of all items.
int Length(const SStringList& l);
SStringList BaseName(const SStringList& l, const SString& suffix);
SStringList LowerCase(const SStringList& l);
SStringList UpperCase(const SStringList& l);

std::ostream& operator<<(std::ostream& out, const SStringList& l);
std::istream& operator>>(std::istream& in, SStringList& l);

#endif
