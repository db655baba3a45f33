// SBTree: a flat byte-string map in one Berkeley DB B-tree file, with a cursor.
//
// The object database (SObjectDB) keeps its attribute and index files in SBTrees.  A
// relative file name lies in "$Quillbox/config/".  Files are shared between processes
// under whole-file locks taken by the store layer (see Sdbfile.h for how): readers
// bracket a series of reads with LockRead/UnlockRead, writers their updates with
// LockWrite/UnlockWrite, during which the file stays open read-write and exclusively
// locked.  Outside a write lock the file is opened read-only, so Set and Delete fail.
// Nothing throws; failures are false results or undefined strings.
#ifndef QUILLBOX_SBTREE_H
#define QUILLBOX_SBTREE_H

#include "SString.h"

class SdbHandle;

class SBTree {
public:
    // A relative file name lies in GetEnv("Quillbox") + "/config/".  Nothing is
    // opened here; the flags are not used.
    explicit SBTree(const SString& file = SString(), int flags = 0);
    ~SBTree();
    SBTree(const SBTree&) = delete;
    SBTree& operator=(const SBTree&) = delete;

    // Opens read-only, or read-write with an exclusive whole-file lock (creating the
    // file) while write-locked.  True when already open.
    bool Open();
    void Close();
    // Closes and takes a new file name.
    void SetFilename(const SString& file);
    const SString& GetFilename() const { return filename; }

    // The stored value (defined, possibly empty); undefined when missing or on failure.
    SString Get(const SString& key);
    bool Set(const SString& key, const SString& value);
    bool Delete(const SString& key);
    // Cursor: the first record whose key is not less than `key`, then the next ones in
    // key order.  A found record replaces `key` and returns its value as a defined
    // string; at the end the result is undefined and `key` is left alone.
    SString SeqFirst(SString& key);
    SString SeqNext(SString& key);

    // Shared lock for a series of reads: the descriptor, or -1 (no-op returning the
    // depth while write-locked).  Nested LockRead/UnlockRead pairs count.
    int LockRead();
    void UnlockRead();
    // Write lock nesting: the outermost LockWrite closes the file so the next access
    // reopens it read-write under an exclusive whole-file lock; the outermost
    // UnlockWrite flushes and closes it.  Both return the new depth.
    int LockWrite();
    int UnlockWrite();
    int WriteDepth() const { return writeDepth; }

private:
    bool _Ready();
    SString _Path() const;

    SdbHandle* handle;
    int writeDepth;
    SString filename;
};

#endif
