// SStringList: copy-on-write lists of strings held in a circular ring of items.
//
// Every changing operation first calls _MakeUnique, which gives this handle its own
// ring (sharing the strings, not copying their bytes).  Item lookup by position walks
// from the nearer end of the ring.  Sorting exchanges string handles between ring
// items and never moves the items themselves.
#include "SStringList.h"

#include "BlockPool.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <utility>

namespace {

SStringListRep* NewListRep() { return new SStringListRep{nullptr, 0, 1, 1}; }

void SwapStrings(SStringItem* a, SStringItem* b) {
    if (a != b) a->str.Swap(b->str);
}

}  // namespace

// ---- SStringItem ----------------------------------------------------------------------

void* SStringItem::operator new(std::size_t size) { return quillbox_text::PoolAlloc(size); }

void SStringItem::operator delete(void* item, std::size_t size) noexcept {
    quillbox_text::PoolFree(item, size);
}

SStringItem::SStringItem() : next(this), prev(this) {}

SStringItem::SStringItem(const SString& s) : str(s), next(this), prev(this) {}

SStringItem::~SStringItem() {
    prev->next = next;
    next->prev = prev;
}

void SStringItem::Debug(int verbose) const {
    std::cerr << "Prev: " << static_cast<const void*>(prev) << " This: "
              << static_cast<const void*>(this) << " Next: " << static_cast<const void*>(next)
              << "\n";
    str.Debug(verbose);
}

// ---- representation management --------------------------------------------------------

void SStringList::_Release() {
    if (--rep->links > 0) return;
    while (rep->count > 0) {
        SStringItem* last = rep->head->prev;
        if (last == rep->head) rep->head = nullptr;
        delete last;
        rep->count--;
    }
    delete rep;
}

void SStringList::_MakeUnique() {
    if (rep->links == 1) return;
    SStringList old(*this);  // keeps the shared ring alive while we copy it
    Reset();
    old.ForEach([this](const SString& s) { _Append(new SStringItem(s)); });
    rep->flags |= 1;
}

SStringItem* SStringList::_Item(int i) const {
    SStringItem* item = rep->head;
    if (i > rep->count / 2) {
        for (int steps = rep->count - i; steps > 0; --steps) item = item->prev;
    } else {
        for (int steps = i; steps > 0; --steps) item = item->next;
    }
    return item;
}

void SStringList::_Append(SStringItem* item) {
    rep->flags |= 1;
    if (!rep->head) {
        rep->head = item;
        rep->count = 1;
        return;
    }
    SStringItem* last = rep->head->prev;
    item->prev = last;
    item->next = rep->head;
    last->next = item;
    rep->head->prev = item;
    rep->count++;
}

void SStringList::_Unlink(SStringItem* item) {
    if (item == rep->head) rep->head = item->next;
    rep->count--;
    if (rep->count == 0) rep->head = nullptr;
    delete item;
}

// ---- construction -----------------------------------------------------------------------

SStringList::SStringList() : rep(NewListRep()) { rep->flags &= ~1; }

SStringList::SStringList(const SStringList& other) : rep(other.rep) { rep->links++; }

SStringList::SStringList(const SString& s) : rep(NewListRep()) { Push(s); }

SStringList::SStringList(const char* s) : rep(NewListRep()) { Push(s); }

SStringList::SStringList(const char** array) : rep(NewListRep()) {
    if (!array) {
        rep->flags &= ~1;
        return;
    }
    for (; *array; ++array) Push(*array);
}

SStringList::~SStringList() { _Release(); }

SStringList& SStringList::operator=(const SStringList& other) {
    if (rep == other.rep) return *this;
    other.rep->links++;
    _Release();
    rep = other.rep;
    return *this;
}

SStringList& SStringList::operator=(const SString& s) {
    Reset();
    Push(s);
    return *this;
}

SStringList& SStringList::operator=(const char* s) {
    Reset();
    Push(s);
    return *this;
}

