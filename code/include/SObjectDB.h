// SObjectDB: typed objects with numbered, multi-valued attributes and secondary
// indexes, kept in two B-tree files (base name + "a" for attributes, + "i" for the
// index).  The account database stands on it.
//
// Attribute record: key object NUL code-byte, data one NUL before each value.  Index
// record: key code-byte canonical-value NUL object, empty data.  The caller's flag
// table (one int per attribute code, owned by the caller, must outlive this object)
// says which attributes are indexed and how their values are canonicalised:
//   1 lower-case, 2 indexed, 4 mailbox form ("<a@b>" -> "a@b"), 8 with 4: take the
//   second blank-separated word first, 16 unique, 32 domain order (reversed, "."
//   appended; lookups match a domain and all its sub-domains).
// Readers take the attribute tree's read lock (the database-wide read lock) for each
// call; writers bracket their work with LockWrite/UnlockWrite, and SetAttrib and
// DeleteAttrib take no lock of their own (outside LockWrite they fail).  Under a write
// lock the attribute file is always locked before the index file, so two writers
// cannot deadlock; UnlockWrite releases the index first, so a reader that holds the
// read lock never sees an index that is still being flushed.
#ifndef QUILLBOX_SOBJECTDB_H
#define QUILLBOX_SOBJECTDB_H

#include "SBTree.h"
#include "SString.h"
#include "SStringList.h"

// Attribute flag bits.
constexpr int AttribLowerCase = 1;
constexpr int AttribIndexed = 2;
constexpr int AttribMailbox = 4;
constexpr int AttribSecondWord = 8;
constexpr int AttribUnique = 16;
constexpr int AttribDomain = 32;

class SObjectDB {
public:
    // `flagCount` is the number of entries in `flags`; codes at or beyond it (and all
    // codes when `flags` is null) are not indexed.  The mode has no effect.
    SObjectDB(const SString& baseName, int mode, const int* flags, int flagCount = 256);
    void Init(const SString& baseName, int mode, const int* flags, int flagCount = 256);
    SObjectDB(const SObjectDB&) = delete;
    SObjectDB& operator=(const SObjectDB&) = delete;

    // The type byte of the object (attribute 0); 0 when it has none.
    int GetType(const SString& object);
    // The values of one attribute; an undefined list when the object lacks it.
    SStringList GetAttrib(int code, const SString& object);
    // Stores the values (bit 0 of flags: leave the index alone).  Fails when a unique
    // attribute's value belongs to another object; the index is updated first.
    bool SetAttrib(int code, const SString& object, const SStringList& values, int flags = 0);
    bool DeleteAttrib(int code, const SString& object);
    bool Create(const SString& object, int type);
    // Removes every attribute of the object and every index record pointing at it.
    bool Delete(const SString& object);

    // Objects holding the value: in object order; for domain-order attributes every
    // object holding the domain or a sub-domain of it, sorted, without duplicates.
    SStringList ListByAttrib(int code, const SString& value);
    SStringList ListByType(int type);
    int CountByAttrib(int code, const SString& value);
    int CountByType(int type);
    // The distinct canonical values of an attribute present in the index, in order.
    SStringList ListValues(int code);
    int CountValues(int code);
    // The codes of the object's attributes except 0, one character each, ascending.
    SStringList ListAttribs(const SString& object);

    int LockWrite();
    int UnlockWrite();

    // The attribute record encoding, exposed for tests and tools.
    static SStringList _SplitValues(const SString& data);
    static SString _JoinValues(const SStringList& values);
    // The index form of a value of attribute `code` (empty: not indexed).
    SString _CanonicalizeValue(int code, const SString& value) const;

private:
    int _Flags(int code) const;
    bool _ReadLock();
    void _ReadUnlock();
    bool _OpenForWrite();
    SString _IndexKey(int code, const SString& canonical, const SString& object) const;
    SString _Prefix(int code, const SString& value) const;
    bool _AddIndexEntry(int code, const SString& object, const SString& value);
    bool _DeleteIndexEntry(int code, const SString& object, const SString& value);
    bool _UpdateAttribIndex(int code, const SString& object, const SStringList& values);
    bool _OnlyOwner(int code, const SString& object, const SStringList& values);
    template <typename Visit>
    void _WalkIndex(const SString& prefix, Visit&& visit);

    SBTree attribs;
    SBTree index;
    const int* flagTable;
    int flagCount;
};

#endif
