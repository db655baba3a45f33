// SObjectDB: objects with numbered list attributes in one B-tree file, and the
// secondary index of their canonical values in another.
//
// Values are stored unchanged; only the index holds canonical forms.  Every lookup is
// a prefix walk of the index cursor under the database-wide read lock (the attribute
// tree's), which stops at the first key outside the prefix or at the end of the file.
#include "SObjectDB.h"

#include <algorithm>
#include <cstring>

namespace {

const SString& Zero() {
    static const SString zero("", 1);
    return zero;
}

SString CodeByte(int code) { return SString(static_cast<char>(code & 255), 1); }

SString AttribKey(const SString& object, int code) { return object + Zero() + CodeByte(code); }

// The second word of a blank-separated value ("" when there is none).
SString SecondWord(const SString& value) {
    const char* p = value.Chars();
    int n = value.Length(), at = 0;
    while (at < n && p[at] == ' ') ++at;
    while (at < n && p[at] != ' ') ++at;
    while (at < n && p[at] == ' ') ++at;
    int start = at;
    while (at < n && p[at] != ' ') ++at;
    return SString(p + start, at - start);
}

}  // namespace

SObjectDB::SObjectDB(const SString& baseName, int mode, const int* flags, int count)
    : attribs(SString(), mode), index(SString(), mode), flagTable(nullptr), flagCount(0) {
    Init(baseName, mode, flags, count);
}

void SObjectDB::Init(const SString& baseName, int, const int* flags, int count) {
    attribs.SetFilename(baseName + "a");
    index.SetFilename(baseName + "i");
    flagTable = flags;
    flagCount = flags ? count : 0;
}

int SObjectDB::_Flags(int code) const {
    int c = code & 255;
    return c < flagCount ? flagTable[c] : 0;
}

// ---- locks -----------------------------------------------------------------------------

// The attribute tree's lock is the database-wide read lock.  Under a write lock the
// attribute file is opened (and so locked) before anything touches the index.
bool SObjectDB::_ReadLock() {
    if (attribs.WriteDepth() > 0) return attribs.Open();
    return attribs.LockRead() >= 0;
}

void SObjectDB::_ReadUnlock() { attribs.UnlockRead(); }

bool SObjectDB::_OpenForWrite() { return attribs.Open() && index.Open(); }

int SObjectDB::LockWrite() {
    int depth = attribs.LockWrite();
    index.LockWrite();
    return depth;
}

// The index goes first: once the attribute lock is released a reader may look at the
// index, which must be flushed and closed by then.
int SObjectDB::UnlockWrite() {
    index.UnlockWrite();
    return attribs.UnlockWrite();
}

// ---- encodings -------------------------------------------------------------------------

SStringList SObjectDB::_SplitValues(const SString& data) {
    SStringList values;
    values.Reset();
    const char* p = data.Chars();
    int end = data.Length();
    while (end > 0 && p[end - 1] == 0) --end;
    const void* zero = std::memchr(p, 0, end);
    while (zero) {  // the piece before the first zero byte is dropped
        int at = static_cast<int>(static_cast<const char*>(zero) - p) + 1;
        zero = std::memchr(p + at, 0, end - at);
        int stop = zero ? static_cast<int>(static_cast<const char*>(zero) - p) : end;
        values.Push(SString(p + at, stop - at));
    }
    return values;
}

SString SObjectDB::_JoinValues(const SStringList& values) {
    SString data("");
    values.ForEach([&data](const SString& value) {
        data += Zero();
        data += value;
    });
    return data;
}

SString SObjectDB::_CanonicalizeValue(int code, const SString& value) const {
    int flags = _Flags(code);
    SString form = value;
    if (flags & AttribLowerCase) form.LowerCase();
    if (flags & AttribMailbox) {
        if ((flags & AttribSecondWord) && form.Index(' ', 1) >= 0) form = SecondWord(form);
        if (form.Length() >= 2 && form[0] == '<' && form[-1] == '>')
            form = form.Segment(1, form.Length() - 2);
    }
    if (form.Length() == 0) return SString("");
    if (flags & AttribDomain) {
        form.Reverse();
        form += ".";
    }
    return form;
}

SString SObjectDB::_IndexKey(int code, const SString& canonical, const SString& object) const {
    return CodeByte(code) + canonical + Zero() + object;
}

// Exact lookups end the prefix with the zero byte; domain lookups match a prefix of
// the reversed form, which ends in "." and so only at a label boundary.
SString SObjectDB::_Prefix(int code, const SString& value) const {
    SString canonical = _CanonicalizeValue(code, value);
    if (canonical.Length() == 0) return SString();
    SString prefix = CodeByte(code) + canonical;
    if (!(_Flags(code) & AttribDomain)) prefix += Zero();
    return prefix;
}

template <typename Visit>
void SObjectDB::_WalkIndex(const SString& prefix, Visit&& visit) {
    SString key = prefix;
    for (SString value = index.SeqFirst(key); value.Defined() && key.HasPrefix(prefix);
         value = index.SeqNext(key))
        visit(key);
}

// ---- attributes ------------------------------------------------------------------------

SStringList SObjectDB::GetAttrib(int code, const SString& object) {
    if (!_ReadLock()) return SStringList();
    SString data = attribs.Get(AttribKey(object, code));
    _ReadUnlock();
    return data.Defined() ? _SplitValues(data) : SStringList();
}

int SObjectDB::GetType(const SString& object) {
    SStringList type = GetAttrib(0, object);
    return type.Count() > 0 ? type.Get(0)[0] : 0;
}

