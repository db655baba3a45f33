// Sdbfile: the keyed configuration store, a tree of keys and list values laid out as
// records of one Berkeley DB hash file.
//
// Within key path P (always "/"-terminated) the file holds P+name for each value,
// P NUL "Keys" for the sub-key names and P NUL "Values" for the value names; every
// record is a packed list (text or binary encoding).  Packed data of 1024 bytes or
// more is stored as a head "X<count><base>" and chunks "<base>.<i>".  Records from a
// damaged or hostile file decode to undefined lists or shortened ones, never more.
#include "Sdbfile.h"

#include <fcntl.h>

#include <climits>
#include <cstring>
#include <ctime>

#include "SdbHandle.h"
#include "Sfiledir.h"
#include "Sprocess.h"

namespace {

constexpr int ChunkSize = 1024;

const SString& KeysName() {
    static const SString name("\0Keys", 5);
    return name;
}

const SString& ValuesName() {
    static const SString name("\0Values", 7);
    return name;
}

bool HasSlash(const SString& s) { return s.Index('/') >= 0 || s.Index('\\') >= 0; }

// Reads decimal digits at p[at..n), saturating at `cap`.  False when there are none.
bool ReadDecimal(const char* p, int n, int& at, long long cap, long long& value) {
    int start = at;
    value = 0;
    while (at < n && p[at] >= '0' && p[at] <= '9') {
        int digit = p[at] - '0';
        value = value > (cap - digit) / 10 ? cap : value * 10 + digit;
        ++at;
    }
    return at > start;
}

SString ChunkName(const SString& base, int i) { return base + "." + SString(i); }

// The last slash-separated component ("" when the name ends in a slash).
SString LastComponent(const SString& name) {
    int slash = name.RIndex('/');
    return name.Segment(slash + 1, name.Length() - slash - 1);
}

SString FirstComponent(const SString& path) {
    SStringList parts = path.SplitExact("/");
    SString first;
    parts.ForEach([&first](const SString& part) {
        if (first.Length() == 0 && part.Length() > 0) first = part;
    });
    return first;
}

}  // namespace

// ---- construction --------------------------------------------------------------------

Sdbfile::Sdbfile(const SString& dir, const SString& file, int mode)
    : handle(new SdbHandle), openMode(0), lockDepth(0), lockForWriting(0), currentKey("/") {
    _Setup(dir, file, mode);
}

Sdbfile::Sdbfile(const SString& name, int mode, const SString& envKey)
    : handle(new SdbHandle), openMode(0), lockDepth(0), lockForWriting(0), currentKey("/") {
    if (envKey.Length() == 0 || HasSlash(envKey)) return;
    SString trimmed = name[0] == '/' ? name.Segment(1, name.Length() - 1) : name;
    _Setup(GetEnv(envKey) + "/config", LastComponent(trimmed), mode);
}

Sdbfile::~Sdbfile() {
    CloseDB();
    delete handle;
}

void Sdbfile::_Setup(const SString& dir, const SString& file, int mode) {
    if (dir.Length() == 0 || file.Length() == 0 || HasSlash(file)) return;
    directory = dir;
    filename = file;
    if (IsDirectory(dir) && IsReadable(dir) && IsWriteable(dir)) Open("/", mode);
}

bool Sdbfile::IsOpen() const { return handle->IsOpen(); }

// ---- opening and keys ----------------------------------------------------------------

bool Sdbfile::Open(const SString& path, int mode) {
    if (path.Length() == 0) return false;
    if (!handle->IsOpen() || (mode != openMode && lockDepth == 0)) {
        if (!_Reopen(path, mode)) return false;
        if (path == "/") {
            currentKey = "/";
            return true;
        }
    }
    SString key = path;
    if (key[-1] != '/') key += "/";
    currentKey = key[0] == '/' ? key : currentKey + key;
    if (Keys().Defined()) return true;
    if (!(mode & 1)) return false;
    return _CreateChain();
}

bool Sdbfile::_Reopen(const SString& path, int mode) {
    CloseDB();
    openMode = mode;
    if (filename.Length() == 0) {
        if (path == "/") return false;
        filename = FirstComponent(path);
    }
    // Never a file relative to the file system root or the working directory.
    if (filename.Length() == 0 || directory.Length() == 0) return false;
    bool write = (mode & 1) || (lockDepth > 0 && lockForWriting);
    int flags = write ? (O_RDWR | O_CREAT) : O_RDONLY;
    if (lockDepth > 0) flags |= DbLockFlag;
    if (!handle->Open(directory + "/" + filename, flags, 0660, SdbType::Hash)) return false;
    if (write) handle->Sync();
    return true;
}