SStringList& SStringList::operator=(const char** array) {
    Reset();
    if (!array) {
        rep->flags &= ~1;
        return *this;
    }
    for (; *array; ++array) Push(*array);
    return *this;
}

// ---- access -------------------------------------------------------------------------------

SString SStringList::Get(int i) const {
    if (i < 0) i += rep->count;
    if (i < 0 || i >= rep->count) return SString();
    return _Item(i)->str;
}

SString& SStringList::operator[](int i) {
    _MakeUnique();
    if (i < 0) {
        i += rep->count;
        if (i < 0) {
            // A position before the start refers to nothing in the list; hand out a
            // fresh scratch string so writes through it are harmless.
            static thread_local SString scratch;
            scratch = SString();
            return scratch;
        }
    }
    while (rep->count <= i) _Append(new SStringItem());
    return _Item(i)->str;
}

int SStringList::Index(const SString& s) const {
    SStringItem* item = rep->head;
    for (int i = 0; i < rep->count; ++i, item = item->next) {
        if (item->str == s) return i;
    }
    return -1;
}

int SStringList::Index(const char* s) const { return Index(SString(s ? s : "")); }

// ---- adding and removing ------------------------------------------------------------------

int SStringList::Push(const SString& s) {
    _MakeUnique();
    _Append(new SStringItem(s));
    return rep->count;
}

int SStringList::Push(const char* s) { return Push(SString(s)); }

int SStringList::Push(const SStringList& l) {
    SStringList keep(l);  // pushing a list onto itself copies the items once
    _MakeUnique();
    rep->flags |= 1;
    keep.ForEach([this](const SString& s) { _Append(new SStringItem(s)); });
    return rep->count;
}

SString SStringList::Pop() {
    if (rep->count == 0) return SString();
    _MakeUnique();
    SStringItem* last = rep->head->prev;
    SString s = last->str;
    _Unlink(last);
    return s;
}

SString SStringList::Shift() {
    if (rep->count == 0) return SString();
    _MakeUnique();
    SStringItem* first = rep->head;
    SString s = first->str;
    _Unlink(first);
    return s;
}

bool SStringList::Delete(int i) {
    if (i < 0 || i >= rep->count) return false;
    _MakeUnique();
    _Unlink(_Item(i));
    return true;
}

bool SStringList::Delete(const SString& s) {
    int i = Index(s);
    return i >= 0 && Delete(i);
}

bool SStringList::Delete(const char* s) { return Delete(SString(s ? s : "")); }

void SStringList::Insert(const SStringList& l, int pos) {
    SStringList source(l);  // `l` may be this very list
    _MakeUnique();
    if (rep->count == 0) {
        if (pos > 0) {
            for (int i = 0; i < pos; ++i) _Append(new SStringItem());
            source.ForEach([this](const SString& s) { _Append(new SStringItem(s)); });
            rep->flags |= 1;
        } else {
            *this = source;
        }
        return;
    }
    if (pos < 0 || pos > rep->count || source.Count() == 0) return;
    if (pos == rep->count) {
        source.ForEach([this](const SString& s) { _Append(new SStringItem(s)); });
        return;
    }
    SStringItem* before = _Item(pos);
    source.ForEach([&](const SString& s) {
        SStringItem* item = new SStringItem(s);
        item->prev = before->prev;
        item->next = before;
        before->prev->next = item;
        before->prev = item;
        rep->count++;
    });
    if (pos == 0) {
        // The new items went in front of the old head: the first of them leads now.
        SStringItem* first = before;
        for (int i = 0; i < source.Count(); ++i) first = first->prev;
        rep->head = first;
    }
}

