// Sdbfile: the keyed configuration store of the directory database, a Berkeley DB
// hash file in "$Quillbox/config/" ("MTA-Accounts", "List-Manager", ...).
//
// A registry-like tree of keys in one file: keys hold sub-keys and named values, every
// value a list of strings.  Configuration readers, the alias tables and the list
// switches use it; SBTree (SBTree.h) is its B-tree sibling.  Each object keeps one
// database handle, opened lazily.  Nothing throws: failures are false results,
// undefined lists or strings.  Objects are not copyable; the destructor closes.
//
// Locking.  Processes share the files under whole-file locks.  Outside a Lock, each
// Sdbfile Get holds a shared lock and each Set or delete an exclusive one (with its
// sync) for that call only; Lock(mode) ... Unlock() keeps one whole-file lock from the
// next Open to the final close, making a read-modify-write sequence atomic.  SBTree
// readers bracket reads with LockRead/UnlockRead, writers with LockWrite/UnlockWrite.
// The stock database library ignores its whole-file lock flag and opens and closes
// descriptors of its own on the file while opening, which would silently drop a
// classic fcntl lock (those belong to the process and die with any descriptor of the
// file).  So the store layer opens the file itself and takes an open-file-description
// lock (F_OFD_SETLKW) on that descriptor before the library reads the header; only
// closing that descriptor releases it.  All handles of one process on one file share
// one such lock with counts of their readers and writers, so two handles neither drop
// nor block each other.
//
// Freshness.  Each handle caches pages privately and reopens its cache when another
// handle, in any process, changed the file since it last looked.  To tell, every file
// in use has a change counter in shared memory: a tiny object in /dev/shm named
// "quillbox-db-<device>-<inode>" after the file, with the file's group and permission
// bits, removed by the last process that lets go of it.  Writers bump it under their
// exclusive lock before changing anything and again after their sync, so a lock that
// finds the count as last seen costs no system call beyond the lock itself.  Where no
// counter can be had (no /dev/shm, a process that may only read the file and finds
// none) the file's size and modification time are compared instead, and the protocol
// keeps that exact too (see SdbHandle.cc).  Every process sharing a file must
// therefore see the same /dev/shm: containers sharing the database directory must
// share it as well, files must not be shared between hosts over a network file
// system, and the objects must not be removed by hand while the database is in use.
// (An SBTree write session does not sync each write: other handles, even in this
// process, see it after UnlockWrite.)
// Two processes that both hold a shared lock and then both ask for the exclusive one
// wait for each other for ever; take the write lock first when a write may follow.
#ifndef QUILLBOX_SDBFILE_H
#define QUILLBOX_SDBFILE_H

#include "SString.h"
#include "SStringList.h"

class SdbHandle;

class Sdbfile {
public:
    // Store `file` in `directory`.  Both must be non-empty and the file name must hold
    // no slash or backslash, else the store stays closed.  When the directory exists
    // and the process may read and write it, the root key is opened with `mode`.
    Sdbfile(const SString& directory, const SString& file, int mode);
    // Store named `name` (its last slash-separated component) in GetEnv(envKey) +
    // "/config".  An empty environment key, or one holding a slash or backslash,
    // leaves the store closed.
    explicit Sdbfile(const SString& name = "MTA-Accounts", int mode = 0,
                     const SString& envKey = "Quillbox");
    ~Sdbfile();
    Sdbfile(const Sdbfile&) = delete;
    Sdbfile& operator=(const Sdbfile&) = delete;

    // Selects the current key.  A path beginning with "/" is absolute, any other is
    // relative to the current key.  Bit 0 of mode asks for writing: the file is then
    // created when missing, and so is every key on the path.  Reading a key that does
    // not exist fails (and leaves the current key moved there).  Outside a Lock, a
    // mode different from the last open's reopens the file.
    bool Open(const SString& path, int mode);
    // Syncs and closes the file; the lock depth returns to 0.
    void CloseDB();

    // The value `name` of the current key; undefined when missing or closed.
    SStringList Get(const SString& name);
    // Stores the value and lists `name` among the current key's value names.  Values
    // of 1024 bytes or more (packed) are split into chunks.  Needs a write open.
    bool Set(const SString& name, const SStringList& list);
    // The names of the current key's values, and of its sub-keys.
    SStringList Values();
    SStringList Keys();
    bool DeleteValue(const SString& name);
    // Deletes the direct sub-key `name` (its values too); fails while it has sub-keys.
    // A key left without sub-keys keeps an empty (defined) sub-key list.
    bool DeleteKey(const SString& name);
    // Deletes key `name` under `parentPath` with everything below it.
    bool RecursiveDeleteKey(const SString& parentPath, const SString& name);

    // Lock nesting: the outermost Lock closes the file; the next Open reopens it under
    // a whole-file lock (exclusive when bit 0 of the outermost mode, or of any nested
    // mode given before that Open, is set), kept until the outermost Unlock closes it.
    // Both always return true.
    bool Lock(int mode);
    bool Unlock();

    // The current key's path ("/" for the root, always ending in "/").
    const SString& GetCurrentKey() const { return currentKey; }
    bool IsOpen() const;

    // Record encodings, exposed for tests and tools.  _Pack is the binary encoding
    // whatever the contents; _Unpack decodes it (undefined when the count is missing
    // or not followed by a zero byte; an element running past the end stops it).
    // _Encode picks the text encoding unless an element holds a zero byte; _Decode
    // reads either (zero bytes: undefined; first byte zero: text; else binary).
    static SString _Pack(const SStringList& list);
    static SStringList _Unpack(const SString& data);
    static SString _PackText(const SStringList& list);
    static SStringList _UnpackText(const SString& data);
    static SString _Encode(const SStringList& list);
    static SStringList _Decode(const SString& data);

private:
    void _Setup(const SString& dir, const SString& file, int mode);
    bool _Reopen(const SString& path, int mode);
    bool _CreateChain();
    SString _Key(const SString& name) const { return currentKey + name; }
    bool _ReadRecord(const SString& name, SString& data);
    SStringList _ReadList(const SString& name);
    static void _ParseHead(const SString& head, SString& base, int& count);
    static bool _PackedHas(const SString& data, const SString& name);
    bool _ReadHead(const SString& key, SString& base, int& count);
    bool _NeedsListing(const SString& name, SStringList& names);
    static bool _AddName(const SString& packed, const SString& name, SStringList& names);
    bool _KnownPlain(const SString& name) const;
    void _Remember(const SString& name);
    bool _WriteRecord(const SString& key, const SString& data);
    void _DeleteChunks(const SString& base, int from, int to);
    bool _Delete(const SString& key);
    bool _LockOp(bool write);
    void _UnlockOp(bool write);
    SString _NewChunkBase();

    SString directory;
    SString filename;
    SString spare;
    SdbHandle* handle;
    int openMode;
    int lockDepth;
    int lockForWriting;
    SString currentKey;
    // The value this object set last, while the handle's cache has not been reopened.
    SString plainKey;
    SString plainName;
    unsigned long plainOpens = 0;
};

#endif