void Sdbfile::CloseDB() {
    if (!handle->IsOpen()) return;
    handle->Sync();
    handle->Close();
    lockDepth = 0;
}

// Lists every key of the current path in its parent and gives each a value-name and a
// sub-key record, all under one exclusive lock so concurrent creators lose nothing.
bool Sdbfile::_CreateChain() {
    SString target = currentKey;
    SStringList parts = target.SplitExact("/");
    parts.Pop();  // the empty part after the final "/"
    if (!_LockOp(true)) return false;
    SString walk;
    bool ok = true;
    for (int i = 0; ok && i < parts.Count(); ++i) {
        walk += parts.Get(i) + "/";
        currentKey = walk;
        SStringList keys = Keys();
        SString next = i + 1 < parts.Count() ? parts.Get(i + 1) : SString("");
        if (keys.Contains(next)) continue;
        if (!keys.Defined()) ok = Set(ValuesName(), SStringList());
        keys.Push(next);
        ok = ok && Set(KeysName(), keys);
    }
    _UnlockOp(true);
    currentKey = target;
    return ok;
}

// ---- per-operation locks -------------------------------------------------------------

// Inside Lock the whole-file lock is already held; the cache is still checked so that
// another handle of this process that wrote the file is seen.
bool Sdbfile::_LockOp(bool write) {
    if (lockDepth > 0) return handle->Refresh();
    return write ? handle->LockExclusive() : handle->LockShared();
}

void Sdbfile::_UnlockOp(bool write) {
    if (lockDepth == 0) handle->Unlock(write);
}

bool Sdbfile::Lock(int mode) {
    if (lockDepth == 0) {
        CloseDB();
        lockForWriting = 0;
    }
    if (mode & 1) lockForWriting = 1;
    lockDepth++;
    return true;
}

bool Sdbfile::Unlock() {
    if (lockDepth > 0 && --lockDepth == 0) CloseDB();
    return true;
}

// ---- values --------------------------------------------------------------------------

SStringList Sdbfile::Get(const SString& name) {
    if (name.Length() == 0 || handle->Fd() < 0) return SStringList();
    if (!_LockOp(false)) return SStringList();
    SStringList list = _ReadList(name);
    _UnlockOp(false);
    return list;
}

// Decodes straight from the library's buffer unless the record is a chunk head.
SStringList Sdbfile::_ReadList(const SString& name) {
    const char* bytes = nullptr;
    int size = 0;
    if (handle->GetView(currentKey, name, bytes, size) != 0) return SStringList();
    if (size > 0 && bytes[0] == 'X') {
        SString data;
        return _ReadRecord(name, data) ? _Decode(data) : SStringList();
    }
    SFixedString view(bytes, size);
    return _Decode(SString(view));
}

SStringList Sdbfile::Values() { return Get(ValuesName()); }
SStringList Sdbfile::Keys() { return Get(KeysName()); }

// The value names are read under the same exclusive lock as the write, so two
// processes adding different names at once both end up listed.  Setting again the
// small value this object set last skips both lookups (see _KnownPlain).
bool Sdbfile::Set(const SString& name, const SStringList& list) {
    if (name.Length() == 0 || !handle->IsOpen() || handle->Fd() < 0) return false;
    if (!_LockOp(true)) return false;
    SString data = _Encode(list);
    bool small = data.Length() < ChunkSize;
    bool ordinary = name != KeysName() && name != ValuesName();
    bool ok;
    if (small && _KnownPlain(name)) {
        ok = handle->Put(_Key(name), data) == 0;
    } else {
        SStringList names;
        bool writeNames = ordinary && _NeedsListing(name, names);
        ok = _WriteRecord(_Key(name), data);
        if (ok && writeNames) ok = _WriteRecord(_Key(ValuesName()), _Encode(names));
    }
    ok = handle->Sync() == 0 && ok;
    _Remember(ok && small && ordinary ? name : SString());
    _UnlockOp(true);
    return ok;
}

// True when the last change of the file was this object's Set of `name` under the
// current key, with a small value: the name is then listed and its record holds no
// chunk head.  Any change by another handle, in this process or another, makes the
// handle reopen its cache first (Refresh), and every other change by this object goes
// through _WriteRecord, _DeleteChunks or _Delete, which forget the name.
bool Sdbfile::_KnownPlain(const SString& name) const {
    return plainOpens != 0 && plainOpens == handle->Opens() && plainName == name &&
           plainKey == currentKey;
}

void Sdbfile::_Remember(const SString& name) {
    plainOpens = name.Length() > 0 ? handle->Opens() : 0;
    plainName = name;
    plainKey = currentKey;
}