bool SObjectDB::SetAttrib(int code, const SString& object, const SStringList& values,
                          int flags) {
    if (!_OpenForWrite()) return false;
    if (!(flags & 1) && !_UpdateAttribIndex(code, object, values)) return false;
    return attribs.Set(AttribKey(object, code), _JoinValues(values));
}

bool SObjectDB::DeleteAttrib(int code, const SString& object) {
    if (!_OpenForWrite()) return false;
    GetAttrib(code, object).ForEach(
        [&](const SString& value) { _DeleteIndexEntry(code, object, value); });
    return attribs.Delete(AttribKey(object, code));
}

bool SObjectDB::Create(const SString& object, int type) {
    return SetAttrib(0, object, SStringList(SString(static_cast<char>(type), 1)), 0);
}

bool SObjectDB::Delete(const SString& object) {
    ListAttribs(object).ForEach(
        [&](const SString& code) { DeleteAttrib(code[0], object); });
    return DeleteAttrib(0, object);
}

SStringList SObjectDB::ListAttribs(const SString& object) {
    SStringList codes;
    if (!_ReadLock()) return codes;
    SString prefix = object + Zero();
    SString key = prefix;
    for (SString value = attribs.SeqFirst(key); value.Defined() && key.HasPrefix(prefix);
         value = attribs.SeqNext(key)) {
        if (key.Length() > prefix.Length() && key[prefix.Length()] != 0)
            codes.Push(key.Segment(prefix.Length(), 1));
    }
    _ReadUnlock();
    return codes;
}

// ---- the index -------------------------------------------------------------------------

bool SObjectDB::_AddIndexEntry(int code, const SString& object, const SString& value) {
    SString canonical = _CanonicalizeValue(code, value);
    if (canonical.Length() == 0) return true;
    return index.Set(_IndexKey(code, canonical, object), SString(""));
}

bool SObjectDB::_DeleteIndexEntry(int code, const SString& object, const SString& value) {
    SString canonical = _CanonicalizeValue(code, value);
    if (canonical.Length() == 0) return true;
    return index.Delete(_IndexKey(code, canonical, object));
}

bool SObjectDB::_OnlyOwner(int code, const SString& object, const SStringList& values) {
    bool only = true;
    values.ForEach([&](const SString& value) {
        if (!only) return;
        SStringList owners = ListByAttrib(code, value);
        if (owners.Count() >= 2 || (owners.Count() == 1 && owners.Get(0) != object))
            only = false;
    });
    return only;
}

// Values kept keep their index records; dropped ones lose theirs unless a kept or new
// value has the same canonical form (the record is shared); new ones gain one.
bool SObjectDB::_UpdateAttribIndex(int code, const SString& object, const SStringList& values) {
    if (_Flags(code) == 0) return true;
    SStringList current = GetAttrib(code, object);
    if ((_Flags(code) & AttribUnique) && !_OnlyOwner(code, object, values)) return false;
    SStringList added = values;
    SStringList wanted;
    values.ForEach([&](const SString& value) { wanted.Push(_CanonicalizeValue(code, value)); });
    current.ForEach([&](const SString& value) {
        int kept = added.Index(value);
        if (kept >= 0)
            added.Delete(kept);
        else if (!wanted.Contains(_CanonicalizeValue(code, value)))
            _DeleteIndexEntry(code, object, value);
    });
    bool ok = true;
    added.ForEach([&](const SString& value) { ok = ok && _AddIndexEntry(code, object, value); });
    return ok;
}

SStringList SObjectDB::ListByAttrib(int code, const SString& value) {
    SStringList objects;
    SString prefix = _Prefix(code, value);
    if (prefix.Length() == 0 || !_ReadLock()) return objects;
    bool domain = (_Flags(code) & AttribDomain) != 0;
    int skip = prefix.Length();
    _WalkIndex(prefix, [&](const SString& key) {
        int start = domain ? key.Index('\0', skip) + 1 : skip;
        if (start > 0) objects.Push(key.Segment(start, key.Length() - start));
    });
    _ReadUnlock();
    if (domain) {
        objects.Sort();
        objects.Unique();
    }
    return objects;
}

SStringList SObjectDB::ListByType(int type) {
    return ListByAttrib(0, SString(static_cast<char>(type), 1));
}

int SObjectDB::CountByAttrib(int code, const SString& value) {
    if (_Flags(code) & AttribDomain) return ListByAttrib(code, value).Count();
    SString prefix = _Prefix(code, value);
    if (prefix.Length() == 0 || !_ReadLock()) return 0;
    int count = 0;
    _WalkIndex(prefix, [&count](const SString&) { ++count; });
    _ReadUnlock();
    return count;
}

int SObjectDB::CountByType(int type) {
    return CountByAttrib(0, SString(static_cast<char>(type), 1));
}

SStringList SObjectDB::ListValues(int code) {
    SStringList values;
    if (!_ReadLock()) return values;
    SString last;
    bool any = false;
    _WalkIndex(CodeByte(code), [&](const SString& key) {
        int limit = std::min(key.Length() - 1, 10000);
        int zero = key.Index('\0', 1);
        int length = (zero >= 1 && zero - 1 <= limit) ? zero - 1 : limit;
        SString value = key.Segment(1, length);
        if (any && value == last) return;
        values.Push(value);
        last = value;
        any = true;
    });
    _ReadUnlock();
    return values;
}

int SObjectDB::CountValues(int code) { return ListValues(code).Count(); }