SStringList SStringList::Splice(int off, int len) {
    _MakeUnique();
    SStringList removed;
    if (off < 0 || len <= 0 || off + len > rep->count) return removed;
    if (len == rep->count) {
        std::swap(rep, removed.rep);
        rep->flags |= 1;
        removed.rep->flags |= 1;
        return removed;
    }
    SStringItem* first = _Item(off);
    SStringItem* last = first;
    for (int i = 1; i < len; ++i) last = last->next;
    // Close the gap in this ring, then close the run into a ring of its own.
    first->prev->next = last->next;
    last->next->prev = first->prev;
    if (off == 0) rep->head = last->next;
    rep->count -= len;
    first->prev = last;
    last->next = first;
    removed.rep->head = first;
    removed.rep->count = len;
    removed.rep->flags |= 1;
    return removed;
}

SStringList SStringList::Splice(int off) {
    if (rep->count == 0 || off >= rep->count) return SStringList();
    return Splice(off, rep->count - off);
}

SStringList SStringList::Splice(int off, int len, const SStringList& l) {
    SStringList source(l);
    SStringList removed = Splice(off, len);
    Insert(source, off);
    return removed;
}

SStringList SStringList::Slice(int from, int to) const {
    SStringList out;
    if (from < 0 || from > to || to >= rep->count) return out;
    SStringItem* item = _Item(from);
    for (int i = from; i <= to; ++i, item = item->next) out._Append(new SStringItem(item->str));
    return out;
}

// ---- whole-list operations ------------------------------------------------------------------

SString SStringList::Join(const SString& sep) const {
    if (!Defined()) return SString();
    if (rep->count == 0) return SString("");
    SString out = rep->head->str;
    if (rep->count == 1) return out;
    int total = ::Length(*this) + (rep->count - 1) * sep.Length();
    SString result;
    result._Realloc(total);
    result.rep->length = 0;
    SStringItem* item = rep->head;
    for (int i = 0; i < rep->count; ++i, item = item->next) {
        if (i > 0) result._Append(sep.Chars(), sep.Length());
        result._Append(item->str.Chars(), item->str.Length());
    }
    return result;
}

SString SStringList::Join() const { return Join(SString("")); }

int SStringList::Chop() {
    _MakeUnique();
    int last = 0;
    SStringItem* item = rep->head;
    for (int i = 0; i < rep->count; ++i, item = item->next) last = item->str.Chop();
    return last;
}

void SStringList::Reverse() {
    if (rep->count < 2) return;
    _MakeUnique();
    SStringItem* front = rep->head;
    SStringItem* back = rep->head->prev;
    for (int i = 0; i < rep->count / 2; ++i, front = front->next, back = back->prev)
        SwapStrings(front, back);
}

void SStringList::_SortRun(SStringItem* first, int n) {
    while (n >= 2) {
        if (n == 2) {
            if (first->str > first->next->str) SwapStrings(first, first->next);
            return;
        }
        // Random pivot, moved to the front of the run.
        int k = static_cast<int>(static_cast<long long>(std::rand()) * n / 32768) % n;
        SStringItem* pivot = first;
        for (int i = 0; i < k; ++i) pivot = pivot->next;
        SwapStrings(first, pivot);
        // Lomuto-style partition over the ring: items not greater than the pivot are
        // gathered just after it.
        SStringItem* boundary = first;  // last item known to be <= pivot
        int small = 0;
        SStringItem* scan = first->next;
        for (int i = 1; i < n; ++i, scan = scan->next) {
            if (!(scan->str > first->str)) {
                boundary = boundary->next;
                SwapStrings(boundary, scan);
                ++small;
            }
        }
        SwapStrings(first, boundary);
        // Sort the smaller side recursively and loop on the larger one, so the
        // recursion depth stays logarithmic.
        SStringItem* right = boundary->next;
        int large = n - small - 1;
        if (small < large) {
            _SortRun(first, small);
            first = right;
            n = large;
        } else {
            _SortRun(right, large);
            n = small;
        }
    }
}

void SStringList::Sort() {
    if (rep->count < 2) return;
    _MakeUnique();
    _SortRun(rep->head, rep->count);
}

