// Named maps on STable: SNamedStringList (name -> SStringList), SNamedValue
// (name -> integer), the array map SIndexString (integer -> SString), and the small
// identifier classes SPopName, SGroupName and SAccountName.
//
// SNamedStringList is the in-memory form of every control file, header file and
// field record.  Its text form, the field format, is one "name value" line per value
// (continuation lines begin with a space or tab); operator<< writes it and
// operator>> reads it.  Reading never fails: malformed text is parsed by the same
// rules.
#ifndef QUILLBOX_SNAMEDLISTS_H
#define QUILLBOX_SNAMEDLISTS_H

#include <cstdint>

#include "SString.h"
#include "SStringList.h"
#include "STable.h"

class SNamedListItem : public STableItem {
public:
    SStringList value;
};

class SNamedValueItem : public STableItem {
public:
    int32_t value = 0;
};

class SStrItem : public STableItem {
public:
    SString value;
};

// Base of the named maps: the case flag (handed to the table as its exact flag) and
// the table.
class SNLists {
public:
    explicit SNLists(unsigned exact = 1);
    virtual ~SNLists();
    virtual SStringList Keys() const = 0;
    virtual void Delete(const SString& name);
    virtual void Reset();

protected:
    unsigned caseFlag;
    STable table;
};

class SNamedStringList : public SNLists {
public:
    // exact: non-zero for exact names, zero for case-blind ones.
    // crlf: non-zero when lines of the text form end with CR LF, zero for LF alone.
    explicit SNamedStringList(unsigned exact = 1, unsigned crlf = 0);
    SNamedStringList(const SNamedStringList& other);
    SNamedStringList& operator=(const SNamedStringList& other);
    ~SNamedStringList() override;

    SStringList& operator[](const SString& name);
    virtual SStringList Get(const SString& name) const;
    SStringList Keys() const override;
    SNamedStringList& operator+=(const SNamedStringList& other);

    // Visits every name whose list is defined, with its list, in insertion order.
    template <typename F>
    void ForEachField(F&& visit) const {
        for (STableItem* item = table.First(); item; item = table.Next(item)) {
            const SStringList& values = static_cast<SNamedListItem*>(item)->value;
            if (values.Defined()) visit(item->key, values);
        }
    }

    unsigned LineEnd() const { return crlf; }
    unsigned CaseFlag() const { return caseFlag; }
    // The line separator of the text form: "\r\n" or "\n".
    const char* Separator() const { return crlf ? "\r\n" : "\n"; }

private:
    void _CopyFrom(const SNamedStringList& other);

    unsigned crlf;
};

// Appends the field text of `fields` to `text`.
SString& operator<<(SString& text, const SNamedStringList& fields);
// Replaces the contents of `fields` with the fields parsed from `text`.
const SString& operator>>(const SString& text, SNamedStringList& fields);

class SNamedValue : public SNLists {
public:
    explicit SNamedValue(unsigned exact = 1);
    SNamedValue(const SNamedValue& other);
    SNamedValue& operator=(const SNamedValue& other);
    ~SNamedValue() override;

    int32_t& operator[](const SString& name);
    int32_t Get(const SString& name) const;  // -1 when absent
    SStringList Keys() const override;

private:
    void _CopyFrom(const SNamedValue& other);
};

class SIndexString {
public:
    SIndexString();
    SIndexString(const SIndexString& other);
    SIndexString& operator=(const SIndexString& other);
    ~SIndexString();

    SString& operator[](const int& key);
    SString Get(const int& key) const;
    // Number of keys whose strings are non-empty; with `out`, a new array (freed by the
    // caller with delete[]) holding those keys in entry order.
    int Keys(int** out) const;
    void Delete(const int& key);

private:
    struct Entry {
        int key;
        SString value;
    };
    int _Find(int key) const;

    int32_t used;
    int32_t spare;
    Entry* entries;
};

// Distinct types for the kinds of names the directory database overloads on.
class SPopName {
public:
    SPopName() = default;
    explicit SPopName(const SString& s) : name(s) {}
    virtual SString Get() const { return name; }
    virtual void Set(const SString& s) { name = s; }
    virtual ~SPopName() = default;

private:
    SString name;
};

class SGroupName {
public:
    SGroupName() = default;
    explicit SGroupName(const SString& s) : name(s) {}
    virtual SString Get() const { return name; }
    virtual void Set(const SString& s) { name = s; }
    virtual ~SGroupName() = default;

private:
    SString name;
};

class SAccountName {
public:
    SAccountName() = default;
    explicit SAccountName(const SString& s) : name(s) {}
    virtual SString Get() const { return name; }
    virtual void Set(const SString& s) { name = s; }
    virtual ~SAccountName() = default;

private:
    SString name;
};

#endif
