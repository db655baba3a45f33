// Named maps (SNamedStringList, SNamedValue), the array map SIndexString, and the
// field format reader and writer.
//
// The field format writes one "name value" line per value; a value holding the line
// separator followed by a space or tab survives a round trip because such lines are
// read back as continuations.  Names whose list is undefined are neither listed nor
// written.
#include "SNamedLists.h"

#include <cstring>

// ---- SNLists ------------------------------------------------------------------------

SNLists::SNLists(unsigned exact) : caseFlag(exact), table(0, exact) {}

SNLists::~SNLists() = default;

void SNLists::Delete(const SString& name) { table.Remove(name); }

void SNLists::Reset() { table.Reset(); }

// ---- SNamedStringList ------------------------------------------------------------------

SNamedStringList::SNamedStringList(unsigned exact, unsigned lineEnd)
    : SNLists(exact), crlf(lineEnd) {}

SNamedStringList::SNamedStringList(const SNamedStringList& other)
    : SNLists(other.caseFlag), crlf(other.crlf) {
    _CopyFrom(other);
}

SNamedStringList& SNamedStringList::operator=(const SNamedStringList& other) {
    if (this == &other) return *this;
    Reset();
    // The stored flags follow the source; lookups keep this table's own mode.
    caseFlag = other.caseFlag;
    crlf = other.crlf;
    _CopyFrom(other);
    return *this;
}

SNamedStringList::~SNamedStringList() = default;

void SNamedStringList::_CopyFrom(const SNamedStringList& other) {
    for (STableItem* item = other.table.First(); item; item = other.table.Next(item)) {
        auto* entry = static_cast<SNamedListItem*>(item);
        if (entry->value.Defined()) (*this)[entry->key] = entry->value;
    }
}

SStringList& SNamedStringList::operator[](const SString& name) {
    auto* entry = static_cast<SNamedListItem*>(table.Lookup(name));
    if (!entry) {
        entry = new SNamedListItem;
        table.Add(name, entry);
    }
    return entry->value;
}

SStringList SNamedStringList::Get(const SString& name) const {
    auto* entry = static_cast<SNamedListItem*>(table.Lookup(name));
    return entry ? entry->value : SStringList();
}

SStringList SNamedStringList::Keys() const {
    SStringList keys;
    for (STableItem* item = table.First(); item; item = table.Next(item)) {
        if (static_cast<SNamedListItem*>(item)->value.Defined()) keys.Push(item->key);
    }
    return keys;
}

SNamedStringList& SNamedStringList::operator+=(const SNamedStringList& other) {
    SStringList mine = Keys();
    SStringList theirs = other.Keys();
    theirs.ForEach([&](const SString& name) {
        SStringList incoming = other.Get(name);
        if (!mine.Contains(name)) {
            (*this)[name] = incoming;
            return;
        }
        SStringList& list = (*this)[name];
        incoming.ForEach([&list](const SString& value) {
            if (!list.Contains(value)) list.Push(value);
        });
    });
    return *this;
}

// The writer walks the table directly and reserves the whole text first: control
// files are written for every message, so this stays a single allocation.
SString& operator<<(SString& text, const SNamedStringList& fields) {
    const SString sep(fields.Separator());
    const int seplen = sep.Length();
    int total = text.Length();
    fields.ForEachField([&](const SString& name, const SStringList& values) {
        int lines = values.Count() > 0 ? values.Count() : 1;
        total += lines * (name.Length() + 1 + seplen) + Length(values);
    });
    if (total > text.Length()) text.Reserve(total);
    fields.ForEachField([&](const SString& name, const SStringList& values) {
        if (values.Count() == 0) {
            text += name;
            text += ' ';
            text += sep;
            return;
        }
        values.ForEach([&](const SString& value) {
            text += name;
            text += ' ';
            text += value;
            text += sep;
        });
    });
    return text;
}

namespace {

// Splits the text at every separator, one line at a time, without building an
// intermediate list; an empty last piece (text ending with the separator) is dropped.
class SFieldReader {
public:
    SFieldReader(const SString& text, const char* separator)
        : text(text), sep(separator), seplen(sep.Length()) {}

    // The next line as (start, length); false after the last one.
    bool Next(int* start, int* len) {
        if (done) return false;
        int at = text.Index(sep, pos);
        *start = pos;
        if (at < 0) {
            done = true;
            *len = text.Length() - pos;
            return *len > 0;
        }
        *len = at - pos;
        pos = at + seplen;
        return true;
    }