// Whether `name` is still to be listed among the current key's value names; then
// `names` is the new list.  Looked up in the library's buffer unless the list is chunked.
bool Sdbfile::_NeedsListing(const SString& name, SStringList& names) {
    const char* bytes = nullptr;
    int size = 0;
    bool found = handle->GetView(currentKey, ValuesName(), bytes, size) == 0;
    if (found && size > 0 && bytes[0] == 'X') {
        SString packed;
        if (!_ReadRecord(ValuesName(), packed)) packed = SString();
        return _AddName(packed, name, names);
    }
    SFixedString view(found ? bytes : "", found ? size : 0);
    return _AddName(found ? SString(view) : SString(), name, names);
}

bool Sdbfile::_AddName(const SString& packed, const SString& name, SStringList& names) {
    if (_PackedHas(packed, name)) return false;
    names = _Decode(packed);
    names.Push(name);
    return true;
}

bool Sdbfile::DeleteValue(const SString& name) {
    if (!_LockOp(true)) return false;
    SStringList names = Values();
    bool ok = names.Contains(name);
    if (ok) {
        names.Delete(name);
        ok = Set(ValuesName(), names) && _Delete(_Key(name));
    }
    _UnlockOp(true);
    return ok;
}

bool Sdbfile::DeleteKey(const SString& name) {
    if (name.Length() == 0 || !_LockOp(true)) return false;
    SStringList keys = Keys();
    if (!keys.Contains(name)) {
        _UnlockOp(true);
        return false;
    }
    SString parent = currentKey;
    currentKey = parent + name + "/";
    SStringList values = Values();
    values.ForEach([this](const SString& value) { DeleteValue(value); });
    bool ok = Keys().Count() == 0 && _Delete(_Key(KeysName())) && _Delete(_Key(ValuesName()));
    currentKey = parent;
    if (ok) {
        keys.Delete(name);
        // A key without sub-keys keeps the one-empty-name list, so it still exists and
        // a later sub-key does not reset its value names.
        ok = Set(KeysName(), keys.Count() > 0 ? keys : SStringList(""));
    }
    _UnlockOp(true);
    return ok;
}

bool Sdbfile::RecursiveDeleteKey(const SString& parentPath, const SString& name) {
    if (name.Length() == 0 || parentPath.Length() == 0) return false;
    // Work on absolute paths: every Open below moves the current key.
    SString parent = parentPath[0] == '/' ? parentPath : currentKey + parentPath;
    while (parent.Length() > 1 && parent[-1] == '/') parent.Chop();
    SString path = parent.Length() == 1 ? parent + name : parent + "/" + name;
    if (!Open(path, 1)) return false;
    SString here = path;
    bool ok = true;
    SStringList values = Values();
    values.ForEach([&](const SString& value) { ok = ok && DeleteValue(value); });
    SStringList keys = Keys();
    keys.ForEach([&](const SString& key) { ok = ok && RecursiveDeleteKey(here, key); });
    return ok && Open(parent, 1) && DeleteKey(name);
}

// ---- records and chunks --------------------------------------------------------------

// A head is "X", the chunk count in decimal, then the chunks' base name.
void Sdbfile::_ParseHead(const SString& head, SString& base, int& count) {
    int at = 1;
    long long n = 0;
    ReadDecimal(head.Chars(), head.Length(), at, INT_MAX, n);
    count = static_cast<int>(n);
    base = head.Segment(at, head.Length() - at);
}

bool Sdbfile::_ReadHead(const SString& key, SString& base, int& count) {
    static const SString nothing("");
    const char* bytes = nullptr;
    int size = 0;
    if (handle->GetView(key, nothing, bytes, size) != 0 || size == 0 || bytes[0] != 'X')
        return false;
    _ParseHead(SString(bytes, size), base, count);
    return true;
}

// The record's data with its chunks joined; a missing chunk ends the joining.
bool Sdbfile::_ReadRecord(const SString& name, SString& data) {
    if (handle->Get(currentKey, name, data) != 0) return false;
    if (data.Length() == 0 || data[0] != 'X') return true;
    SString base;
    int count = 0;
    _ParseHead(data, base, count);
    SString joined("");
    for (int i = 1; i <= count; ++i) {
        SString chunk;
        if (handle->Get(ChunkName(base, i), chunk) != 0) break;
        joined += chunk;
    }
    data = joined;
    return true;
}

SString Sdbfile::_NewChunkBase() {
    static int counter = 0;
    SString base = SString("\0Ovflw/", 7) + ProcessIdString() + "." +
                   SString(static_cast<long>(std::time(nullptr))) + "." + SString(counter);
    ++counter;
    return base;
}