void SStringList::Unique() {
    if (rep->count < 2) return;
    _MakeUnique();
    SStringItem* item = rep->head->next;
    int i = 1;
    while (i < rep->count) {
        SStringItem* next = item->next;
        if (item->str == item->prev->str)
            _Unlink(item);
        else
            ++i;
        item = next;
    }
}

void SStringList::Reset() {
    if (rep->links == 1) {
        while (rep->count > 0) _Unlink(rep->head->prev);
        rep->flags |= 1;
        return;
    }
    rep->links--;
    rep = NewListRep();
}

void SStringList::Undef() {
    Reset();
    rep->flags &= ~1;
}

bool SStringList::operator==(const SStringList& other) const {
    if (rep == other.rep) return true;
    if (rep->count != other.rep->count) return false;
    SStringItem* a = rep->head;
    SStringItem* b = other.rep->head;
    for (int i = 0; i < rep->count; ++i, a = a->next, b = b->next) {
        if (!(a->str == b->str)) return false;
    }
    return true;
}

SStringList::operator char**() const {
    if (!Defined()) return nullptr;
    char** array = new (std::nothrow) char*[rep->count + 1];
    if (!array) return nullptr;
    array[rep->count] = nullptr;
    if (rep->count == 0) return array;
    char* block = new (std::nothrow) char[::Length(*this) + rep->count];
    if (!block) {
        delete[] array;
        return nullptr;
    }
    SStringItem* item = rep->head;
    for (int i = 0; i < rep->count; ++i, item = item->next) {
        array[i] = block;
        std::memcpy(block, item->str.Chars(), item->str.Length());
        block += item->str.Length();
        *block++ = 0;
    }
    return array;
}

SStringList SStringList::Clone() const {
    SStringList copy;
    ForEach([&copy](const SString& s) {
        SString fresh = s.Defined() ? SString(s.Chars(), s.Length()) : SString();
        copy._Append(new SStringItem(fresh));
    });
    if (Defined())
        copy.rep->flags |= 1;
    else
        copy.rep->flags &= ~1;
    return copy;
}

void SStringList::Debug(int verbose) const {
    if (!Defined()) {
        std::cerr << "Undefined\n";
        return;
    }
    std::cerr << "Number of Links: " << rep->links << "\n"
              << "Number of Items: " << rep->count << "\n"
              << "Root node:       " << static_cast<const void*>(rep->head) << "\n"
              << "Flags:           " << rep->flags << "\n";
    if (!verbose) return;
    SStringItem* item = rep->head;
    for (int i = 0; i < rep->count; ++i, item = item->next) item->Debug(verbose);
}

// ---- free functions ---------------------------------------------------------------------------

int Length(const SStringList& l) {
    int total = 0;
    l.ForEach([&total](const SString& s) { total += s.Length(); });
    return total;
}

namespace {

template <typename F>
SStringList MapItems(const SStringList& l, F&& change) {
    SStringList out;
    l.ForEach([&](const SString& s) { out.Push(change(s)); });
    if (l.Defined() && out.Count() == 0) out.Reset();
    return out;
}

}  // namespace

SStringList BaseName(const SStringList& l, const SString& suffix) {
    return MapItems(l, [&](const SString& s) { return BaseName(s, suffix); });
}

SStringList LowerCase(const SStringList& l) {
    return MapItems(l, [](SString s) { return s.LowerCase(); });
}

SStringList UpperCase(const SStringList& l) {
    return MapItems(l, [](SString s) { return s.UpperCase(); });
}

std::ostream& operator<<(std::ostream& out, const SStringList& l) {
    l.ForEach([&out](const SString& s) { s.Write(out); });
    return out;
}

std::istream& operator>>(std::istream& in, SStringList& l) {
    l.Reset();
    SString line;
    for (;;) {
        line.ReadLine(in);
        if (line.Length() == 0) break;
        l.Push(line);
    }
    return in;
}