    // True when the next line begins with a space or tab, i.e. continues the value.
    bool ContinuationFollows() const {
        if (done || pos >= text.Length()) return false;
        char c = text.Chars()[pos];
        return c == ' ' || c == '\t';
    }

private:
    const SString& text;
    const SString sep;
    int seplen;
    int pos = 0;
    bool done = false;
};

}  // namespace

const SString& operator>>(const SString& text, SNamedStringList& fields) {
    fields.Reset();
    const char* base = text.Chars();
    SFieldReader reader(text, fields.Separator());
    SString name;
    SStringList* values = nullptr;  // the current name's list, looked up once per name
    int start, len;
    while (reader.Next(&start, &len)) {
        const char* line = base + start;
        const void* space = std::memchr(line, ' ', len);
        int p = space ? static_cast<int>(static_cast<const char*>(space) - line) : -1;
        if (p > 0 && !(name.Length() == p && std::memcmp(name.Chars(), line, p) == 0)) {
            name = SString(line, p);
            values = nullptr;
        }
        SString value(line + p + 1, len - p - 1);
        while (reader.ContinuationFollows() && reader.Next(&start, &len)) {
            value += fields.Separator();
            value += SString(base + start, len);
        }
        if (!values) values = &fields[name];
        values->Push(value);
    }
    return text;
}

// ---- SNamedValue ------------------------------------------------------------------------

SNamedValue::SNamedValue(unsigned exact) : SNLists(exact) {}

SNamedValue::SNamedValue(const SNamedValue& other) : SNLists(other.caseFlag) { _CopyFrom(other); }

SNamedValue& SNamedValue::operator=(const SNamedValue& other) {
    if (this == &other) return *this;
    Reset();
    _CopyFrom(other);
    return *this;
}

SNamedValue::~SNamedValue() = default;

void SNamedValue::_CopyFrom(const SNamedValue& other) {
    for (STableItem* item = other.table.First(); item; item = other.table.Next(item))
        (*this)[item->key] = static_cast<SNamedValueItem*>(item)->value;
}

int32_t& SNamedValue::operator[](const SString& name) {
    auto* entry = static_cast<SNamedValueItem*>(table.Lookup(name));
    if (!entry) {
        entry = new SNamedValueItem;
        table.Add(name, entry);
    }
    return entry->value;
}

int32_t SNamedValue::Get(const SString& name) const {
    auto* entry = static_cast<SNamedValueItem*>(table.Lookup(name));
    return entry ? entry->value : -1;
}

SStringList SNamedValue::Keys() const {
    SStringList keys;
    for (STableItem* item = table.First(); item; item = table.Next(item)) {
        if (static_cast<SNamedValueItem*>(item)->value != -1) keys.Push(item->key);
    }
    return keys;
}

// ---- SIndexString ------------------------------------------------------------------------

SIndexString::SIndexString() : used(0), spare(0), entries(nullptr) {}

SIndexString::SIndexString(const SIndexString& other) : SIndexString() { *this = other; }

SIndexString& SIndexString::operator=(const SIndexString& other) {
    if (this == &other) return *this;
    delete[] entries;
    used = other.used;
    spare = 0;
    entries = used > 0 ? new Entry[used] : nullptr;
    for (int i = 0; i < used; ++i) entries[i] = other.entries[i];
    return *this;
}

SIndexString::~SIndexString() { delete[] entries; }

int SIndexString::_Find(int key) const {
    for (int i = 0; i < used; ++i) {
        if (entries[i].key == key) return i;
    }
    return -1;
}

SString& SIndexString::operator[](const int& key) {
    int at = _Find(key);
    if (at >= 0) return entries[at].value;
    if (spare == 0) {
        Entry* fresh = new Entry[used + 5];
        for (int i = 0; i < used; ++i) fresh[i] = entries[i];
        delete[] entries;
        entries = fresh;
        spare = 5;
    }
    entries[used].key = key;
    entries[used].value = SString();
    spare--;
    return entries[used++].value;
}

SString SIndexString::Get(const int& key) const {
    int at = _Find(key);
    return at >= 0 ? entries[at].value : SString();
}

int SIndexString::Keys(int** out) const {
    int* keys = out ? new int[used > 0 ? used : 1] : nullptr;
    int n = 0;
    for (int i = 0; i < used; ++i) {
        if (entries[i].value.Length() == 0) continue;
        if (keys) keys[n] = entries[i].key;
        ++n;
    }
    if (out) *out = keys;
    return n;
}

void SIndexString::Delete(const int& key) {
    int at = _Find(key);
    if (at < 0) return;
    for (int i = at; i + 1 < used; ++i) entries[i] = entries[i + 1];
    used--;
    spare++;
    entries[used].key = 0;
    entries[used].value = SString();
}