bool Sdbfile::_WriteRecord(const SString& key, const SString& data) {
    plainOpens = 0;
    SString base;
    int oldCount = 0;
    bool hadHead = _ReadHead(key, base, oldCount);
    if (data.Length() < ChunkSize) {
        if (handle->Put(key, data) != 0) return false;
        // No reader reaches chunks without a head; they would only take space.
        if (hadHead) _DeleteChunks(base, 1, oldCount);
        return true;
    }
    if (!hadHead) base = _NewChunkBase();
    int count = (data.Length() + ChunkSize - 1) / ChunkSize;
    if (handle->Put(key, SString("X") + SString(count) + base) != 0) return false;
    for (int i = 1; i <= count; ++i) {
        if (handle->Put(ChunkName(base, i), data.Segment((i - 1) * ChunkSize, ChunkSize)) != 0)
            return false;
    }
    if (hadHead) _DeleteChunks(base, count + 1, oldCount);
    return true;
}

// Stops at the first chunk that cannot be deleted, so an absurd count ends at once.
void Sdbfile::_DeleteChunks(const SString& base, int from, int to) {
    plainOpens = 0;
    for (int i = from; i <= to; ++i) {
        if (handle->Del(ChunkName(base, i)) != 0) return;
    }
}

bool Sdbfile::_Delete(const SString& key) {
    if (!handle->IsOpen() || handle->Fd() < 0) return false;
    if (!_LockOp(true)) return false;
    plainOpens = 0;
    SString base;
    int count = 0;
    if (_ReadHead(key, base, count)) _DeleteChunks(base, 1, count);
    if (handle->Del(key) != 0) {
        _UnlockOp(true);
        return false;
    }
    bool synced = handle->Sync() == 0;
    _UnlockOp(true);
    return synced;
}

// ---- packed lists --------------------------------------------------------------------

SString Sdbfile::_PackText(const SStringList& list) {
    SString out("");
    list.ForEach([&out](const SString& item) {
        out += SString("", 1);
        out += item;
    });
    return out;
}

SString Sdbfile::_Pack(const SStringList& list) {
    SString zero("", 1);
    SString out = SString(list.Count()) + zero;
    list.ForEach([&](const SString& item) {
        out += SString(item.Length());
        out += zero;
        out += item;
    });
    return out;
}

// Whether the decoded list would contain `name`, without decoding a text-encoded list:
// there every element follows a zero byte and holds none, so a whole element equal to
// a non-empty name is the zero byte and the name, then a zero byte or the end.
bool Sdbfile::_PackedHas(const SString& data, const SString& name) {
    if (data.Length() == 0 || data[0] != 0 || name.Length() == 0 || name.Index('\0') >= 0)
        return _Decode(data).Contains(name);
    SString zero("", 1);
    SString element = zero + name;
    if (data.Length() >= element.Length() &&
        std::memcmp(data.Chars() + data.Length() - element.Length(), element.Chars(),
                    element.Length()) == 0)
        return true;  // the last element
    return data.Index(element + zero) >= 0;
}

SString Sdbfile::_Encode(const SStringList& list) {
    SString text = _PackText(list);
    return text.Count('\0') == list.Count() ? text : _Pack(list);
}

SStringList Sdbfile::_Decode(const SString& data) {
    if (data.Length() == 0) return SStringList();
    return data[0] == 0 ? _UnpackText(data) : _Unpack(data);
}

SStringList Sdbfile::_UnpackText(const SString& data) {
    SStringList out;
    out.Reset();
    const char* p = data.Chars();
    int start = 1, end = data.Length();
    while (end > start && p[end - 1] == 0) --end;
    for (int at = start; at < end;) {
        const void* zero = std::memchr(p + at, 0, end - at);
        int stop = zero ? static_cast<int>(static_cast<const char*>(zero) - p) : end;
        out.Push(SString(p + at, stop - at));
        if (!zero) break;
        at = stop + 1;  // never `end`: the data no longer ends in a zero byte
    }
    return out;
}

SStringList Sdbfile::_Unpack(const SString& data) {
    const char* p = data.Chars();
    int n = data.Length(), at = 0;
    long long count = 0;
    if (!ReadDecimal(p, n, at, LLONG_MAX, count) || at >= n || p[at] != 0)
        return SStringList();
    ++at;
    SStringList out;
    out.Reset();
    // Every element takes at least its separator byte, so the loop ends with the data.
    for (long long i = 0; i < count; ++i) {
        long long length = 0;
        ReadDecimal(p, n, at, INT_MAX, length);
        if (at >= n) break;
        ++at;
        if (length > n - at) break;
        out.Push(SString(p + at, static_cast<int>(length)));
        at += static_cast<int>(length);
    }
    return out;
}
