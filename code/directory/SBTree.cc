// SBTree: a byte-string map in one Berkeley DB B-tree file (2 MB cache, 16 KB pages).
//
// The object database keeps its attribute and index files here.  The file is opened
// on first use: read-only, or read-write under an exclusive whole-file lock while
// write-locked (LockWrite).  Outside any lock each read first checks that the cache
// still matches the file, since another process may have rewritten it meanwhile.
#include "SBTree.h"

#include <fcntl.h>

#include "SdbHandle.h"
#include "Sprocess.h"

SBTree::SBTree(const SString& file, int)
    : handle(new SdbHandle), writeDepth(0), filename(file) {}

SBTree::~SBTree() {
    Close();
    delete handle;
}

SString SBTree::_Path() const {
    if (filename[0] == '/') return filename;
    return GetEnv("Quillbox") + "/config/" + filename;
}

bool SBTree::Open() {
    if (handle->IsOpen()) return true;
    if (filename.Length() == 0) return false;
    int flags = writeDepth > 0 ? (O_RDWR | O_CREAT | DbLockFlag) : O_RDONLY;
    return handle->Open(_Path(), flags, 0666, SdbType::BTree);
}

void SBTree::Close() { handle->Close(); }

void SBTree::SetFilename(const SString& file) {
    Close();
    filename = file;
}

// Open, and (outside every lock of this tree) bring the cache up to date.  Under
// LockRead that was done when the lock was granted; under LockWrite this handle is
// the only writer and its unflushed pages must not be thrown away.
bool SBTree::_Ready() {
    if (!Open()) return false;
    if (writeDepth > 0 || handle->ReadHolds() > 0) return true;
    return handle->Refresh();
}

SString SBTree::Get(const SString& key) {
    SString value;
    if (!_Ready() || handle->Get(key, value) != 0) return SString();
    return value;
}

bool SBTree::Set(const SString& key, const SString& value) {
    return _Ready() && handle->Put(key, value) == 0;
}

bool SBTree::Delete(const SString& key) { return _Ready() && handle->Del(key) == 0; }

SString SBTree::SeqFirst(SString& key) {
    SString found = key, value;
    if (!_Ready() || handle->Seq(found, value, true) != 0) return SString();
    key = found;
    return value;
}

// No freshness check here: reopening would lose the cursor's place.
SString SBTree::SeqNext(SString& key) {
    SString found = key, value;
    if (!Open() || handle->Seq(found, value, false) != 0) return SString();
    key = found;
    return value;
}

int SBTree::LockRead() {
    if (writeDepth > 0) return writeDepth;
    if (!Open() || !handle->LockShared()) return -1;
    return handle->Fd();
}

void SBTree::UnlockRead() {
    if (writeDepth > 0) return;
    handle->Unlock(false);
}

int SBTree::LockWrite() {
    if (writeDepth == 0) Close();
    return ++writeDepth;
}

int SBTree::UnlockWrite() {
    if (writeDepth > 0 && --writeDepth == 0) Close();
    return writeDepth;
}
